// The trace switch read from the registry of the test prefix: which values turn tracing
// on, the HKEY_LOCAL_MACHINE fallback and the lifetime of a decision.
#include "foundation/trace.h"
#include "foundation/trace_test_seam_win.h"
#include "foundation/tests/trace_capture_win.h"

#include <gtest/gtest.h>

#include <string>

namespace {
using namespace trace_test;

class TraceSwitch : public ::testing::Test {
protected:
    void SetUp() override {
        sid_ = current_user_sid();
        ASSERT_FALSE(sid_.empty());
        ASSERT_TRUE(delete_trace_file());
    }
    void TearDown() override {
        delete_switch_value(HKEY_USERS, sid_);
        delete_switch_value(HKEY_LOCAL_MACHINE, sid_);
        delete_logging_key(HKEY_LOCAL_MACHINE, sid_);
        trace_set_switch_lifetime(trace_default_switch_lifetime);
        trace_forget_switch_decision();
        delete_trace_file();
    }
    // One message after the decision was forgotten: true when it reached a file.
    bool message_written() {
        trace_forget_switch_decision();
        trace_message(L"TraceSwitch::probe", L"probe\n");
        return trace_file_exists();
    }
    std::wstring sid_;
};

TEST_F(TraceSwitch, OnlyDwordOneTurnsTracingOn) {
    struct Case { const char* what; DWORD type; std::uint64_t data; DWORD size; bool on; };
    const Case cases[] = {
        {"dword 1", REG_DWORD, 1, 4, true},
        {"dword 0", REG_DWORD, 0, 4, false},
        {"dword 2", REG_DWORD, 2, 4, false},
        {"qword 1", REG_QWORD, 1, 8, false},
        {"binary 01 00 00 00", REG_BINARY, 1, 4, false},
        {"dword 0x101", REG_DWORD, 0x101, 4, false},
    };
    EXPECT_FALSE(message_written()) << "no value";
    for (const auto& c : cases) {
        ASSERT_TRUE(set_switch_value(HKEY_USERS, sid_, c.type, &c.data, c.size));
        EXPECT_EQ(message_written(), c.on) << c.what;
        ASSERT_TRUE(delete_trace_file());
    }
    const wchar_t one_as_text[] = L"1";
    ASSERT_TRUE(set_switch_value(HKEY_USERS, sid_, REG_SZ, one_as_text, sizeof(one_as_text)));
    EXPECT_FALSE(message_written()) << "string \"1\"";
}

TEST_F(TraceSwitch, AnyLoadedHiveTurnsItOnAndClearingTurnsItOff) {
    // The default hive is enumerated before the user's: the switch in it counts too.
    const DWORD one = 1, zero = 0;
    ASSERT_TRUE(set_switch_value(HKEY_USERS, L".Default", REG_DWORD, &one, 4));
    EXPECT_TRUE(message_written());
    ASSERT_TRUE(set_switch_value(HKEY_USERS, L".Default", REG_DWORD, &zero, 4));
    ASSERT_TRUE(delete_switch_value(HKEY_USERS, L".Default"));
    ASSERT_TRUE(delete_trace_file());
    EXPECT_FALSE(message_written());
    ASSERT_TRUE(set_switch_value(HKEY_USERS, sid_, REG_DWORD, &one, 4));
    EXPECT_TRUE(message_written());
    ASSERT_TRUE(set_switch_value(HKEY_USERS, sid_, REG_DWORD, &zero, 4));
    ASSERT_TRUE(delete_trace_file());
    EXPECT_FALSE(message_written());
}

TEST_F(TraceSwitch, FallsBackToLocalMachineOnlyWhenTheUserKeyIsMissing) {
    const DWORD one = 1;
    ASSERT_TRUE(delete_logging_key(HKEY_USERS, sid_));
    ASSERT_TRUE(set_switch_value(HKEY_LOCAL_MACHINE, sid_, REG_DWORD, &one, 4));
    EXPECT_TRUE(message_written()) << "HKLM\\<hive>\\...";
    // With the user's key present (even without the value) HKLM is not consulted.
    ASSERT_TRUE(set_switch_value(HKEY_USERS, sid_, REG_DWORD, &one, 4));
    ASSERT_TRUE(delete_switch_value(HKEY_USERS, sid_));
    ASSERT_TRUE(delete_trace_file());
    EXPECT_FALSE(message_written());
}

TEST_F(TraceSwitch, DecisionLastsItsLifetime) {
    // A decision younger than its lifetime is kept whatever the registry says meanwhile;
    // one as old as its lifetime is taken again. A lifetime that never ends and one that
    // has always ended keep both sides independent of how fast the test runs.
    constexpr std::uint32_t never_ages = 0xFFFFFFFFu, aged = 0;
    const DWORD one = 1;
    trace_set_switch_lifetime(never_ages);
    EXPECT_FALSE(message_written());  // takes an off decision
    ASSERT_TRUE(set_switch_value(HKEY_USERS, sid_, REG_DWORD, &one, 4));
    trace_message(L"TraceSwitch::probe", L"still off\n");
    EXPECT_FALSE(trace_file_exists());
    trace_set_switch_lifetime(aged);
    trace_message(L"TraceSwitch::probe", L"on now\n");  // takes an on decision
    EXPECT_TRUE(trace_file_exists());
    trace_set_switch_lifetime(never_ages);
    ASSERT_TRUE(delete_switch_value(HKEY_USERS, sid_));
    ASSERT_TRUE(delete_trace_file());
    trace_message(L"TraceSwitch::probe", L"still on\n");
    EXPECT_TRUE(trace_file_exists());
    ASSERT_TRUE(delete_trace_file());
    trace_set_switch_lifetime(aged);
    trace_message(L"TraceSwitch::probe", L"off now\n");
    EXPECT_FALSE(trace_file_exists());
}
}  // namespace
