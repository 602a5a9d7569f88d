#include "tests/support/bytes.h"

#include <cstdio>

bytes counting(std::size_t count, std::uint8_t first) {
    bytes out(count);
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(first + i);
    return out;
}

bytes hex(const char* text) {
    bytes out;
    int nibble = -1;
    for (const char* p = text; *p; ++p) {
        int v;
        if (*p >= '0' && *p <= '9') v = *p - '0';
        else if (*p >= 'a' && *p <= 'f') v = *p - 'a' + 10;
        else if (*p >= 'A' && *p <= 'F') v = *p - 'A' + 10;
        else continue;
        if (nibble < 0) nibble = v;
        else { out.push_back(static_cast<std::uint8_t>(nibble << 4 | v)); nibble = -1; }
    }
    return out;
}

bytes utf16le(std::u16string_view text, bool byte_order_mark) {
    bytes out;
    if (byte_order_mark) out = {0xFF, 0xFE};
    for (char16_t unit : text) {
        out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return out;
}

std::string to_hex(const bytes& data) {
    std::string s;
    char b[4];
    for (std::uint8_t x : data) { std::snprintf(b, sizeof b, "%02X ", x); s += b; }
    return s;
}
