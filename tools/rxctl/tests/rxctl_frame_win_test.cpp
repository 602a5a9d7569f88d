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

}  // namespace
