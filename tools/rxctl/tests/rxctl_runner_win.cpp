#include "tools/rxctl/tests/rxctl_runner_win.h"

#include "foundation/module_path_win.h"
#include "foundation/unique_resource_win.h"

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr DWORD time_limit_ms = 60000;

// Pipes are made inheritable only between their creation and the start of the child; a
// lock keeps two runs on different threads from handing each other's ends to their child.
std::mutex start_lock;

struct pipe_ends {
    unique_handle read, write;
};

bool make_pipe(pipe_ends& p, bool child_reads) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE r = nullptr, w = nullptr;
    if (!CreatePipe(&r, &w, &sa, 0)) return false;
    p.read.reset(r);
    p.write.reset(w);
    // Only the child's end is inherited.
    return SetHandleInformation(child_reads ? w : r, HANDLE_FLAG_INHERIT, 0) != FALSE;
}

void read_all(HANDLE h, std::string& into) {
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got != 0) into.append(buffer, got);
}

void write_all(HANDLE h, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD wrote = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 16));
        if (!WriteFile(h, bytes.data() + done, chunk, &wrote, nullptr)) return;  // child gone
        done += wrote;
    }
}

}  // namespace

std::wstring rxctl_path() {
    const std::wstring self = module_file_path();
    return self.substr(0, self.find_last_of(L"\\/") + 1) + RXCTL_EXE_NAME;
}

rxctl_result run_rxctl(const std::wstring& args, const std::string& stdin_bytes) {
    rxctl_result result{rxctl_timed_out, {}, {}};
    pipe_ends in, out, err;
    unique_handle process;
    {
        std::lock_guard<std::mutex> guard(start_lock);
        if (!make_pipe(in, true) || !make_pipe(out, false) || !make_pipe(err, false)) {
            result.err = "run_rxctl: CreatePipe failed";
            return result;
        }
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = in.read.get();
        si.hStdOutput = out.write.get();
        si.hStdError = err.write.get();
        std::wstring command_line = L"\"" + rxctl_path() + L"\"";
        if (!args.empty()) command_line += L" " + args;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                            nullptr, nullptr, &si, &pi)) {
            result.err = "run_rxctl: CreateProcessW failed with " + std::to_string(GetLastError());
            return result;
        }
        CloseHandle(pi.hThread);
        process.reset(pi.hProcess);
        // The child holds its own copies now; ours would keep the pipes from ending.
        in.read.reset();
        out.write.reset();
        err.write.reset();
    }
    std::thread feeder([&] {
        write_all(in.write.get(), stdin_bytes);
        in.write.reset();
    });
    std::thread out_reader([&] { read_all(out.read.get(), result.out); });
    std::thread err_reader([&] { read_all(err.read.get(), result.err); });
    const bool ended = WaitForSingleObject(process.get(), time_limit_ms) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(process.get(), rxctl_timed_out);
    feeder.join();
    out_reader.join();
    err_reader.join();
    if (ended) GetExitCodeProcess(process.get(), &result.exit_code);
    return result;
}

rxctl_session::rxctl_session(const std::wstring& args) : stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    pipe_ends out;
    {
        std::lock_guard<std::mutex> guard(start_lock);
        if (!make_pipe(out, false)) return;
        // No input, and standard error goes where the output goes.
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = nullptr;
        si.hStdOutput = out.write.get();
        si.hStdError = out.write.get();
        std::wstring command_line = L"\"" + rxctl_path() + L"\" " + args;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                            &si, &pi))
            return;
        CloseHandle(pi.hThread);
        process_.reset(pi.hProcess);
        out.write.reset();
    }
    out_read_ = std::move(out.read);
    watchdog_ = std::thread([process = process_.get(), stop = stop_.get()] {
        HANDLE both[] = {stop, process};
        if (WaitForMultipleObjects(2, both, FALSE, time_limit_ms) != WAIT_OBJECT_0 + 1) TerminateProcess(process, rxctl_timed_out);
    });
}

rxctl_session::~rxctl_session() {
    if (!process_) return;
    SetEvent(stop_.get());
    watchdog_.join();
    WaitForSingleObject(process_.get(), INFINITE);
}

bool rxctl_session::read_until(const std::string& text) {
    char buffer[4096];
    while (out_.find(text) == std::string::npos) {
        DWORD got = 0;
        if (!out_read_ || !ReadFile(out_read_.get(), buffer, sizeof buffer, &got, nullptr) || got == 0) return false;
        out_.append(buffer, got);
    }
    return true;
}
