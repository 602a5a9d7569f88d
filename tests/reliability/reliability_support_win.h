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
// the call, and carries about `payload_bytes` of text. It is written as the service's
// serializer writes a document (byte-order mark, the declaration line, two spaces of
// indentation per level, CR LF after each element), so that the copy the service hands to
// an executor, and the manager double echoes, is this very text.
std::wstring envelope(const wchar_t* function, unsigned client, unsigned call, std::size_t payload_bytes = 64);

// What a call answers: return value, ret_code and result.
struct expected_answer {
    HRESULT returned = S_FALSE;
    LONG ret_code = E_INVALIDARG;
    std::optional<std::wstring> result;  // nothing: `ret` stays null
};
// The refusal of an argument that is no envelope.
inline expected_answer refused() { return expected_answer{}; }

// What the service must answer, with the manager double as executor and the agent GUID
// recorded, for `envelope`: a text in the serializer's layout (as envelope() writes it)
// whose function is `function`. Echoes are the envelope itself. Nothing for the one name
// whose answer depends on other state (manager_double::event_probe).
std::optional<expected_answer> expected_for(const std::wstring& function, const std::wstring& envelope);

// The outcome equals the expectation (return value, ret_code, result).
::testing::AssertionResult answered(const service_host_test::call_outcome& outcome, const expected_answer& expected);
// For a text whose outcome depends on the parser's details (`plain`: the unscrambled
// argument up to its first NUL): the outcome is the refusal, or one of the answers the
// routing rules allow for what the text holds: the quit token's (only for the quit token
// itself), the core command's (only when the text holds its name), one of the manager
// double's named answers (only when the text holds that name), or an echo of a
// re-serialized envelope (only when the text holds "function").
::testing::AssertionResult answered_by_the_rules(const service_host_test::call_outcome& outcome,
                                                 const std::wstring& plain);
// Scrambles the envelope of `function`, calls, and checks the answer against
// expected_for(function, envelope).
::testing::AssertionResult call_and_check(RX_core_service_disp_i* dispatcher, const wchar_t* function,
                                          const std::wstring& envelope);

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
