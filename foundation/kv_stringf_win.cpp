#include "foundation/format_growing_win.h"
#include "foundation/kv_memory.h"
#include "foundation/kv_string_win.h"

#include <utility>

namespace {
// Format buffers start at 4096 units and double; each one is wiped when replaced.
constexpr std::size_t first_size = 4096;

// Formats into growing buffers and hands the finished text to `take`; a format the
// runtime rejects leaves `take` uncalled.
template <typename Unit, typename Take>
void format_then_take(const Unit* format, va_list args, Take take) {
    kv_memory::wiped_buffer<Unit> buffer;
    const auto provide = [&](std::size_t units) {
        buffer.reset();
        buffer = kv_memory::wiped_buffer<Unit>(units);
        return buffer.data();
    };
    if (kv_format::format_growing(format, args, first_size, kv_memory::size_max, provide) >= 0) take(buffer.data());
}
}  // namespace

KV_string format_wide_text(const wchar_t* format, va_list args) {
    KV_string result;
    if (!format) return result;
    format_then_take(format, args, [&](const wchar_t* text) { result.assign_text(text); });
    return result;
}

KV_string format_narrow_text(const char* format, va_list args) {
    KV_string result;
    // A null format is treated like a null wide format instead of being handed to the
    // runtime, which would fault on it.
    if (!format) return result;
    format_then_take(format, args, [&](const char* text) { result = widen_ansi_text(text); });
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
