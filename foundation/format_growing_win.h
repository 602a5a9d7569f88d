#pragma once
// The one formatting loop of the foundation: the runtime's legacy printf (%s wide in a
// wide format, %S narrow) into a buffer that doubles until the whole text fits. The
// runtime's own bounded formatters are called directly because the C99 formatter that
// mingw substitutes for swprintf in C++ takes %s as narrow.
#include <cstdarg>
#include <cstddef>
#include <cstdio>

namespace kv_format {

// The runtime's formatter and its measuring twin for one character type.
inline int format_into(wchar_t* out, std::size_t room, const wchar_t* format, va_list args) noexcept {
    return _vsnwprintf(out, room, format, args);
}
inline int format_into(char* out, std::size_t room, const char* format, va_list args) noexcept {
    return _vsnprintf(out, room, format, args);
}
inline int measure(const wchar_t* format, va_list args) noexcept { return _vscwprintf(format, args); }
inline int measure(const char* format, va_list args) noexcept { return _vscprintf(format, args); }

// Formats `format` with `args` into buffers of start_units, twice that, ... units until
// the text and its terminator fit, and returns the text's length (the text is then in
// the last buffer handed out). `provide(units)` returns a zero-filled buffer of that many
// units, replacing the previous one, or null when the memory cannot be had; the caller
// owns (and wipes) the buffers. `args` is not consumed: each attempt takes a copy.
//
// Returns -1, without growing further, when `provide` fails, when the next size would
// pass max_units, or when the runtime rejects the format: the bounded formatter answers
// -1 both for lack of room and for a format it cannot produce, and the measuring call
// tells the two apart, so a rejected format never doubles the buffer for ever.
template <typename Unit, typename Provide>
long long format_growing(const Unit* format, va_list args, std::size_t start_units, std::size_t max_units,
                         Provide&& provide) {
    for (std::size_t units = start_units;;) {
        Unit* buffer = provide(units);
        if (!buffer) return -1;
        va_list attempt;
        va_copy(attempt, args);
        const int written = format_into(buffer, units, format, attempt);
        va_end(attempt);
        // A text of exactly `units` units comes back unterminated: it does not fit.
        if (written >= 0 && static_cast<std::size_t>(written) < units) return written;
        va_list probe;
        va_copy(probe, args);
        const int needed = measure(format, probe);
        va_end(probe);
        // Rejected, or the two formatters disagree (the text would have fit): stop.
        if (needed < 0 || static_cast<std::size_t>(needed) < units) return -1;
        if (units > max_units / 2) return -1;
        units *= 2;
    }
}

}  // namespace kv_format
