#include "tools/rxctl/tests/rxctl_runner_win.h"

#include <gtest/gtest.h>

namespace {

TEST(RxctlFrame, HelpDescribesEveryCommand) {
    const rxctl_result r = run_rxctl(L"--help");
    EXPECT_EQ(r.exit_code, 0u) << r.err;
    EXPECT_EQ(r.err, "");
    for (const char* word : {"scramble [--hex]", "unscramble [--hex]", "xml IN [OUT]", "--hex",
                             "vault unload-user-bkeys [SID]", "vault remove-sso-data [SID]",
                             "vault unload-lkey {GUID}", "vault send-op5", "vault load-lkey",
                             "watch USER NOTIFICATION... [--count N] [--timeout MS]",
                             "Exit codes: 0 success, 1 operation failed, 2 usage or I/O error."}) {
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    }
}

TEST(RxctlFrame, UsageErrorsExitTwoWithAMessageOnStandardError) {
    struct row { const wchar_t* args; const char* message; };
    const row rows[] = {
        {L"", "usage: rxctl COMMAND"},
        {L"frobnicate", "rxctl: unknown command 'frobnicate'; run 'rxctl --help' for the list of commands\n"},
        {L"SCRAMBLE", "rxctl: unknown command 'SCRAMBLE'"},
    };
    for (const row& r : rows) {
        const rxctl_result got = run_rxctl(r.args);
        EXPECT_EQ(got.exit_code, 2u) << r.message;
        EXPECT_EQ(got.out, "") << r.message;
        EXPECT_NE(got.err.find(r.message), std::string::npos) << got.err;
    }
}

// A command's usage error shows that command's part of the --help text, so the two
// cannot drift apart.
TEST(RxctlFrame, UsageErrorsShowTheCommandsOwnHelp) {
    const std::string help = run_rxctl(L"--help").out;
    struct row { const wchar_t* args; const char* usage; const char* description; };
    const row rows[] = {
        {L"vault bogus", "usage: rxctl vault unload-user-bkeys [SID]\n", "Send operation 5, which takes no arguments.\n"},
        {L"watch", "usage: rxctl watch USER NOTIFICATION... [--count N] [--timeout MS]\n",
         "no signal came within MS milliseconds.\n"},
        {L"xml", "usage: rxctl xml IN [OUT]\n", "Exit 0 when it loaded, 1 when loading (or saving) failed.\n"},
        {L"status extra", "usage: rxctl status\n", "start event is signalled, 1 otherwise.\n"},
    };
    for (const row& r : rows) {
        const rxctl_result got = run_rxctl(r.args);
        EXPECT_EQ(got.exit_code, 2u) << r.usage;
        EXPECT_NE(got.err.find(r.usage), std::string::npos) << got.err;
        EXPECT_NE(got.err.find(r.description), std::string::npos) << got.err;
        EXPECT_NE(help.find(r.description), std::string::npos) << r.description;
    }
}

}  // namespace
