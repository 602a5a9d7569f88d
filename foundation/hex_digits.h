#pragma once
// Hexadecimal digits both ways, for any character type. Platform-free.
#include <cstdint>

// The value of one hexadecimal digit of either case, or -1 for any other character.
template <typename Unit>
constexpr int hex_digit_value(Unit c) noexcept {
    const auto u = static_cast<std::uint32_t>(c);
    if (u >= '0' && u <= '9') return static_cast<int>(u - '0');
    if (u >= 'a' && u <= 'f') return static_cast<int>(u - 'a' + 10);
    if (u >= 'A' && u <= 'F') return static_cast<int>(u - 'A' + 10);
    return -1;
}

// The upper-case digit of the low four bits of `value`.
constexpr char hex_digit_upper(std::uint32_t value) noexcept { return "0123456789ABCDEF"[value & 0xF]; }
