// rxctl doctor [--exe PATH] [--json]: is this install healthy? One line per check (doctor_report.h),
// in the order a repair goes: the executable, its registration (service, AppID, class,
// ProgIDs, type library), what it relies on (the manager component, the vault device),
// then the running service and its start event; the trace switch for information.
// The executable the registration must point at: PATH; else KvRxCoreService.exe beside
// rxctl.exe (the installed layout); else the program the service runs.
// With --json the same checks as one JSON object (doctor::json_of).
// Exit code: 0 when every check is OK, 1 when one failed, 2 for a usage error.
#include <windows.h>

#include <iterator>
#include <string>
#include <vector>

#include "foundation/module_path_win.h"
#include "tools/rxctl/commands.h"
#include "tools/rxctl/console_io.h"
#include "tools/rxctl/doctor_checks_win.h"
#include "tools/rxctl/doctor_file_checks_win.h"
#include "tools/rxctl/status_words.h"
#include "tools/rxctl/usage.h"

namespace {

constexpr wchar_t service_exe_name[] = L"KvRxCoreService.exe";

bool is_file(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring full_path(const wchar_t* path) {
    wchar_t buffer[MAX_PATH * 2];
    const DWORD length = GetFullPathNameW(path, static_cast<DWORD>(std::size(buffer)), buffer, nullptr);
    return length != 0 && length < std::size(buffer) ? std::wstring(buffer, length) : std::wstring(path);
}

// The executable to check against, and how it was found.
std::wstring find_executable(const wchar_t* given, std::string& found_how) {
    if (given != nullptr) {
        found_how = "given with --exe";
        return full_path(given);
    }
    const std::wstring self = module_file_path();
    const std::wstring beside = self.substr(0, self.find_last_of(L"\\/") + 1) + service_exe_name;
    if (is_file(beside)) {
        found_how = "beside rxctl.exe";
        return beside;
    }
    found_how = "the service's program";
    return doctor::service_executable();
}

// The mend of a registration: the product's own program, when that is what was found,
// else a reinstall (a path given with --exe may name any program).
std::string mend_registration(const std::wstring& exe) {
    const std::string product = utf8_text(service_exe_name);
    if (exe.empty()) return "reinstall the package (" + product + " was not found)";
    if (!is_file(exe)) return "reinstall the package (" + utf8_text(exe.c_str()) + " does not exist)";
    const std::wstring name = exe.substr(exe.find_last_of(L"\\/") + 1);
    if (CompareStringOrdinal(name.c_str(), -1, service_exe_name, -1, TRUE) != CSTR_EQUAL)
        return "reinstall the package (" + utf8_text(exe.c_str()) + " is not " + product + ")";
    return "\"" + utf8_text(exe.c_str()) + "\" -Service";
}

}  // namespace

int run_doctor_command(int argc, wchar_t** argv) {
    const wchar_t* given = nullptr;
    bool json = false;
    for (int i = 0; i < argc; ++i) {
        if (argument_is(argv[i], "--json")) {
            json = true;
        } else if (argument_is(argv[i], "--exe") && i + 1 < argc && given == nullptr) {
            given = argv[++i];
        } else if (argument_is(argv[i], "--exe")) {
            return usage_error("doctor", "--exe takes one PATH");
        } else {
            return usage_error("doctor", "unexpected argument '" + argument_text(argv[i]) + "'");
        }
    }
    std::string found_how;
    const std::wstring exe = find_executable(given, found_how);
    const std::string register_command = mend_registration(exe);

    const std::vector<doctor::check> checks = {
        doctor::executable_check(exe, found_how),
        doctor::signatures_check({exe, module_file_path()}),
        doctor::service_configuration_check(exe, register_command),
        doctor::app_id_check(register_command),
        doctor::class_check(exe, register_command),
        doctor::prog_ids_check(register_command),
        doctor::type_library_check(exe, register_command),
        doctor::event_log_source_check(exe),
        doctor::manager_class_check(),
        doctor::vault_device_check(),
        doctor::service_running_check(register_command),
        doctor::start_event_check(),
        doctor::trace_switch_check(),
    };
    std::string report;
    if (json) {
        report = doctor::json_of(checks);
    } else {
        for (const doctor::check& c : checks) report += doctor::line_of(c);
    }
    unsigned long error = 0;
    if (!write_standard_output(report, error)) {
        write_standard_error("rxctl doctor: cannot write standard output (" + error_words(error) + ")\n");
        return exit_usage_or_io;
    }
    return doctor::all_passed(checks) ? exit_success : exit_operation_failed;
}
