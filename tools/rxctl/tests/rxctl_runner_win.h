#pragma once
// Runs rxctl.exe as a child process with pipes for its three standard streams, the
// way a script would, and collects what it wrote and its exit code.
#include <windows.h>
#include <string>
#include <thread>

#include "foundation/unique_resource_win.h"

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

// rxctl started for a command that runs until it is ended (trace show --follow): its
// standard output is read as it comes. The process is ended on destruction, and also
// when it is still running after the runner's limit, so a read never hangs a test.
class rxctl_session {
public:
    explicit rxctl_session(const std::wstring& args);
    ~rxctl_session();
    rxctl_session(const rxctl_session&) = delete;
    rxctl_session& operator=(const rxctl_session&) = delete;
    bool started() const noexcept { return static_cast<bool>(process_); }
    // Reads standard output until what was read holds `text` (true), or until the output
    // ends because rxctl ended (false).
    bool read_until(const std::string& text);
    // Everything read from standard output so far.
    const std::string& output() const noexcept { return out_; }
private:
    unique_handle process_;
    unique_handle out_read_;
    unique_handle stop_;  // set on destruction: the watchdog ends the process
    std::thread watchdog_;
    std::string out_;
};
