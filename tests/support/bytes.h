#pragma once
// Byte sequences in tests: building expected payloads and frames, and printing them.
// Platform-free, shared by the tests of every library.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using bytes = std::vector<std::uint8_t>;

inline bytes operator+(bytes a, const bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
// The characters of `text` as bytes, without a terminator.
inline bytes text_bytes(const std::string& text) { return bytes(text.begin(), text.end()); }
inline bytes repeat(std::uint8_t value, std::size_t count) { return bytes(count, value); }
// `count` bytes first, first + 1, ... (wrapping at 256).
bytes counting(std::size_t count, std::uint8_t first = 0);
// "0A 1b" -> {0x0A, 0x1B}: pairs of hexadecimal digits; anything else between them is skipped.
bytes hex(const char* text);
// The units as UTF-16LE bytes, after the byte-order mark FF FE unless told otherwise.
bytes utf16le(std::u16string_view text, bool byte_order_mark = true);
// {0x0A, 0x1B} -> "0A 1B " (each byte followed by a space).
std::string to_hex(const bytes& data);
