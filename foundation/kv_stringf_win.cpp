#include "foundation/kv_memory.h"
#include "foundation/kv_string_win.h"

#include <cstdio>
#include <utility>

// Formatting goes to the runtime's own bounded formatters (_vsnwprintf, _vsnprintf):
// they keep the legacy rules (%s wide in a wide format), whereas the C99 formatter
// that mingw substitutes for swprintf in C++ takes %s as narrow.
namespace {
constexpr std::size_t first_size = 4096;

struct wide_formatter {
    using unit = wchar_t;
    static int format(unit* out, std::size_t room, const unit* format, va_list args) {
        return _vsnwprintf(out, room, format, args);
    }
    static int measure(const unit* format, va_list args) { return _vscwprintf(format, args); }
};
struct narrow_formatter {
    using unit = char;
    static int format(unit* out, std::size_t room, const unit* format, va_list args) {
        return _vsnprintf(out, room, format, args);
    }
    static int measure(const unit* format, va_list args) { return _vscprintf(format, args); }
};

// Formats into buffers of 4096, 8192, ... units until the whole text fits, then hands
// the text to `take`. The formatter answers -1 both for lack of room and for a format
// it rejects; the measuring call tells the two apart, so a rejected format stops the
// doubling at once and `take` is never called.
template <typename Formatter, typename Take>
void format_growing(const typename Formatter::unit* format, va_list args, Take take) {
    using unit = typename Formatter::unit;
    for (std::size_t size = first_size;; size = kv_memory::multiply_sizes(size, 2)) {
        kv_memory::wiped_buffer<unit> buffer(size);
        // One unit stays free: a text of exactly size - 1 units comes back without a
        // terminator, and the zero-filled buffer supplies it.
        va_list attempt;
        va_copy(attempt, args);
        const int written = Formatter::format(buffer.data(), size - 1, format, attempt);
        va_end(attempt);
        if (written >= 0) {
            take(buffer.data());
            return;
        }
        va_list probe;
        va_copy(probe, args);
        const int needed = Formatter::measure(format, probe);
        va_end(probe);
        if (needed < 0 || static_cast<std::size_t>(needed) <= size - 1) return;
    }
}
}  // namespace

KV_string format_wide_text(const wchar_t* format, va_list args) {
    KV_string result;
    if (!format) return result;
    format_growing<wide_formatter>(format, args, [&](const wchar_t* text) { result.assign_text(text); });
    return result;
}

KV_string format_narrow_text(const char* format, va_list args) {
    KV_string result;
    // A null format is treated like a null wide format instead of being handed to the
    // runtime, which would fault on it.
    if (!format) return result;
    format_growing<narrow_formatter>(format, args, [&](const char* text) { result = widen_ansi_text(text); });
    return result;
}

KV_stringf::KV_stringf(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    KV_string text = format_wide_text(format, args);
    va_end(args);
    KV_string::operator=(std::move(text));
}

KV_stringf::KV_stringf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    KV_string text = format_narrow_text(format, args);
    va_end(args);
    KV_string::operator=(std::move(text));
}
