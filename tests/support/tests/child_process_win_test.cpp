// The child mode of the test main: a role runs instead of the tests and its return value
// becomes the exit code; a role this program does not have exits 2.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/child_process_win.h"

namespace {
// "exit:<code>": exits with the code it is given.
int exit_role(const std::wstring& argument) { return std::stoi(argument); }
const child_process::role exit_child{L"exit", exit_role};

TEST(ChildProcess, TheRoleDecidesTheExitCode) {
    for (const wchar_t* code : {L"0", L"7", L"255"}) {
        const unique_handle child = child_process::start(L"exit", code);
        ASSERT_TRUE(child);
        EXPECT_EQ(child_process::wait_for_exit(child.get()), static_cast<DWORD>(std::stoul(code)));
    }
}

TEST(ChildProcess, AnUnknownRoleExitsTwo) {
    const unique_handle child = child_process::start(L"no-such-role", L"x");
    ASSERT_TRUE(child);
    EXPECT_EQ(child_process::wait_for_exit(child.get()), 2u);
}

TEST(ChildProcess, UniqueNamesDiffer) {
    EXPECT_NE(child_process::unique_name(L"a"), child_process::unique_name(L"a"));
}
}  // namespace
