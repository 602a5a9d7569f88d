#pragma once
// The manager component double (kv_manager_double.dll): an in-process COM server of
// CLSID_RX_manager_component (ThreadingModel "Both") implementing RX_manager_i, for tests
// of the service's start, routing and stop. It records what it sees in the registry, where
// a test in another process reads it:
//
//   HKLM\Software\KvTestDoubles\Manager
//     Mode         REG_DWORD  mode of the last start_manager call
//     StartCount   REG_DWORD  start_manager calls (failed ones included)
//     StopCount    REG_DWORD  stop events seen by the stop threads (KV_event::wait returned true)
//     DoneCount    REG_DWORD  done events set by the stop threads
//     DoneTime     REG_QWORD  when the last done event was set (FILETIME, UTC; written just before)
//     CallCount    REG_DWORD  forward_call calls (quiet_echo calls excepted)
//     LastCall     REG_SZ     name of the last forward_call (quiet_echo calls excepted)
//   switch, set by tests:
//     StartFailure REG_DWORD  start_manager returns this HRESULT and starts nothing
//
// start_manager starts a thread that waits for the stop event and then sets the done event,
// both through the KV_event objects' function tables (entry 3 wait with 0xFFFFFFFF, entry 1
// set_event), as the real component, built with another compiler, does.
//
// The double comes in two builds that behave alike: kv_manager_double.dll (this project's
// compiler, which reaches the events' table entries by index) and kv_manager_double_msvc.dll
// (clang with the platform compiler's ABI, the real component's, which declares KV_event and
// RX_manager_i as that compiler lays them out and calls them by name; tests/doubles/manager/msvc).
// Both register the one class; the last registered is the one COM loads.
//
// forward_call behaves as its name asks (`result` receives a BSTR the caller frees):
#include <windows.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace manager_double {

// S_OK, result = a copy of the envelope. Also what every other name gets.
inline constexpr const wchar_t* echo = L"manager_echo";
// S_OK, result = a copy of the envelope, and nothing recorded: for benchmarks, where the
// registry writes of the recording would cost more than the rest of the service's work.
inline constexpr const wchar_t* quiet_echo = L"manager_quiet_echo";
// S_FALSE, result = a copy of the envelope.
inline constexpr const wchar_t* s_false = L"manager_s_false";
// S_OK, result stays null.
inline constexpr const wchar_t* no_result = L"manager_no_result";
// failure_status, and still result = a copy of the envelope (the caller must free it).
inline constexpr const wchar_t* fail = L"manager_fail";
// S_OK, result = a copy of the envelope; from now on the process's stop threads do not set
// their done events (a service holding this manager does not finish stopping) until a test
// calls release_done(), which lets one waiting stop thread go on.
inline constexpr const wchar_t* never_done = L"manager_never_done";
inline constexpr const wchar_t* release_done_event = L"Global\\KvManagerDoubleReleaseDone";
// A manager that misbehaves within the contract's rules:
// failure_status with a result of long_text_units units: longer than the texts the BSTR
// allocator caches, so that the allocator's own free shows whether the caller freed it.
inline constexpr const wchar_t* fail_long_text = L"manager_fail_long_text";
inline constexpr unsigned long long long_text_units = 40000;
// S_FALSE and failure_status, each with the result left null.
inline constexpr const wchar_t* s_false_no_result = L"manager_s_false_no_result";
inline constexpr const wchar_t* fail_no_result = L"manager_fail_no_result";
// other_success_status (a success that is neither S_OK nor S_FALSE), result = a copy of the envelope.
inline constexpr const wchar_t* other_success = L"manager_other_success";
inline constexpr HRESULT other_success_status = static_cast<HRESULT>(0x00040D03);
// S_OK, result = what the events of the last start_manager answer, asked by the double
// through their operations: "<stop object_name, or (null)>|<stop event_handle, decimal>|
// <done reset_event>|<done wait(0)>", the last two as 1 or 0.
inline constexpr const wchar_t* event_probe = L"manager_event_probe";

// The failure `fail` returns: MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0D01).
inline constexpr HRESULT failure_status = static_cast<HRESULT>(0x80040D01);

inline constexpr const wchar_t* key_path = L"Manager";  // below HKLM\Software\KvTestDoubles
namespace value {
inline constexpr const wchar_t* mode = L"Mode";
inline constexpr const wchar_t* start_count = L"StartCount";
inline constexpr const wchar_t* stop_count = L"StopCount";
inline constexpr const wchar_t* done_count = L"DoneCount";
inline constexpr const wchar_t* done_time = L"DoneTime";
inline constexpr const wchar_t* call_count = L"CallCount";
inline constexpr const wchar_t* last_call = L"LastCall";
inline constexpr const wchar_t* start_failure = L"StartFailure";
}  // namespace value

// What the double recorded (absent values read as 0 / nothing).
struct state {
    std::optional<DWORD> mode;
    DWORD start_count = 0;
    DWORD stop_count = 0;
    DWORD done_count = 0;
    std::optional<std::uint64_t> done_time;
    DWORD call_count = 0;
    std::optional<std::wstring> last_call;
};

// The builds of the double, for tests that run against each.
struct build {
    const char* label;
    const wchar_t* dll;
};
inline constexpr build builds[] = {
    {"mingw", L"kv_manager_double.dll"},
    {"platform_abi", L"kv_manager_double_msvc.dll"},
};
// Test names show the label (Builds/<suite>.<case>/<label>).
inline void PrintTo(const build& which, std::ostream* out) { *out << which.label; }

// Registers kv_manager_double.dll in the prefix (idempotent).
HRESULT register_double();
// Registers the given build's DLL as the class's server.
HRESULT register_double(const build& which);
// Forgets every record and switch.
bool reset();
state read_state();
// start_manager fails with `status` until clear_start_failure.
bool set_start_failure(HRESULT status);
bool clear_start_failure();
// Lets one stop thread held by never_done set its done event.
bool release_done();

}  // namespace manager_double
