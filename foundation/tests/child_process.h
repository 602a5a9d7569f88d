#pragma once
// Runs a role of this very test program in a second process: the child runs only the
// test KvChildProcess.Run, which reads its role from the "--kv_child=" argument.
#include "foundation/unique_resource_win.h"

#include <string>

namespace child_process {
// Starts the child with the role text (e.g. "signal:<name>"); null handle on failure.
unique_handle start(const std::wstring& role);
// Waits (at most `timeout_ms`) for the child to end; its exit code, or ~0u on time-out.
DWORD wait_for_exit(HANDLE process, DWORD timeout_ms = 60000);
// The role given to this process, or empty when it is not a child.
std::wstring role();
// A name no other test process uses: "kvtest-<pid>-<tick>-<counter>-<tag>".
std::wstring unique_name(const wchar_t* tag);
}  // namespace child_process
