#pragma once
// Runs rxctl.exe as a child process with pipes for its three standard streams, the
// way a script would, and collects what it wrote and its exit code.
#include <windows.h>
#include <string>

struct rxctl_result {
    DWORD exit_code;  // the process's exit code; rxctl_timed_out if it had to be ended
    std::string out;  // bytes written to standard output, unchanged
    std::string err;  // bytes written to standard error, unchanged
};

// Exit code reported when rxctl did not finish within the runner's limit (60 s).
inline constexpr DWORD rxctl_timed_out = 0xFFFFFFF0;

// Full Windows path of the rxctl.exe built with the tests (beside the test executable).
std::wstring rxctl_path();

// Starts `rxctl <args>` (args is the rest of the command line, quoted as needed), feeds
// it `stdin_bytes`, closes its input, and waits for it to end.
rxctl_result run_rxctl(const std::wstring& args, const std::string& stdin_bytes = {});
