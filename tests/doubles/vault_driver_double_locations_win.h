#pragma once
// Where the vault-driver double keeps its state; the driver (driver/vault_driver_double_win.c)
// uses the same locations in their kernel spelling.
#include <cstddef>

namespace vault_double::detail {

// Holds the REG_BINARY value "Replies": entries [u8 kind][3 zero][i32 status][u32 n][n bytes].
inline constexpr const wchar_t* parameters_key =
    L"SYSTEM\\CurrentControlSet\\Services\\QlnVSROV\\Parameters";
inline constexpr const wchar_t* replies_value = L"Replies";
inline constexpr std::size_t entry_header_size = 12;

// Appended by the driver: records [u32 length][request bytes].
inline constexpr const wchar_t* requests_file = L"C:\\windows\\temp\\vault_double_requests.bin";

inline constexpr const wchar_t* driver_file_name = L"vault_driver_double.sys";

}  // namespace vault_double::detail
