#pragma once
// Sizes the vault driver channel never goes past. Platform-free.
#include <cstdint>

namespace vault_limits {
// 512 MiB: the longest length-delimited field the reader accepts and the largest reply
// payload the channel makes room for, so that a corrupt length read from the driver can
// make the service neither trust nor allocate and clear gigabytes.
inline constexpr std::uint32_t largest_message_bytes = 0x20000000u;
}  // namespace vault_limits
