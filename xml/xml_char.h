#pragma once
// The 16-bit character of the XML library and the few runtime-like helpers it needs.
// On Windows the unit is wchar_t, so clients pass BSTRs and L"" literals; elsewhere
// (a native build of the platform-free core) it is char16_t. Nothing here includes a
// platform header or uses the C runtime's wide-character functions.
#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
using xml_char = wchar_t;
#define KVXML_TEXT(s) L##s
#else
using xml_char = char16_t;
#define KVXML_TEXT(s) u##s
#endif
static_assert(sizeof(xml_char) == 2, "the XML library works on 16-bit units");

// U+FEFF, which begins every serialized document and is skipped at the start of a load.
inline constexpr xml_char xml_byte_order_mark = static_cast<xml_char>(0xFEFF);

// White space as the Windows runtime's iswspace classifies it: U+0009..U+000D, U+0020,
// U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000 (the Unicode
// space separators, line and paragraph separators and the C0 white-space controls).
// U+0085 (NEL) is not white space to the runtime, so not here either; U+200B and U+FEFF
// are not white space.
bool xml_is_space(xml_char c) noexcept;

// Folds only A..Z onto a..z, as _wcsicmp does in the default ("C") locale.
constexpr xml_char xml_fold(xml_char c) noexcept {
    return (c >= u'A' && c <= u'Z') ? static_cast<xml_char>(c + (u'a' - u'A')) : c;
}

// Length of a NUL-terminated string (a null string has length 0).
std::size_t xml_length(const xml_char* s) noexcept;

// Case-insensitive equality with ASCII folding; null equals only null.
bool xml_equal_nocase(const xml_char* a, const xml_char* b) noexcept;

// Reads a decimal number as _wtoi does: leading white space, an optional sign, digits up
// to the first non-digit; a value outside the 32-bit range is clamped to INT32_MIN/MAX.
std::int32_t xml_read_int(const xml_char* s) noexcept;

// A malloc'ed copy that free() releases, as _wcsdup makes; null when memory runs out.
xml_char* xml_duplicate(const xml_char* s, std::size_t length) noexcept;
