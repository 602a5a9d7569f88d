#pragma once
// The vault driver frame: a 16-byte little-endian header (magic, reserved, status,
// payload length) followed by the payload, the same layout both ways. Platform-free:
// the sizes and the judgement of a reply frame, apart from the device call itself.
#include <cstdint>

#include "vault/vault_limits.h"

namespace driver_frame {
inline constexpr std::uint32_t magic = 0xCAFEBEEFu;
inline constexpr std::uint32_t header_size = 16;
inline constexpr std::uint32_t first_reply_capacity = 1024;
// The largest reply payload the channel makes room for: the same bound the reader puts
// on one length-delimited field. A driver asking for more is refused, so that a corrupt
// length cannot make the service allocate and clear gigabytes.
inline constexpr std::uint32_t largest_reply_capacity = vault_limits::largest_message_bytes;

// Bytes of the buffer that serves as input and output: max(request, capacity) + 16, or
// 0 when the capacity is above largest_reply_capacity or the sum does not fit 32 bits.
std::uint32_t buffer_size(std::uint32_t request_length, std::uint32_t reply_capacity) noexcept;

// Writes the request header (magic, zeros) into the first 16 bytes.
void write_request_header(std::uint8_t* frame) noexcept;

std::uint32_t read_u32(const std::uint8_t* bytes) noexcept;

struct reply_verdict {
    enum kind_type { accepted, grow, invalid, driver_failure } kind;
    // accepted: the payload length; grow: the capacity asked for; driver_failure: the
    // HRESULT (status OR 0x10000000).
    std::uint32_t value;
};

// Judges a reply of `returned` bytes to an output buffer of reply_capacity + 16 bytes:
// short or wrong magic: invalid; negative status: driver_failure; payload length that
// matches the returned count: accepted; a larger payload length than the capacity: grow;
// anything else (including a count above the output buffer): invalid.
reply_verdict judge_reply(const std::uint8_t* frame, std::uint32_t returned,
                          std::uint32_t reply_capacity) noexcept;
}  // namespace driver_frame
