#pragma once
// Second processes of a test program. A test starts its own executable in a named role
// ("signal", "caller", ...); the shared test main (test_main_win.cpp) sees the role on the
// command line and runs the role's function instead of GoogleTest, and the function's
// return value becomes the process's exit code. Roles are plain functions, not tests, so
// the test list holds only tests.
//
//   int signal_role(const std::wstring& argument) { ...; return 0; }
//   const child_process::role signal{L"signal", signal_role};
//   ...
//   unique_handle child = child_process::start(L"signal", name);
#include "foundation/unique_resource_win.h"

#include <optional>
#include <string>

namespace child_process {
using role_function = int (*)(const std::wstring& argument);

// Registers a role of this test program (define one as a namespace-scope constant).
// The name must not contain ':' or spaces.
struct role {
    role(const wchar_t* name, role_function function);
};

// Starts this program in the role `name` with `argument` (no spaces); null handle on failure.
unique_handle start(const wchar_t* name, const std::wstring& argument = std::wstring());
// Waits (at most `timeout_ms`) for the child to end; its exit code, or ~0u on time-out.
DWORD wait_for_exit(HANDLE process, DWORD timeout_ms = 60000);
// A name no other test process uses: "kvtest-<pid>-<tick>-<counter>-<tag>".
std::wstring unique_name(const wchar_t* tag);

// For the test main: when this process was started in a role, runs it and gives its exit
// code (an unknown role gives 2); nothing otherwise.
std::optional<int> run_requested_role();

// For role functions: prints "child role failed: <what>" to standard error and gives 1.
int fail(const char* what);
}  // namespace child_process
