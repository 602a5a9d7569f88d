// rxctl watch against events signalled the way the service signals them. The events
// reset themselves and keep a signal until somebody waits, so a test signals first and
// watches after.
#include "tools/rxctl/tests/rxctl_runner_win.h"

#include <gtest/gtest.h>

#include "dispatcher/notifications_win.h"

namespace {

// The events of NETWORK SERVICE, which no other test signals; the names as the service
// names them, typed in any case.
TEST(WatchCommand, PrintsOneLinePerSignalAndEndsAfterCount) {
    notification_map service;
    notify(service, L"X::notify", L"NETWORK SERVICE", L"screen_lock");
    notify(service, L"X::notify", L"NETWORK SERVICE", L"user_logoff");
    const rxctl_result r = run_rxctl(L"watch \"NETWORK SERVICE\" User_Logoff screen_lock --count 2");
    ASSERT_EQ(r.exit_code, 0u) << r.err;
    // "YYYY-MM-DD HH:MM:SS.mmm NETWORK SERVICE S-1-5-20 <notification>\n", in the order of the list.
    const std::size_t end = r.out.find('\n');
    ASSERT_NE(end, std::string::npos) << r.out;
    const std::string first = r.out.substr(0, end + 1), second = r.out.substr(end + 1);
    ASSERT_GT(first.size(), 24u) << first;
    EXPECT_EQ(first.substr(4, 1) + first.substr(10, 1) + first.substr(19, 1), "- .");
    EXPECT_EQ(first.substr(24), "NETWORK SERVICE S-1-5-20 user_logoff\n");
    ASSERT_GT(second.size(), 24u) << second;
    EXPECT_EQ(second.substr(24), "NETWORK SERVICE S-1-5-20 screen_lock\n");
}

TEST(WatchCommand, EndsWithOneWhenNothingCameInTime) {
    const rxctl_result r = run_rxctl(L"watch \"NETWORK SERVICE\" system_shutdown --timeout 100");
    EXPECT_EQ(r.exit_code, 1u);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("no notification within 100 ms"), std::string::npos) << r.err;
}

TEST(WatchCommand, UsageErrorsExitTwo) {
    for (const wchar_t* args : {L"watch", L"watch SYSTEM", L"watch SYSTEM screen_lock --count 0",
                                L"watch SYSTEM screen_lock --timeout", L"watch SYSTEM screen_lock --count x",
                                L"watch SYSTEM bogus_event", L"watch nosuchuser screen_lock"}) {
        const rxctl_result r = run_rxctl(args);
        EXPECT_EQ(r.exit_code, 2u) << r.err;
        EXPECT_NE(r.err.find("usage: rxctl watch"), std::string::npos) << r.err;
    }
}

}  // namespace
