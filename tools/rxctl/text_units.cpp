#include "tools/rxctl/text_units.h"

#include <cstdint>

#include "foundation/hex_digits.h"

namespace text_units {
namespace {

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

bool parse_hex_token(std::string_view token, char16_t& unit) {
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) token.remove_prefix(2);
    if (token.empty()) return false;
    std::uint32_t value = 0;
    for (char c : token) {
        const int digit = hex_digit_value(c);
        if (digit < 0) return false;
        value = value * 16 + static_cast<std::uint32_t>(digit);
        if (value > 0xFFFF) return false;  // leading zeros are fine, larger values are not
    }
    unit = static_cast<char16_t>(value);
    return true;
}

void append_utf8(std::string& bytes, std::uint32_t cp) {
    if (cp < 0x80) {
        bytes += static_cast<char>(cp);
    } else if (cp < 0x800) {
        bytes += static_cast<char>(0xC0 | (cp >> 6));
        bytes += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        bytes += static_cast<char>(0xE0 | (cp >> 12));
        bytes += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        bytes += static_cast<char>(0xF0 | (cp >> 18));
        bytes += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        bytes += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

constexpr std::uint32_t no_code_point = 0xFFFFFFFFu;
constexpr std::uint32_t replacement_character = 0xFFFD;

// The code point that starts at units[i], stepping i over the low half of a surrogate
// pair; no_code_point for a surrogate without its partner.
std::uint32_t code_point_at(std::u16string_view units, std::size_t& i) {
    const char16_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
        ++i;
        return 0x10000 + ((std::uint32_t{u} - 0xD800) << 10) + (units[i] - 0xDC00u);
    }
    if (u >= 0xD800 && u <= 0xDFFF) return no_code_point;
    return u;
}

}  // namespace

bool from_utf8(std::string_view bytes, std::u16string& units, std::size_t& bad_offset) {
    units.clear();
    units.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            units += static_cast<char16_t>(lead);
            ++i;
            continue;
        }
        // Sequence length and the allowed range of the second byte, which is where
        // overlong forms, surrogates and values past U+10FFFF show.
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        std::uint32_t cp = 0;
        if (lead >= 0xC2 && lead <= 0xDF) { length = 2; cp = lead & 0x1F; }
        else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3; cp = lead & 0x0F;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4; cp = lead & 0x07;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            bad_offset = i;
            return false;
        }
        if (bytes.size() - i < length) {
            bad_offset = i;
            return false;
        }
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        if (second < low || second > high) {
            bad_offset = i;
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto b = static_cast<unsigned char>(bytes[i + k]);
            if (!is_continuation(b)) {
                bad_offset = i;
                return false;
            }
            cp = (cp << 6) | (b & 0x3F);
        }
        if (cp < 0x10000) {
            units += static_cast<char16_t>(cp);
        } else {
            cp -= 0x10000;
            units += static_cast<char16_t>(0xD800 | (cp >> 10));
            units += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
        }
        i += length;
    }
    return true;
}

bool to_utf8(std::u16string_view units, std::string& bytes, std::size_t& bad_index) {
    bytes.clear();
    bytes.reserve(units.size() * 3);
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint32_t cp = code_point_at(units, i);
        if (cp == no_code_point) {
            bad_index = i;
            return false;
        }
        append_utf8(bytes, cp);
    }
    return true;
}

std::string to_utf8_replacing(std::u16string_view units) {
    std::string bytes;
    bytes.reserve(units.size() * 3);
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint32_t cp = code_point_at(units, i);
        append_utf8(bytes, cp == no_code_point ? replacement_character : cp);
    }
    return bytes;
}

bool from_hex(std::string_view text, std::u16string& units, std::string& bad_token) {
    units.clear();
    std::size_t i = 0;
    for (;;) {
        while (i < text.size() && is_space(text[i])) ++i;
        if (i == text.size()) return true;
        const std::size_t start = i;
        while (i < text.size() && !is_space(text[i])) ++i;
        const std::string_view token = text.substr(start, i - start);
        char16_t unit = 0;
        if (!parse_hex_token(token, unit)) {
            bad_token.assign(token);
            return false;
        }
        units += unit;
    }
}

std::string to_hex32(std::uint32_t value) {
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i, value >>= 4) text[static_cast<std::size_t>(i)] = hex_digit_upper(value);
    return text;
}

std::string to_hex(std::u16string_view units) {
    std::string text;
    text.reserve(units.size() * 5 + 1);
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (i != 0) text += ' ';
        const char16_t u = units[i];
        for (int shift = 12; shift >= 0; shift -= 4) text += hex_digit_upper(static_cast<std::uint32_t>(u >> shift));
    }
    text += '\n';
    return text;
}

}  // namespace text_units
