#pragma once
// The trace writer: masks secrets in a finished trace text and appends it to
// "TraceFile.kv" in the temporary-files directory while the trace switch is on.
#include <cstddef>

// The trace mutex, in the session-local namespace: it serialises the switch re-read, the
// line-start flag and the file append among the threads and processes of a session.
inline constexpr wchar_t trace_mutex_name[] = L"{D3D2B267-5CBA-451a-9F2E-E236A8060636}_KVA";
inline constexpr wchar_t trace_file_name[] = L"TraceFile.kv";

// Receives the one report of a trace file the process refused (trace_file_trust_win.h),
// a finished text, at most once per process. It may trace: the refused file gets no line.
using trace_refusal_report = void (*)(const wchar_t* text) noexcept;
// Installs the receiver (null: none, the refusal is then silent); returns the one before.
trace_refusal_report trace_set_refusal_report(trace_refusal_report report) noexcept;

// Appends `length` units of `text`. Each line of the file starts with the line prefix
// "HH:MM:SS [pid] "; a text without a final line feed leaves the line open for the next
// text of this process. Never fails visibly; the text is dropped when tracing is off or
// the file cannot be written or is refused. Leaves the last-error value to the caller to
// restore.
void trace_write(const wchar_t* text, std::size_t length) noexcept;
