#include "foundation/trace_buffer_win.h"

#include "foundation/format_growing_win.h"

#include <cstring>
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

bool trace_vformat(trace_buffer& out, std::size_t start_units, const wchar_t* format,
                   va_list args) noexcept {
    if (!format) return false;
    const auto provide = [&out](std::size_t units) noexcept { return out.allocate(units) ? out.data() : nullptr; };
    const long long length =
        kv_format::format_growing(format, args, start_units ? start_units : 1, trace_max_units, provide);
    if (length < 0) {
        out.reset();
        return false;
    }
    out.set_length(static_cast<std::size_t>(length));
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
