#pragma once
// Byte-vector helpers for the vault tests.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using bytes = std::vector<std::uint8_t>;

inline bytes operator+(bytes a, const bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
inline bytes text_bytes(const std::string& text) { return bytes(text.begin(), text.end()); }
inline bytes repeat(std::uint8_t value, std::size_t count) { return bytes(count, value); }
// "0A 1b" -> {0x0A, 0x1B}
bytes hex(const char* text);
std::string to_hex(const std::vector<std::uint8_t>& data);
