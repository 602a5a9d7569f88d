#pragma once
// Status values of the vault driver channel, as 32-bit integers so that the encoder and
// decoder need no platform header. Negative is failure (HRESULT and NT status alike).
#include <cstdint>

namespace vault_status {
inline constexpr std::int32_t ok = 0;                                        // S_OK
inline constexpr std::int32_t fail = static_cast<std::int32_t>(0x80004005);  // E_FAIL
inline constexpr std::int32_t invalid_arg = static_cast<std::int32_t>(0x80070057);  // E_INVALIDARG
// STATUS_XML_PARSE_ERROR: what the reader's primitives return for malformed input.
inline constexpr std::int32_t nt_parse_error = static_cast<std::int32_t>(0xC000A083);
// The 0x10000000 bit turns an NT status into an HRESULT (HRESULT_FROM_NT).
inline constexpr std::uint32_t nt_facility_bit = 0x10000000u;
inline constexpr std::int32_t from_nt(std::uint32_t nt) noexcept {
    return static_cast<std::int32_t>(nt | nt_facility_bit);
}
// HRESULT_FROM_WIN32 of the error code of a failed platform call: a positive code e
// becomes 0x80070000 | (e & 0xFFFF), a negative one passes unchanged; 0, which would read
// as success, becomes E_FAIL.
inline constexpr std::int32_t from_win32_failure(std::uint32_t error) noexcept {
    if (error == 0) return fail;
    if (static_cast<std::int32_t>(error) < 0) return static_cast<std::int32_t>(error);
    return static_cast<std::int32_t>(0x80070000u | (error & 0xFFFFu));
}
inline constexpr std::int32_t parse_error = from_nt(static_cast<std::uint32_t>(nt_parse_error));  // 0xD000A083
inline constexpr std::int32_t insufficient_resources = from_nt(0xC000009Au);  // 0xD000009A
// HRESULT_FROM_WIN32(ERROR_TIMEOUT): the driver held a request past its time and past its
// cancel; the request was abandoned to it, and the driver is not waited on again.
inline constexpr std::uint32_t timeout_error = 1460u;  // ERROR_TIMEOUT
inline constexpr std::int32_t request_abandoned = from_win32_failure(timeout_error);  // 0x800705B4
}  // namespace vault_status
