#include "xml/xml_entities.h"

#include <bit>
#include <cstring>
#include <new>

#include "xml/xml_buffer.h"

namespace {
// Up to four units as one number, unit i in bits 16i..16i+15, and the same for an ASCII
// name. A unit ORed with 0x20 equals a lower-case letter exactly when the unit is that
// letter in either case, so a name compares with the lower-case names in one step.
constexpr std::uint64_t ascii_units(const char* name) noexcept {
    std::uint64_t v = 0;
    for (int i = 0; name[i]; ++i) v |= std::uint64_t{static_cast<unsigned char>(name[i])} << (16 * i);
    return v;
}
template <int Length>
std::uint64_t folded_units(const xml_char* name) noexcept {
    constexpr std::uint64_t case_bits = 0x0020002000200020ull >> (16 * (4 - Length));
    std::uint64_t v = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&v, name, Length * sizeof(xml_char));  // unit i lands in bits 16i..16i+15
    } else {
        for (int i = 0; i < Length; ++i) v |= std::uint64_t{static_cast<std::uint16_t>(name[i])} << (16 * i);
    }
    return v | case_bits;
}

// The replacement of the reference whose name is name[0..length); 0 means nothing.
inline xml_char replacement(const xml_char* name, std::int32_t length) noexcept {
    if (length >= 1 && name[0] == u'#') {
        // The number stops at the first non-digit at the latest, so at the ";". A short
        // run of digits (below the 32-bit range) is read here; anything else as _wtoi.
        std::uint32_t value = 0;
        std::int32_t i = 1;
        for (; i < length && i <= 9 && name[i] >= u'0' && name[i] <= u'9'; ++i) value = value * 10 + (name[i] - u'0');
        if (i == length && i > 1) return static_cast<xml_char>(value & 0xFFFFu);
        return static_cast<xml_char>(static_cast<std::uint32_t>(xml_read_int(name + 1)) & 0xFFFFu);
    }
    // The names by their lengths (none of them begins with "#").
    if (length == 2) {
        const std::uint64_t v = folded_units<2>(name);
        if (v == ascii_units("lt")) return u'<';
        if (v == ascii_units("gt")) return u'>';
    } else if (length == 3) {
        if (folded_units<3>(name) == ascii_units("amp")) return u'&';
    } else if (length == 4) {
        const std::uint64_t v = folded_units<4>(name);
        if (v == ascii_units("quot")) return u'"';
        if (v == ascii_units("apos")) return u'\'';
    }
    return 0;
}

std::int32_t last_semicolon(const xml_char* s, std::int32_t n) noexcept {
    for (std::int32_t i = n - 1; i >= 0; --i) {
        if (s[i] == u';') return i;
    }
    return -1;
}
}  // namespace

bool xml_needs_decoding(const xml_char* s, std::int32_t n) noexcept {
    const std::int32_t semicolon = last_semicolon(s, n);
    for (std::int32_t i = 0; i < semicolon; ++i) {
        if (s[i] == u'&') return true;
    }
    return false;
}

void xml_decode_entities(const xml_char* s, std::int32_t n, xml_buffer& out) {
    // An "&" at i begins a reference exactly when i is before the last ";".
    const std::int32_t semicolon = last_semicolon(s, n);
    std::int32_t run = 0;
    std::int32_t i = 0;
    while (i < semicolon) {
        if (s[i] != u'&') { ++i; continue; }
        out.append(s + run, i - run);
        std::int32_t end = i + 1;
        while (s[end] != u';') ++end;
        const xml_char c = replacement(s + i + 1, end - i - 1);
        if (c) out.append(c);
        i = end + 1;
        run = i;
    }
    out.append(s + run, n - run);
}

std::int32_t xml_decode_entities_to(const xml_char* s, std::int32_t n, xml_char* dst) noexcept {
    const std::int32_t semicolon = last_semicolon(s, n);
    xml_char* out = dst;
    auto copy_run = [&out, s](std::int32_t from, std::int32_t to) {
        // dst never runs ahead of s, so a move within one array is safe
        if (to > from) std::memmove(out, s + from, static_cast<std::size_t>(to - from) * sizeof(xml_char));
        out += to - from;
    };
    std::int32_t run = 0;
    std::int32_t i = 0;
    while (i < semicolon) {
        if (s[i] != u'&') { ++i; continue; }
        copy_run(run, i);
        std::int32_t end = i + 1;
        while (s[end] != u';') ++end;
        const xml_char c = replacement(s + i + 1, end - i - 1);
        if (c) *out++ = c;
        i = end + 1;
        run = i;
    }
    copy_run(run, n);
    return static_cast<std::int32_t>(out - dst);
}

std::int32_t xml_escaped_length(const xml_char* s, std::int32_t n) {
    std::int64_t total = n;
    for (std::int32_t i = 0; i < n; ++i) {
        switch (s[i]) {
        case u'"': total += 5; break;
        case u'&': case u'\'': total += 4; break;
        case u'<': case u'>': total += 3; break;
        default: break;
        }
    }
    if (total >= INT32_MAX) throw std::bad_alloc();
    return static_cast<std::int32_t>(total);
}

xml_char* xml_write_escaped(const xml_char* s, std::int32_t n, xml_char* dst) noexcept {
    std::int32_t run = 0;
    auto put = [&dst](const char* literal) {
        while (*literal) *dst++ = static_cast<xml_char>(*literal++);
    };
    for (std::int32_t i = 0; i < n; ++i) {
        const char* entity = nullptr;
        switch (s[i]) {
        case u'&': entity = "&amp;"; break;
        case u'\'': entity = "&#39;"; break;
        case u'"': entity = "&quot;"; break;
        case u'<': entity = "&lt;"; break;
        case u'>': entity = "&gt;"; break;
        default: continue;
        }
        std::memcpy(dst, s + run, static_cast<std::size_t>(i - run) * sizeof(xml_char));
        dst += i - run;
        put(entity);
        run = i + 1;
    }
    std::memcpy(dst, s + run, static_cast<std::size_t>(n - run) * sizeof(xml_char));
    return dst + (n - run);
}
