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
        {L"help frobnicate", "rxctl: unknown command 'frobnicate'"},
        {L"scramble /frob", "rxctl: unknown argument '/frob' for scramble"},
        {L"doctor --exe", "usage: rxctl doctor [--exe PATH] [--json]\nrun 'rxctl help doctor' for what it does\n"},
    };
    for (const row& r : rows) {
        const rxctl_result got = run_rxctl(r.args);
        EXPECT_EQ(got.exit_code, 2u) << r.message;
        EXPECT_EQ(got.out, "") << r.message;
        EXPECT_NE(got.err.find(r.message), std::string::npos) << got.err;
    }
}

// Help never acts: --help, -h or /? anywhere after a command, and `help COMMAND`, print
// that command's part of the --help text to standard output; a usage error shows its
// usage lines and where its help is, so the texts cannot drift apart.
TEST(RxctlFrame, EachCommandHasItsOwnHelpAndUsage) {
    const std::string help = run_rxctl(L"--help").out;
    struct row { const wchar_t* help_args; const wchar_t* error_args; const char* usage; const char* description; };
    const row rows[] = {
        {L"vault send-op5 --help", L"vault bogus", "usage: rxctl vault unload-user-bkeys [SID]\n",
         "Send operation 5, which takes no arguments.\n"},
        {L"help watch", L"watch", "usage: rxctl watch USER NOTIFICATION... [--count N] [--timeout MS]\n",
         "no signal came within MS milliseconds."},
        {L"xml --help missing.xml", L"xml", "usage: rxctl xml IN [OUT]\n", "2 when IN cannot be read or OUT cannot\n"},
        {L"STATUS -H", L"status extra", "usage: rxctl status [--json]\n", "1 otherwise; then one line on standard error says why."},
        {L"call --help", L"call", "usage: rxctl call NAME [--envelope FILE]\n", "starts the service, or the local"},
        {L"trace show /?", L"trace", "usage: rxctl trace on | off\n       rxctl trace show", "newest one\n"},
        {L"Help Doctor", L"doctor extra", "usage: rxctl doctor [--exe PATH] [--json]\n", "mend names only"},
        {L"scramble --HELP", L"scramble x", "usage: rxctl scramble [--hex]", "its scrambled form to\n"},
    };
    for (const row& r : rows) {
        const rxctl_result asked = run_rxctl(r.help_args);
        EXPECT_EQ(asked.exit_code, 0u) << asked.err;
        EXPECT_EQ(asked.err, "");
        EXPECT_EQ(asked.out.find(r.usage), 0u) << asked.out;
        EXPECT_NE(asked.out.find(r.description), std::string::npos) << asked.out;
        EXPECT_NE(help.find(r.description), std::string::npos) << r.description;
        const rxctl_result wrong = run_rxctl(r.error_args);
        EXPECT_EQ(wrong.exit_code, 2u) << r.usage;
        EXPECT_NE(wrong.err.find(r.usage), std::string::npos) << wrong.err;
        EXPECT_EQ(wrong.err.find(r.description), std::string::npos) << wrong.err;
    }
}

// The version from rxctl's own resource: the build's version, four parts.
TEST(RxctlFrame, VersionFromTheResource) {
    const rxctl_result r = run_rxctl(L"--version");
    EXPECT_EQ(r.exit_code, 0u) << r.err;
    EXPECT_EQ(r.out, "rxctl " KV_TEST_PRODUCT_VERSION ".0\n") << r.out;
}

// Commands, actions and options in any case, options also as /name (values as they are).
TEST(RxctlFrame, CaseAndTheSlashFormMeanTheSameCommand) {
    const std::string expected = run_rxctl(L"scramble --hex", "0041 0042").out;
    ASSERT_FALSE(expected.empty());
    for (const wchar_t* args : {L"SCRAMBLE /HEX", L"Scramble /hex", L"scramble --Hex"}) {
        const rxctl_result r = run_rxctl(args, "0041 0042");
        EXPECT_EQ(r.exit_code, 0u) << r.err;
        EXPECT_EQ(r.out, expected);
    }
}

}  // namespace
