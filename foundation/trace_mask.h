#pragma once
// Masking of secret texts and cutting of trace texts into lines. Platform-free: works
// on any 16-bit character type (wchar_t on Windows, char16_t elsewhere).
#include <cstddef>

// Replaces by '*' every character that follows a "<secret>" marker (case-sensitive), up
// to but not including the next '<' or the end of the text. The search starts at the
// beginning and then resumes where the previous masking stopped, so "<secret>ab</secret>"
// becomes "<secret>**</secret>" and a marker at the very end masks nothing.
template <typename Ch>
void trace_mask_secrets(Ch* text, std::size_t length) noexcept {
    static constexpr char marker[] = "<secret>";
    constexpr std::size_t marker_length = sizeof(marker) - 1;
    std::size_t i = 0;
    while (i + marker_length <= length) {
        std::size_t k = 0;
        while (k < marker_length && text[i + k] == static_cast<Ch>(marker[k])) ++k;
        if (k < marker_length) {
            ++i;
            continue;
        }
        i += marker_length;
        while (i < length && text[i] != static_cast<Ch>('<')) text[i++] = static_cast<Ch>('*');
    }
}

// The end (exclusive) of the segment that starts at `start`: just after the next line
// feed, or the end of the text when no line feed follows.
template <typename Ch>
std::size_t trace_segment_end(const Ch* text, std::size_t length, std::size_t start) noexcept {
    for (std::size_t i = start; i < length; ++i)
        if (text[i] == static_cast<Ch>('\n')) return i + 1;
    return length;
}
