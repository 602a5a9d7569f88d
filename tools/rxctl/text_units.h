#pragma once
// The two forms in which rxctl reads and writes 16-bit unit texts: UTF-8, and hexadecimal
// numbers. Strict both ways, so that a script gets exactly what it gave or a clear refusal.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace text_units {

// Strict UTF-8 to UTF-16: refuses overlong forms, encoded surrogates, values past
// U+10FFFF, stray continuation bytes and truncated sequences. On failure returns false
// with the offset of the first byte of the offending sequence.
bool from_utf8(std::string_view bytes, std::u16string& units, std::size_t& bad_offset);

// UTF-16 to UTF-8. A surrogate without its partner has no UTF-8 form: returns false
// with its index. Zero units are written as zero bytes.
bool to_utf8(std::u16string_view units, std::string& bytes, std::size_t& bad_index);

// UTF-16 to UTF-8 for display: a surrogate without its partner becomes U+FFFD, as the
// platform's conversion writes it. Never fails.
std::string to_utf8_replacing(std::u16string_view units);

// Hexadecimal numbers separated by white space (space, tab, CR, LF, VT, FF), each of
// one or more digits of either case, optionally after "0x", worth at most 0xFFFF.
// On failure returns false with the offending token.
bool from_hex(std::string_view text, std::u16string& units, std::string& bad_token);

// A status or any 32-bit value as 8 upper-case hexadecimal digits, as rxctl prints them.
std::string to_hex32(std::uint32_t value);

// 4-digit upper-case hexadecimal numbers separated by single spaces, ended by one line
// feed; no units give just the line feed.
std::string to_hex(std::u16string_view units);

}  // namespace text_units
