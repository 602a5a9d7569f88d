// rxctl trace on | off | show [--follow] [--process PID] [--file PATH]: the trace switch and
// the trace file, without any other tool on the workstation.
//   on / off: EnableUserModeTrace (REG_DWORD) = 1 / 0 under the current user's
//   HKEY_CURRENT_USER\Software\Quillon\Cryvane\Logging. Every process of the product reads
//   the switch from all loaded user hives, so it follows within the 3 s its decision
//   lives. "off" exits 1 when another hive still turns tracing on.
//   show: the service's trace file (or PATH) as UTF-8 lines (trace_lines): the newest of
//   the places the service writes it (trace_paths_win.h), each named when there is none;
//   --follow goes on with what is appended until interrupted (a file that shrinks or is
//   replaced is read from its start again).
// The file is opened for each read with every sharing mode, so the writers, which append
// with read sharing only, are never kept out.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "foundation/trace_switch_win.h"
#include "foundation/trace_writer_win.h"
#include "foundation/unique_resource_win.h"
#include "tools/rxctl/commands.h"
#include "tools/rxctl/console_io.h"
#include "tools/rxctl/trace_lines.h"
#include "tools/rxctl/trace_paths_win.h"
#include "tools/rxctl/status_words.h"
#include "tools/rxctl/usage.h"

namespace {

constexpr wchar_t logging_key[] = L"Software\\Quillon\\Cryvane\\Logging";
constexpr wchar_t switch_value[] = L"EnableUserModeTrace";
// How long a follower waits for a change notification before it looks at the file anyway
// (a directory watch may miss a change, or not be available at all).
constexpr DWORD follow_look_interval_ms = 500;

int trace_usage_error(const std::string& message) { return usage_error("trace", message); }

int fail(int code, const std::string& message) {
    write_standard_error("rxctl trace: " + message + "\n");
    return code;
}

int set_switch(DWORD value) {
    unique_hkey key;
    LSTATUS status =
        RegCreateKeyExW(HKEY_CURRENT_USER, logging_key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (status == ERROR_SUCCESS)
        status = RegSetValueExW(key.get(), switch_value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                sizeof value);
    if (status != ERROR_SUCCESS)
        return fail(exit_operation_failed, "cannot write HKEY_CURRENT_USER\\" + argument_text(logging_key) + "\\" +
                                               argument_text(switch_value) + " (" + error_words(status) + ")");
    const bool on = trace_read_switch();
    std::string report = std::string("tracing: ") + (on ? "on" : "off") + " (" + argument_text(switch_value) + " = " +
                         std::to_string(value) + " under HKEY_CURRENT_USER\\" + argument_text(logging_key) + ")\n";
    unsigned long error = 0;
    if (!write_standard_output(report, error))
        return fail(exit_usage_or_io, "cannot write standard output (" + error_words(error) + ")");
    if (value == 0 && on)
        return fail(exit_operation_failed, "tracing stays on: another hive under HKEY_USERS (or its key under "
                                           "HKEY_LOCAL_MACHINE) still sets the switch to 1");
    return exit_success;
}

std::wstring directory_of(const std::wstring& path) {
    const std::size_t end = path.find_last_of(L"\\/");
    return end == std::wstring::npos ? std::wstring(L".") : path.substr(0, end + 1);
}

enum class read_status { read, missing, failed };

// Reads the file from `position` to its end, taken whole, and moves `position` on. A file
// shorter than `position` was replaced: it is read from its start (`restarted` set).
read_status read_from(const std::wstring& path, std::uint64_t& position, std::string& bytes, bool& restarted,
                      DWORD& error) {
    bytes.clear();
    restarted = false;
    unique_file file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? read_status::missing
                                                                              : read_status::failed;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) {
        error = GetLastError();
        return read_status::failed;
    }
    const auto end = static_cast<std::uint64_t>(size.QuadPart);
    if (end < position) {
        position = 0;
        restarted = true;
    }
    LARGE_INTEGER start{};
    start.QuadPart = static_cast<LONGLONG>(position);
    if (end == position) return read_status::read;
    if (!SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN)) {
        error = GetLastError();
        return read_status::failed;
    }
    char buffer[65536];
    for (std::uint64_t left = end - position; left != 0;) {
        DWORD got = 0;
        const DWORD wanted = left < sizeof buffer ? static_cast<DWORD>(left) : static_cast<DWORD>(sizeof buffer);
        if (!ReadFile(file.get(), buffer, wanted, &got, nullptr)) {
            error = GetLastError();
            return read_status::failed;
        }
        if (got == 0) break;  // cut short meanwhile: the rest comes with the next look
        bytes.append(buffer, got);
        left -= got;
    }
    position += bytes.size();
    return read_status::read;
}

bool write_out(const std::string& text) {
    unsigned long error = 0;
    if (write_standard_output(text, error)) return true;
    write_standard_error("rxctl trace: cannot write standard output (" + error_words(error) + ")\n");
    return false;
}

