#include "foundation/guid_text_win.h"

#include <cstdint>

#include "foundation/hex_digits.h"

namespace {
// `digits` upper-case hexadecimal digits of `value` at `out`; returns the end.
wchar_t* write_hex(wchar_t* out, std::uint32_t value, int digits) noexcept {
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) *out++ = static_cast<wchar_t>(hex_digit_upper(value >> shift));
    return out;
}
}  // namespace

guid_text text_of_guid(const GUID& guid) noexcept {
    guid_text result{};
    wchar_t* out = result.text;
    *out++ = L'{';
    out = write_hex(out, guid.Data1, 8);
    *out++ = L'-';
    out = write_hex(out, guid.Data2, 4);
    *out++ = L'-';
    out = write_hex(out, guid.Data3, 4);
    *out++ = L'-';
    for (int i = 0; i < 8; ++i) {
        if (i == 2) *out++ = L'-';
        out = write_hex(out, guid.Data4[i], 2);
    }
    *out++ = L'}';
    *out = 0;
    return result;
}

bool guid_from_text(const wchar_t* text, GUID& guid) noexcept {
    if (!text) return false;
    std::uint32_t v = 0;
    if (*text++ != L'{' || !read_hex_digits(text, 8, v)) return false;
    guid.Data1 = v;
    if (*text++ != L'-' || !read_hex_digits(text, 4, v)) return false;
    guid.Data2 = static_cast<std::uint16_t>(v);
    if (*text++ != L'-' || !read_hex_digits(text, 4, v)) return false;
    guid.Data3 = static_cast<std::uint16_t>(v);
    if (*text++ != L'-') return false;
    for (int i = 0; i < 8; ++i) {
        if (i == 2 && *text++ != L'-') return false;
        if (!read_hex_digits(text, 2, v)) return false;
        guid.Data4[i] = static_cast<std::uint8_t>(v);
    }
    return text[0] == L'}' && text[1] == 0;
}
