#include "foundation/trace_buffer_win.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace {
// Trace calls never throw: their buffers come from nothrow new rather than from the
// foundation's allocator, which reports exhaustion with std::bad_alloc.
void release_units(void* block) noexcept { delete[] static_cast<wchar_t*>(block); }
}  // namespace

bool trace_buffer::allocate(std::size_t units) noexcept {
    reset();
    if (units == 0 || units > trace_max_units) return false;
    wchar_t* block = new (std::nothrow) wchar_t[units];
    if (!block) return false;
    std::memset(block, 0, units * sizeof(wchar_t));
    units_ = kv_memory::wiped_buffer<wchar_t>(block, units, &release_units);
    return true;
}

void trace_buffer::reset() noexcept {
    units_.reset();
    length_ = 0;
}

std::size_t trace_add_units(std::size_t a, std::size_t b) noexcept {
    if (a > trace_max_units || b > trace_max_units - a) return trace_max_units + 1;
    return a + b;
}

std::size_t trace_text_length(const wchar_t* text) noexcept {
    std::size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

namespace {
// One attempt in the current buffer: the text's length when it fits with its
// terminator, -1 otherwise. The legacy formatter returns -1 when the text is longer than
// the buffer and the full count, unterminated, when it is exactly as long.
int format_once(trace_buffer& out, const wchar_t* format, va_list args) noexcept {
    va_list copy;
    va_copy(copy, args);
    const int n = _vsnwprintf(out.data(), out.capacity(), format, copy);
    va_end(copy);
    if (n < 0 || static_cast<std::size_t>(n) >= out.capacity()) return -1;
    return n;
}

// Units the whole text needs, terminator excluded; -1 when the runtime rejects the format.
int needed_units(const wchar_t* format, va_list args) noexcept {
    va_list copy;
    va_copy(copy, args);
    const int n = _vscwprintf(format, copy);
    va_end(copy);
    return n;
}
}  // namespace

bool trace_vformat(trace_buffer& out, std::size_t start_units, const wchar_t* format,
                   va_list args) noexcept {
    if (!format) return false;
    std::size_t units = start_units ? start_units : 1;
    if (!out.allocate(units)) return false;
    int n = format_once(out, format, args);
    if (n >= 0) {
        out.set_length(static_cast<std::size_t>(n));
        return true;
    }
    // The legacy formatter gives -1 both for lack of room and for a format it rejects;
    // the counting formatter tells them apart, so a rejected format stops here instead
    // of doubling the buffer for ever.
    const int needed = needed_units(format, args);
    if (needed < 0) {
        out.reset();
        return false;
    }
    // Double from the starting size until the text and its terminator fit.
    const std::size_t wanted = static_cast<std::size_t>(needed) + 1;
    while (units < wanted) {
        if (units > trace_max_units / 2) {
            out.reset();
            return false;
        }
        units *= 2;
    }
    if (!out.allocate(units)) return false;
    n = format_once(out, format, args);
    if (n < 0) {  // the two formatters disagree: drop rather than guess
        out.reset();
        return false;
    }
    out.set_length(static_cast<std::size_t>(n));
    return true;
}

bool trace_format_into(trace_buffer& out, std::size_t start_units, const wchar_t* format,
                       ...) noexcept {
    va_list args;
    va_start(args, format);
    const bool ok = trace_vformat(out, start_units, format, args);
    va_end(args);
    return ok;
}
