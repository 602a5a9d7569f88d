// Cost of the trace operations: a message while tracing is off (a fresh decision), beside
// the cost of formatting the same line alone, and one traced line while tracing is on.
// Prints figures only.
#include "foundation/trace.h"
#include "foundation/trace_test_seam_win.h"
#include "foundation/tests/trace_capture_win.h"

#include <windows.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cwchar>

namespace {
using clock_type = std::chrono::steady_clock;

template <typename F>
double nanoseconds_per_call(int count, F&& call) {
    const auto start = clock_type::now();
    for (int i = 0; i < count; ++i) call(i);
    const auto elapsed = clock_type::now() - start;
    return std::chrono::duration<double, std::nano>(elapsed).count() / count;
}

volatile int sink;

// The complete line trace_message produces, formatted once with the legacy formatter.
void format_line(const wchar_t* format, ...) {
    wchar_t line[512];
    va_list args;
    va_start(args, format);
    sink = _vsnwprintf(line, 512, format, args);
    va_end(args);
}
}  // namespace

int main() {
    // Keep one decision fresh for the whole run instead of re-reading every 3000 ms.
    trace_set_switch_lifetime(600000);
    trace_test::disable_tracing();
    trace_test::delete_trace_file();
    trace_message(L"RX_core_service_disp::call_function", L"takes the off decision\n");

    const int count = 200000;
    const DWORD pid = GetCurrentProcessId(), tid = GetCurrentThreadId();
    DWORD handles_before = 0, handles_after = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles_before);
    const double off = nanoseconds_per_call(count, [](int i) {
        trace_message(L"RX_core_service_disp::call_function", L"step %d of %s done\n", i, L"decode");
    });
    GetProcessHandleCount(GetCurrentProcess(), &handles_after);
    const double alone = nanoseconds_per_call(count, [&](int i) {
        format_line(L"P:%4d,T:%4d RX_core_service_disp::call_function: step %d of %s done\n",
                    static_cast<int>(pid), static_cast<int>(tid), i, L"decode");
    });
    const double scope_off = nanoseconds_per_call(count, [](int) {
        trace_scope(L"RX_core_service_disp::call_function");
    });
    std::printf("trace_message, tracing off (fresh decision): %8.0f ns/call\n", off);
    std::printf("formatting the same line alone:               %8.0f ns/call  (ratio %.2f)\n",
                alone, off / alone);
    std::printf("trace_scope without format, tracing off:      %8.0f ns/call\n", scope_off);
    std::printf("handles opened by the off path:               %8ld\n",
                static_cast<long>(handles_after) - static_cast<long>(handles_before));
    std::printf("file created by the off path:                 %8s\n",
                trace_test::trace_file_exists() ? "yes" : "no");

    trace_test::enable_tracing();
    const int lines = 2000;
    const double on = nanoseconds_per_call(lines, [](int i) {
        trace_message(L"RX_core_service_disp::call_function", L"step %d of %s done\n", i, L"decode");
    });
    std::printf("trace_message, tracing on (one line written): %8.1f us/line (%d lines)\n",
                on / 1000.0, lines);
    trace_test::disable_tracing();
    trace_test::delete_trace_file();
    return 0;
}
