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

// Reads exactly `digits` hexadecimal digits (at most 8) from `text` into `value` and
// advances `text` past them; false, with `text` unmoved, when one of them is not a digit.
// A terminator counts as a non-digit, so nothing past it is read.
template <typename Unit>
constexpr bool read_hex_digits(const Unit*& text, int digits, std::uint32_t& value) noexcept {
    std::uint32_t read = 0;
    for (int i = 0; i < digits; ++i) {
        const int digit = hex_digit_value(text[i]);
        if (digit < 0) return false;
        read = read << 4 | static_cast<std::uint32_t>(digit);
    }
    value = read;
    text += digits;
    return true;
}

// The upper-case digit of the low four bits of `value`.
constexpr char hex_digit_upper(std::uint32_t value) noexcept { return "0123456789ABCDEF"[value & 0xF]; }
