#pragma once
// Formatting for the trace log: owned wide buffers wiped before release, and the
// runtime's legacy wide printf (%s wide, %S narrow) with a buffer that doubles until the
// whole text fits. Nothing here throws: a failed allocation or a format the runtime
// rejects makes the call return false, and the caller drops the line.
#include <windows.h>

#include <cstdarg>
#include <cstddef>

#include "foundation/kv_memory.h"

// A heap buffer of wide characters; its whole capacity is overwritten with zeros before
// release, since trace texts may hold secrets before they are masked.
class trace_buffer {
public:
    trace_buffer() noexcept = default;
    trace_buffer(const trace_buffer&) = delete;
    trace_buffer& operator=(const trace_buffer&) = delete;

    // Replaces the buffer with `units` zeroed units; false (and empty) when the memory
    // cannot be had.
    bool allocate(std::size_t units) noexcept;
    void reset() noexcept;

    wchar_t* data() noexcept { return units_.data(); }
    const wchar_t* data() const noexcept { return units_.data(); }
    // Units of text before the terminator (set by the formatter).
    std::size_t length() const noexcept { return length_; }
    void set_length(std::size_t length) noexcept { length_ = length; }
    std::size_t capacity() const noexcept { return units_.size(); }

private:
    kv_memory::wiped_buffer<wchar_t> units_;
    std::size_t length_ = 0;
};

// The largest buffer the formatter asks for: the runtime reports lengths as int.
inline constexpr std::size_t trace_max_units = 0x7FFFFFFF;

// Starting sizes of the trace lines, in units: the room for a line's header (process and
// thread ids, tag, error code and marker) beyond the texts the line is known to carry,
// and, for trace_message, the room for that header in the combined format and its line.
inline constexpr std::size_t trace_line_room = 256;
inline constexpr std::size_t trace_message_room = 260;

// a + b, or trace_max_units + 1 when the sum exceeds trace_max_units (so that the
// allocation it sizes is refused instead of wrapping around to a small buffer).
std::size_t trace_add_units(std::size_t a, std::size_t b) noexcept;

// Formats `format` with `args` into `out`, starting with `start_units` units and doubling
// until the text and its terminator fit. `args` is not consumed (each attempt uses its
// own copy). False when the runtime rejects the format, the size would pass
// trace_max_units or the memory cannot be had.
bool trace_vformat(trace_buffer& out, std::size_t start_units, const wchar_t* format,
                   va_list args) noexcept;
bool trace_format_into(trace_buffer& out, std::size_t start_units, const wchar_t* format,
                       ...) noexcept;
