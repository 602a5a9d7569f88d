#pragma once
// Test support for any test executable that turns tracing on and reads the trace file
// (library kvtrace_test_support). Tests that use it share the trace file and the switch:
// give them the CTest resource lock "trace_log".
//
//   trace_capture capture;           // fresh file, tracing on, decision forgotten
//   trace_message(L"X::y", L"hello\n");
//   auto lines = capture.lines();     // {L"12:00:00 [42] P:  42,T:  43 X::y: hello"}
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace trace_test {

// Registry path of the switch below a hive: "Software\Quillon\Cryvane\Logging".
inline constexpr wchar_t logging_key[] = L"Software\\Quillon\\Cryvane\\Logging";
inline constexpr wchar_t switch_value[] = L"EnableUserModeTrace";

// The string SID of the user the process runs as (under Wine: "S-1-5-21-0-0-0-1000"),
// read from the process token; empty on failure.
std::wstring current_user_sid();

// Sets the switch under `root`\`hive`\Software\Quillon\Cryvane\Logging (key created as
// needed) to a value of the given type and bytes. True on success.
bool set_switch_value(HKEY root, const std::wstring& hive, DWORD type, const void* data,
                      DWORD size);
// Deletes the switch value there (true also when it was absent).
bool delete_switch_value(HKEY root, const std::wstring& hive);
// Deletes the Logging key there, so that the reader falls back to HKEY_LOCAL_MACHINE
// (true also when it was absent).
bool delete_logging_key(HKEY root, const std::wstring& hive);

// EnableUserModeTrace = 1 (REG_DWORD) in the current user's hive, then forgets the
// process's switch decision so that the next trace call sees it.
bool enable_tracing();
// Removes the value from the current user's hive and forgets the decision.
bool disable_tracing();
// Makes the next trace call read the registry again.
void forget_switch_decision();

// Full path of "TraceFile.kv" in the temporary-files directory.
std::wstring trace_file_path();
bool trace_file_exists();
// Deletes the trace file (true also when it was absent).
bool delete_trace_file();
// The file's bytes, or nothing when it does not exist.
std::optional<std::vector<std::uint8_t>> read_trace_bytes();
// The file's text after its byte-order mark, decoded as UTF-16LE.
std::wstring read_trace_text();
// The text cut at line feeds (line feeds removed, carriage returns kept); an unfinished
// last line is included.
std::vector<std::wstring> read_trace_lines();

// Splits "HH:MM:SS [pid] rest": the rest when the line starts with a well-formed prefix
// for `pid`, nothing otherwise.
std::optional<std::wstring> strip_line_prefix(const std::wstring& line, DWORD pid);

// For the length of a test: an empty trace file, tracing on in the current user's hive;
// on destruction tracing off, the decision forgotten and the file deleted.
class trace_capture {
public:
    trace_capture();
    ~trace_capture();
    trace_capture(const trace_capture&) = delete;
    trace_capture& operator=(const trace_capture&) = delete;
    bool ready() const noexcept { return ready_; }
    std::vector<std::wstring> lines() const { return read_trace_lines(); }
private:
    bool ready_ = false;
};

}  // namespace trace_test
