#pragma once
// The length of a NUL-terminated text, for any character type (char, wchar_t, char16_t).
// Platform-free and without the C runtime's wide-character functions, so the
// platform-free cores use it too.
#include <cstddef>

// Units before the terminator; 0 for null.
template <typename Unit>
constexpr std::size_t kv_text_length(const Unit* text) noexcept {
    if (!text) return 0;
    const Unit* end = text;
    while (*end != 0) ++end;
    return static_cast<std::size_t>(end - text);
}
