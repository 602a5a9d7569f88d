#pragma once
// The trace writer: masks secrets in a finished trace text and appends it to
// "TraceFile.kv" in the temporary-files directory while the trace switch is on.
#include <cstddef>

// The trace mutex, in the session-local namespace: it serialises the switch re-read, the
// line-start flag and the file append among the threads and processes of a session.
inline constexpr wchar_t trace_mutex_name[] = L"{D3D2B267-5CBA-451a-9F2E-E236A8060636}_KVA";
inline constexpr wchar_t trace_file_name[] = L"TraceFile.kv";

// Appends `length` units of `text`. Each line of the file starts with the line prefix
// "HH:MM:SS [pid] "; a text without a final line feed leaves the line open for the next
// text of this process. Never fails visibly; the text is dropped when tracing is off or
// the file cannot be written. Leaves the last-error value to the caller to restore.
void trace_write(const wchar_t* text, std::size_t length) noexcept;