// "there is no trace file PATHS; tracing is on|off ..." with the switch as it is now.
int no_trace_file(const std::vector<std::wstring>& looked_at) {
    const std::string state =
        trace_read_switch() ? "tracing is on, and nothing has been traced there since it was turned on (or the "
                              "file was deleted)"
                            : "tracing is off (rxctl trace on turns it on)";
    return fail(exit_operation_failed, "there is no trace file " + listed_paths(looked_at) + "; " + state);
}

int show_once(const std::wstring& path, const std::vector<std::wstring>& looked_at,
              std::optional<std::uint32_t> process) {
    std::uint64_t position = 0;
    std::string bytes;
    bool restarted = false;
    DWORD error = 0;
    const read_status status = read_from(path, position, bytes, restarted, error);
    if (status == read_status::missing) return no_trace_file(looked_at);
    if (status == read_status::failed)
        return fail(exit_usage_or_io, "cannot read " + argument_text(path.c_str()) + " (" + error_words(error) + ")");
    trace_lines::decoder decoder(process);
    std::string text;
    decoder.feed(bytes, text);
    decoder.finish(text);
    return write_out(text) ? exit_success : exit_usage_or_io;
}

// Until interrupted, or until standard output goes away (exit 2).
int follow(const std::wstring& path, std::optional<std::uint32_t> process) {
    const unique_change_notification watch(FindFirstChangeNotificationW(
        directory_of(path).c_str(), FALSE,
        FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE));
    trace_lines::decoder decoder(process);
    std::uint64_t position = 0;
    bool told_missing = false;
    for (;;) {
        std::string bytes;
        bool restarted = false;
        DWORD error = 0;
        const read_status status = read_from(path, position, bytes, restarted, error);
        if (status == read_status::failed)
            return fail(exit_usage_or_io,
                        "cannot read " + argument_text(path.c_str()) + " (" + error_words(error) + ")");
        if (status == read_status::missing) {
            // Deleted: its next form is a new file, read from its start.
            if (!told_missing)
                write_standard_error("rxctl trace: waiting for " + argument_text(path.c_str()) + "\n");
            told_missing = true;
            position = 0;
            decoder = trace_lines::decoder(process);
        } else {
            told_missing = false;
            if (restarted) decoder = trace_lines::decoder(process);
            std::string text;
            decoder.feed(bytes, text);
            if (!text.empty() && !write_out(text)) return exit_usage_or_io;
        }
        if (watch) {
            WaitForSingleObject(watch.get(), follow_look_interval_ms);
            FindNextChangeNotification(watch.get());
        } else {
            Sleep(follow_look_interval_ms);
        }
    }
}

int run_show(int argc, wchar_t** argv) {
    bool following = false;
    std::optional<std::uint32_t> process;
    std::wstring path;
    for (int i = 0; i < argc; ++i) {
        if (argument_is(argv[i], "--follow")) {
            following = true;
        } else if (argument_is(argv[i], "--process")) {
            if (i + 1 >= argc || process) return trace_usage_error("--process takes one PID");
            const wchar_t* digits = argv[++i];
            std::uint64_t value = 0;
            const wchar_t* p = digits;
            for (; *p >= L'0' && *p <= L'9' && value <= UINT32_MAX; ++p) value = value * 10 + static_cast<unsigned>(*p - L'0');
            if (p == digits || *p != 0 || value > UINT32_MAX)
                return trace_usage_error("'" + argument_text(digits) + "' is not a process id");
            process = static_cast<std::uint32_t>(value);
        } else if (argument_is(argv[i], "--file")) {
            if (i + 1 >= argc || !path.empty()) return trace_usage_error("--file takes one PATH");
            path = argv[++i];
        } else {
            return trace_usage_error("unexpected argument '" + argument_text(argv[i]) + "'");
        }
    }
    std::vector<std::wstring> looked_at;
    if (!path.empty()) {
        looked_at.push_back(path);
    } else {
        looked_at = trace_file_candidates();
        if (looked_at.empty())
            return fail(exit_usage_or_io, "the temporary folders are unknown; name the file with --file");
        path = newest_trace_file(looked_at);
        if (path.empty() && !following) return no_trace_file(looked_at);
        // Nothing there yet: follow the file where this user's processes write it.
        if (path.empty()) path = looked_at.back();
        if (looked_at.size() > 1)
            write_standard_error("rxctl trace: reading " + argument_text(path.c_str()) + " (looked at " +
                                 listed_paths(looked_at) + ")\n");
    }
    return following ? follow(path, process) : show_once(path, looked_at, process);
}

}  // namespace

int run_trace_command(int argc, wchar_t** argv) {
    if (argc < 1) return trace_usage_error("say on, off or show");
    const bool on = argument_is(argv[0], "on");
    if (on || argument_is(argv[0], "off")) {
        if (argc != 1) return trace_usage_error("unexpected argument '" + argument_text(argv[1]) + "'");
        return set_switch(on ? 1 : 0);
    }
    if (argument_is(argv[0], "show")) return run_show(argc - 1, argv + 1);
    return trace_usage_error("unknown action '" + argument_text(argv[0]) + "'");
}
