#include "foundation/trace_writer_win.h"

#include "foundation/kv_named_objects_win.h"
#include "foundation/trace_buffer_win.h"
#include "foundation/trace_file_trust_win.h"
#include "foundation/trace_mask.h"
#include "foundation/trace_switch_win.h"
#include "foundation/unique_resource_win.h"

#include <atomic>
#include <cstring>
#include <new>

namespace {
// True when the next text written by this process begins a new line of the file.
std::atomic<bool> line_start{true};
std::atomic<trace_refusal_report> refusal_report{nullptr};
std::atomic<bool> refusal_reported{false};

// Hands the first refusal of the process to the installed receiver; later ones are silent.
void report_refusal(const wchar_t* path, trace_file_refusal refusal) noexcept {
    const trace_refusal_report report = refusal_report.load();
    if (report == nullptr || refusal_reported.exchange(true)) return;
    wchar_t text[512];
    const int length = _snwprintf(text, 512, L"Trace file refused, %s: %s", trace_file_refusal_text(refusal), path);
    if (length < 0) text[511] = L'\0';  // cut, never dropped: the report names the reason first
    report(text);
}

// Owns the trace mutex; null when it could not be created, and the write then goes on
// without it.
unique_owned_mutex take_trace_mutex() noexcept {
    try {
        return unique_owned_mutex(acquire_named_mutex(trace_mutex_name, false, true));
    } catch (const std::bad_alloc&) {
        return unique_owned_mutex();
    }
}

// "<temporary directory>TraceFile.kv", or false when the directory is not known.
bool trace_file_path(trace_buffer& path) noexcept {
    const DWORD size = GetTempPathW(0, nullptr);
    if (size == 0) return false;
    constexpr std::size_t name_units = sizeof(trace_file_name) / sizeof(wchar_t);  // 13
    if (!path.allocate(trace_add_units(size, name_units))) return false;
    const DWORD length = GetTempPathW(size, path.data());
    if (length == 0 || length >= size) return false;
    std::memcpy(path.data() + length, trace_file_name, sizeof(trace_file_name));
    path.set_length(length + name_units - 1);
    return true;
}

void write_units(HANDLE file, const wchar_t* units, std::size_t count) noexcept {
    DWORD written = 0;
    // Results are ignored: a trace line that cannot be written is lost, never reported.
    WriteFile(file, units, static_cast<DWORD>(count * sizeof(wchar_t)), &written, nullptr);
}

// Writes the text segment by segment, each ending just after a line feed, and puts the
// line prefix before every segment that starts a line.
void append_lines(HANDLE file, const wchar_t* text, std::size_t length) noexcept {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t prefix[64];
    const int prefix_length = _snwprintf(prefix, 64, L"%02d:%02d:%02d [%d] ", now.wHour,
                                         now.wMinute, now.wSecond,
                                         static_cast<int>(GetCurrentProcessId()));
    if (prefix_length < 0) return;
    trace_buffer output;
    if (!output.allocate(trace_add_units(length, static_cast<std::size_t>(prefix_length))))
        return;
    for (std::size_t start = 0; start < length;) {
        const std::size_t end = trace_segment_end(text, length, start);
        std::size_t count = 0;
        if (line_start.exchange(false)) {
            std::memcpy(output.data(), prefix, prefix_length * sizeof(wchar_t));
            count = prefix_length;
        }
        std::memcpy(output.data() + count, text + start, (end - start) * sizeof(wchar_t));
        count += end - start;
        if (text[end - 1] == L'\n') line_start.store(true);
        write_units(file, output.data(), count);
        start = end;
    }
}
}  // namespace

trace_refusal_report trace_set_refusal_report(trace_refusal_report report) noexcept {
    return refusal_report.exchange(report);
}

void trace_write(const wchar_t* text, std::size_t length) noexcept {
    // Mask in a copy of our own, before any decision, so no path sees the secrets.
    trace_buffer copy;
    if (!copy.allocate(trace_add_units(length, 1))) return;
    if (length) std::memcpy(copy.data(), text, length * sizeof(wchar_t));
    copy.set_length(length);
    trace_mask_secrets(copy.data(), length);

    unique_owned_mutex lock;
    switch (trace_fresh_decision()) {
    case trace_decision::off:
        return;  // the cheap path: no lock, no registry, no file
    case trace_decision::on:
        lock = take_trace_mutex();
        break;
    case trace_decision::none: {
        lock = take_trace_mutex();
        const bool on = trace_read_switch();
        trace_store_decision(on);
        if (!on) return;
        break;
    }
    }

    trace_buffer path;
    if (!trace_file_path(path)) return;
    bool created = false;
    trace_file_refusal refusal = trace_file_refusal::none;
    unique_file file = open_trusted_trace_file(path.data(), created, refusal);
    if (!file) {
        lock.reset();  // the report may trace: it must find the mutex free of this call
        if (refusal != trace_file_refusal::none) report_refusal(path.data(), refusal);
        return;
    }
    if (created) {  // a new file: mark it UTF-16LE
        static constexpr unsigned char byte_order_mark[] = {0xFF, 0xFE};
        DWORD written = 0;
        WriteFile(file.get(), byte_order_mark, sizeof(byte_order_mark), &written, nullptr);
        line_start.store(true);
    }
    append_lines(file.get(), copy.data(), length);
}
