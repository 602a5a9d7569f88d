#pragma once
// Shared by the reliability tests and the out-of-process call benchmark: the agent GUID the
// core command reads, distinct call envelopes, what the dispatcher's rules say a call must
// answer, and what the service process holds (handles, private bytes).
#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "service/tests/service_host_support_win.h"

namespace reliability {

inline constexpr wchar_t core_command[] = L"core_has_agent_GUID_changed";
// The core command's answer while the recorded agent GUID equals the current one.
inline constexpr wchar_t core_unchanged_answer[] = L"\xFEFF<?xml version=\"1.0\"?>\r\n  <value>false</value>\r\n";

// For its lifetime the agent has a GUID and the product has recorded it, so that the core
// command answers core_unchanged_answer; afterwards both keys are gone.
class recorded_agent_guid {
public:
    recorded_agent_guid();
    ~recorded_agent_guid();
    recorded_agent_guid(const recorded_agent_guid&) = delete;
    recorded_agent_guid& operator=(const recorded_agent_guid&) = delete;
    bool ready() const noexcept { return ready_; }
private:
    bool ready_ = false;
};

// An envelope for `function` that no other client or call sends: it names the client and
// the call, and carries about `payload_bytes` of text.
std::wstring envelope(const wchar_t* function, unsigned client, unsigned call, std::size_t payload_bytes = 64);

// What a call must answer by the dispatcher's rules, for the unscrambled argument `plain`
// (up to its first NUL), with the manager double as executor and the agent GUID recorded.
struct expected_answer {
    HRESULT returned = S_FALSE;
    LONG ret_code = E_INVALIDARG;
    std::optional<std::wstring> result;  // nothing: `ret` stays null
};
expected_answer expected_for(const std::wstring& plain);
// The refusal of an argument that is no envelope.
inline expected_answer refused() { return expected_answer{}; }

// The outcome equals the expectation (return value, ret_code, result).
::testing::AssertionResult answered(const service_host_test::call_outcome& outcome, const expected_answer& expected);
// Scrambles the envelope, calls, and checks the answer against expected_for(envelope).
::testing::AssertionResult call_and_check(RX_core_service_disp_i* dispatcher, const std::wstring& envelope);

// The registered service started through the control manager with tracing off and the
// agent GUID recorded, and a connection of this (single-threaded apartment) thread.
class RunningService : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Same service process, still running, and a new connection gets right answers.
    ::testing::AssertionResult still_serving();

    service_host_test::registered_service service_{service_host_test::tracing::off};
    recorded_agent_guid agent_;
    DWORD process_id_ = 0;
    com_ptr<RX_core_service_disp_i> dispatcher_;
};

// What a process holds. Wine 8 answers GetProcessHandleCount with 0 and leaves PrivateUsage
// 0 for every process: the handles are then counted in the system handle table, and the
// private bytes read from PagefileUsage (Wine: the process's resident anonymous memory; on
// Windows PrivateUsage and PagefileUsage are the same commit charge).
struct process_usage {
    DWORD handles = 0;
    DWORD reported_handles = 0;  // GetProcessHandleCount as it came
    SIZE_T private_bytes = 0;
    SIZE_T reported_private_usage = 0;  // PrivateUsage as it came
    bool valid = false;
};
process_usage usage_of(DWORD process_id);

}  // namespace reliability
