// rxctl trace: the switch in the real registry as the product reads it, and the trace file
// shown and followed as the product's own trace writer appends to it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "foundation/tests/trace_capture_win.h"
#include "foundation/trace.h"
#include "foundation/trace_switch_win.h"
#include "tests/support/test_files_win.h"
#include "tools/rxctl/tests/rxctl_runner_win.h"

namespace {

constexpr wchar_t default_hive[] = L".Default";

// The switch value of a hive, or -1 when there is none.
long switch_of(const std::wstring& hive) {
    DWORD value = 0, size = sizeof value;
    const std::wstring key = hive + L"\\" + trace_test::logging_key;
    if (RegGetValueW(HKEY_USERS, key.c_str(), trace_test::switch_value, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return -1;
    return static_cast<long>(value);
}

class TraceSwitch : public ::testing::Test {
protected:
    void TearDown() override {
        trace_test::delete_switch_value(HKEY_USERS, default_hive);
        trace_test::delete_logging_key(HKEY_USERS, default_hive);
        trace_test::disable_tracing();
    }
};

TEST_F(TraceSwitch, OnAndOffWriteTheCurrentUsersValueThatTheProductReads) {
    const std::wstring user = trace_test::current_user_sid();
    ASSERT_FALSE(user.empty());
    const struct {
        const wchar_t* args;
        DWORD exit_code;
        long value;
        bool product_sees_on;
        const char* out_start;
    } rows[] = {
        {L"trace on", 0, 1, true, "tracing: on (EnableUserModeTrace = 1 under HKEY_CURRENT_USER\\Software\\Quillon\\Cryvane\\Logging)\n"},
        {L"trace on", 0, 1, true, "tracing: on"},
        {L"trace off", 0, 0, false, "tracing: off (EnableUserModeTrace = 0 under HKEY_CURRENT_USER\\"},
        {L"trace off", 0, 0, false, "tracing: off"},
        {L"trace on", 0, 1, true, "tracing: on"},
    };
    for (const auto& row : rows) {
        const rxctl_result r = run_rxctl(row.args);
        EXPECT_EQ(r.exit_code, row.exit_code) << r.err;
        EXPECT_EQ(r.out.rfind(row.out_start, 0), 0u) << r.out;
        EXPECT_EQ(switch_of(user), row.value);
        EXPECT_EQ(trace_read_switch(), row.product_sees_on);
    }
}

TEST_F(TraceSwitch, OffSaysSoWhenAnotherHiveKeepsTracingOn) {
    const DWORD one = 1;
    ASSERT_TRUE(trace_test::set_switch_value(HKEY_USERS, default_hive, REG_DWORD, &one, sizeof one));
    const rxctl_result r = run_rxctl(L"trace off");
    EXPECT_EQ(r.exit_code, 1u);
    EXPECT_EQ(r.out.rfind("tracing: on (EnableUserModeTrace = 0", 0), 0u) << r.out;
    EXPECT_NE(r.err.find("tracing stays on"), std::string::npos) << r.err;
    EXPECT_EQ(switch_of(trace_test::current_user_sid()), 0);
}

TEST(TraceCommand, UsageErrorsExitTwo) {
    for (const wchar_t* args : {L"trace", L"trace maybe", L"trace on now", L"trace show --process",
                                L"trace show --process 12x", L"trace show --process 99999999999",
                                L"trace show --file", L"trace show --later"}) {
        const rxctl_result r = run_rxctl(args);
        EXPECT_EQ(r.exit_code, 2u) << testing::PrintToString(std::wstring(args));
        EXPECT_NE(r.err.find("usage: rxctl trace"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST(TraceShow, TheFileDecodedWholeOrForOneProcess) {
    const std::wstring other = test_files::temporary_path(L"rxctl_trace", L"other.kv");
    const std::u16string lines =
        u"09:05:03 [812] P: 812,T:1234 X::y[0]\n"
        u"09:05:03 [90] X::z: Error: 0x80004005 ==> Unspecified error\r\n"
        u"09:05:04 [812] h\u00E9 \u20AC\n";
    ASSERT_TRUE(test_files::write(other, utf16le(lines)));
    const std::string all = "09:05:03 [812] P: 812,T:1234 X::y[0]\n"
                            "09:05:03 [90] X::z: Error: 0x80004005 ==> Unspecified error\n"
                            "09:05:04 [812] h\xC3\xA9 \xE2\x82\xAC\n";
    const std::wstring file = L" --file \"" + other + L"\"";
    const struct {
        std::wstring args;
        std::string out;
    } rows[] = {
        {L"trace show" + file, all},
        {L"trace show --process 90" + file, "09:05:03 [90] X::z: Error: 0x80004005 ==> Unspecified error\n"},
        {L"trace show" + file + L" --process 812",
         "09:05:03 [812] P: 812,T:1234 X::y[0]\n09:05:04 [812] h\xC3\xA9 \xE2\x82\xAC\n"},
        {L"trace show --process 7" + file, ""},
    };
    for (const auto& row : rows) {
        const rxctl_result r = run_rxctl(row.args);
        EXPECT_EQ(r.exit_code, 0u) << r.err;
        EXPECT_EQ(r.out, row.out);
    }
    DeleteFileW(other.c_str());
    const rxctl_result missing = run_rxctl(L"trace show" + file);
    EXPECT_EQ(missing.exit_code, 1u);
    EXPECT_NE(missing.err.find("there is no trace file"), std::string::npos) << missing.err;
    EXPECT_NE(missing.err.find("; tracing is o"), std::string::npos) << "the switch as it is: " << missing.err;
}

TEST(TraceShow, TheProductsOwnTraceFileByDefault) {
    trace_test::trace_capture capture;
    ASSERT_TRUE(capture.ready());
    trace_message(L"TraceShow::test", L"written by %s\n", L"the test");
    const std::string pid = std::to_string(GetCurrentProcessId());
    const rxctl_result r = run_rxctl(L"trace show --process " + std::to_wstring(GetCurrentProcessId()));
    EXPECT_EQ(r.exit_code, 0u) << r.err;
    EXPECT_NE(r.out.find(" [" + pid + "] P:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("TraceShow::test: written by the test\n"), std::string::npos) << r.out;
}

TEST(TraceShow, FollowPrintsNewLinesAndAReplacedFileFromItsStart) {
    trace_test::trace_capture capture;
    ASSERT_TRUE(capture.ready());
    trace_message(L"TraceFollow::test", L"before %d\n", 1);
    rxctl_session follower(L"trace show --follow --process " + std::to_wstring(GetCurrentProcessId()));
    ASSERT_TRUE(follower.started());
    EXPECT_TRUE(follower.read_until("TraceFollow::test: before 1\n")) << follower.output();
    // An open line is printed once it is complete.
    trace_message(L"TraceFollow::test", L"appended, ");
    trace_message(L"TraceFollow::test", L"line %d\n", 2);
    EXPECT_TRUE(follower.read_until("TraceFollow::test: appended, P:")) << follower.output();
    EXPECT_TRUE(follower.read_until("TraceFollow::test: line 2\n")) << follower.output();
    // Deleted and written anew: the new file from its start.
    ASSERT_TRUE(trace_test::delete_trace_file());
    trace_message(L"TraceFollow::test", L"after the replacement\n");
    EXPECT_TRUE(follower.read_until("TraceFollow::test: after the replacement\n")) << follower.output();
    EXPECT_EQ(follower.output().find("before 1", follower.output().find("line 2")), std::string::npos)
        << "the old lines are not printed again";
}

}  // namespace
