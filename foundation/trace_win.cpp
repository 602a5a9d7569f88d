// The trace operations: each formats its text in buffers of its own, hands it to the
// writer and leaves the caller's last-error value as it found it.
#include "foundation/trace.h"

#include "foundation/text_length.h"
#include "foundation/trace_buffer_win.h"
#include "foundation/trace_module_win.h"
#include "foundation/trace_switch_win.h"
#include "foundation/trace_writer_win.h"
#include "foundation/unique_resource_win.h"

#include <cstdarg>

namespace {
// Restores the thread's last-error value when the trace call returns.
class last_error_keeper {
public:
    last_error_keeper() noexcept : saved_(GetLastError()) {}
    last_error_keeper(const last_error_keeper&) = delete;
    last_error_keeper& operator=(const last_error_keeper&) = delete;
    ~last_error_keeper() { SetLastError(saved_); }
private:
    DWORD saved_;
};

bool has_colon(const wchar_t* name) noexcept {
    for (; *name; ++name)
        if (*name == L':') return true;
    return false;
}

// While a fresh decision says off, nothing would reach the file: skip the formatting as
// well, so that a disabled trace costs one atomic load and a tick count.
bool tracing_known_off() noexcept { return trace_fresh_decision() == trace_decision::off; }

int process_id() noexcept { return static_cast<int>(GetCurrentProcessId()); }
int thread_id() noexcept { return static_cast<int>(GetCurrentThreadId()); }

void write(const trace_buffer& text) noexcept { trace_write(text.data(), text.length()); }

void write_error(const wchar_t* name, std::uint32_t code) noexcept {
    // Codes with any of bits 20-27 set carry the facility of a subsystem whose texts the
    // system does not know: look up the code without those bits and mark the line.
    constexpr std::uint32_t special_bits = 0x0FF00000;
    const bool special = (code & special_bits) != 0;
    const std::uint32_t lookup = special ? code & ~special_bits : code;
    const wchar_t* marker = special ? L"Special" : L"";

    unique_hlocal text;
    const DWORD text_length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, lookup, 0, reinterpret_cast<LPWSTR>(text.put()), 0, nullptr);
    trace_buffer line;
    bool ok;
    if (text_length != 0 && text) {
        const auto* message = static_cast<const wchar_t*>(text.get());
        ok = trace_format_into(line,
                               trace_add_units(trace_add_units(kv_text_length(name),
                                                               kv_text_length(message)),
                                               trace_line_room),
                               L"%s: %sError: 0x%08x ==> %s", name, marker, code, message);
    } else {
        ok = trace_format_into(line, trace_add_units(kv_text_length(name), trace_line_room),
                               L"%s: %sError: 0x%08x\n", name, marker, code);
    }
    text.reset();
    if (ok) write(line);
}

// The module prefix of a name: empty for a qualified name ("Class::method") and when the
// executable's name cannot be obtained (that failure is traced first, as trace_error
// would), otherwise the module name followed by '!'.
void module_prefix(const wchar_t* name, wchar_t (&prefix)[MAX_PATH + 1]) noexcept {
    prefix[0] = L'\0';
    if (has_colon(name)) return;
    const trace_module& module = trace_module_name();
    if (module.error != 0) {
        write_error(name, module.error);
        return;
    }
    std::size_t i = 0;
    for (; module.name[i]; ++i) prefix[i] = module.name[i];
    prefix[i] = L'!';
    prefix[i + 1] = L'\0';
}

// The module name as a piece of a format: '%' doubled, so that an executable named
// "a%s.exe" cannot turn into a conversion that reads arguments nobody passed.
void module_name_for_format(wchar_t (&out)[2 * MAX_PATH]) noexcept {
    const wchar_t* name = trace_module_name().name;
    std::size_t o = 0;
    for (std::size_t i = 0; name[i] && o + 2 < 2 * MAX_PATH; ++i) {
        if (name[i] == L'%') out[o++] = L'%';
        out[o++] = name[i];
    }
    out[o] = L'\0';
}
}  // namespace

namespace trace_detail {
void scope(const wchar_t* name, int tag) noexcept {
    if (tracing_known_off()) return;
    last_error_keeper keeper;
    wchar_t prefix[MAX_PATH + 1];
    module_prefix(name, prefix);
    trace_buffer line;
    if (trace_format_into(line, trace_line_room, L"P:%4d,T:%4d %s%s[%d]\n", process_id(), thread_id(),
                          prefix, name, tag))
        write(line);
}

void scope_formatted(const wchar_t* name, int tag, const wchar_t* format, ...) noexcept {
    if (!format) {
        scope(name, tag);
        return;
    }
    if (tracing_known_off()) return;
    last_error_keeper keeper;
    wchar_t prefix[MAX_PATH + 1];
    module_prefix(name, prefix);
    trace_buffer prefixed_name;
    if (!trace_format_into(prefixed_name, trace_line_room, L"%s%s", prefix, name)) return;
    trace_buffer text;
    va_list args;
    va_start(args, format);
    const bool formatted = trace_vformat(text, trace_line_room, format, args);
    va_end(args);
    if (!formatted) return;
    trace_buffer line;
    if (trace_format_into(line, text.capacity(), L"P:%4d,T:%4d %s[%d](%s)\n", process_id(),
                          thread_id(), prefixed_name.data(), tag, text.data()))
        write(line);
}

void message(const wchar_t* name, const wchar_t* format, ...) noexcept {
    if (tracing_known_off()) return;
    last_error_keeper keeper;
    if (!format) format = L"";
    // The caller's format follows the header unchanged, and the caller's arguments are
    // then applied to the combined format.
    const std::size_t start = trace_add_units(
        trace_add_units(kv_text_length(name), kv_text_length(format)), trace_message_room);
    trace_buffer combined;
    bool ok;
    if (has_colon(name)) {
        ok = trace_format_into(combined, start, L"P:%4d,T:%4d %s: %s", process_id(),
                               thread_id(), name, format);
    } else {
        wchar_t module[2 * MAX_PATH];
        module_name_for_format(module);
        ok = trace_format_into(combined, start, L"P:%4d,T:%4d %s!%s: %s", process_id(),
                               thread_id(), module, name, format);
    }
    if (!ok) return;
    trace_buffer line;
    va_list args;
    va_start(args, format);
    ok = trace_vformat(line, start, combined.data(), args);
    va_end(args);
    if (ok) write(line);
}
}  // namespace trace_detail

void trace_error(trace_name name, std::uint32_t code) noexcept {
    if (tracing_known_off()) return;
    last_error_keeper keeper;
    write_error(name.c_str(), code);
}
