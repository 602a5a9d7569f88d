#include "xml/xml_char.h"

#include "foundation/text_length.h"

#include <climits>
#include <cstdlib>
#include <cstring>

bool xml_is_space(xml_char c) noexcept {
    if (c <= 0x20) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    if (c < 0xA0) return false;
    switch (c) {
    case 0xA0: case 0x1680: case 0x2028: case 0x2029: case 0x202F:
    case 0x205F: case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

std::size_t xml_length(const xml_char* s) noexcept { return kv_text_length(s); }

bool xml_equal_nocase(const xml_char* a, const xml_char* b) noexcept {
    if (!a || !b) return a == b;
    for (;; ++a, ++b) {
        if (xml_fold(*a) != xml_fold(*b)) return false;
        if (*a == 0) return true;
    }
}

std::int32_t xml_read_int(const xml_char* s) noexcept {
    if (!s) return 0;
    while (xml_is_space(*s)) ++s;
    bool negative = false;
    if (*s == u'-' || *s == u'+') negative = (*s++ == u'-');
    // Accumulate the magnitude in 64 bits and stop growing once it is past the range.
    std::int64_t magnitude = 0;
    const std::int64_t limit = static_cast<std::int64_t>(INT32_MAX) + 1;
    for (; *s >= u'0' && *s <= u'9'; ++s) {
        if (magnitude <= limit) magnitude = magnitude * 10 + (*s - u'0');
    }
    if (negative) return magnitude >= limit ? INT32_MIN : static_cast<std::int32_t>(-magnitude);
    return magnitude > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(magnitude);
}

xml_char* xml_duplicate(const xml_char* s, std::size_t length) noexcept {
    auto* copy = static_cast<xml_char*>(std::malloc((length + 1) * sizeof(xml_char)));
    if (!copy) return nullptr;
    if (length) std::memcpy(copy, s, length * sizeof(xml_char));
    copy[length] = 0;
    return copy;
}
