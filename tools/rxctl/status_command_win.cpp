// rxctl status: what a support engineer asks first. Prints, one item per line:
//   service QlnVxCoreService: not installed | stopped | start pending | ... | running, process N
//   start event Global\{10C9DE46-...}: signalled | not signalled | absent
//   AppID {04755478-...}: not registered | registered, LocalService = NAME | registered, local server
//   class {3106EB92-...}: not registered | registered, server SERVER
//   type library {E525C81A-...}: not registered | 1.0 locale L: PATH (one line per locale)
//   tracing: on | off
// The start event is only opened (never created), so asking does not make it exist.
// Exit code: 0 when the service runs and its start event is signalled (it serves calls
// and its manager has started), 1 otherwise, 2 for a usage error.
#include <windows.h>

#include <string>

#include "foundation/guid_text_win.h"
#include "foundation/trace_switch_win.h"
#include "service/service_identity_win.h"
#include "tools/rxctl/commands.h"
#include "tools/rxctl/console_io.h"
#include "tools/rxctl/installed_state_win.h"
#include "tools/rxctl/status_words.h"
#include "tools/rxctl/usage.h"

namespace {

using namespace installed_state;

std::string service_line(bool& running) {
    running = false;
    const std::string head = "service " + argument_text(service_name) + ": ";
    const service_state state = query_service_state();
    if (!state.installed) {
        return head + (state.error == ERROR_SERVICE_DOES_NOT_EXIST ? std::string("not installed")
                                                                   : "unknown (" + error_words(state.error) + ")") +
               "\n";
    }
    if (state.error != 0) return head + "installed, state unknown (" + error_words(state.error) + ")\n";
    const SERVICE_STATUS_PROCESS& status = state.status;
    running = status.dwCurrentState == SERVICE_RUNNING;
    std::string line = head + state_text(status.dwCurrentState);
    if (status.dwCurrentState != SERVICE_STOPPED) line += ", process " + std::to_string(status.dwProcessId);
    else if (status.dwWin32ExitCode != 0) line += ", exit code " + std::to_string(status.dwWin32ExitCode);
    return line + "\n";
}

std::string start_event_line(bool& signalled) {
    const std::string head = "start event " + argument_text(start_event_kernel_name().c_str()) + ": ";
    DWORD error = 0;
    const start_event_state state = query_start_event(error);
    signalled = state == start_event_state::signalled;
    switch (state) {
    case start_event_state::absent: return head + "absent\n";
    case start_event_state::signalled: return head + "signalled\n";
    case start_event_state::not_signalled: return head + "not signalled\n";
    case start_event_state::unopenable: break;
    }
    return head + "cannot be opened (" + error_words(error) + ")\n";
}

std::string app_id_line() {
    const std::wstring key = std::wstring(L"AppID\\") + service_identity::app_id_text;
    std::string line = "AppID " + argument_text(service_identity::app_id_text) + ": ";
    if (!class_key_exists(key)) return line + "not registered\n";
    std::wstring value;
    if (class_string(key, service_identity::local_service_value, value))
        return line + "registered, " + argument_text(service_identity::local_service_value) + " = " +
               argument_text(value.c_str()) + "\n";
    return line + "registered, local server\n";
}

std::string class_line() {
    const guid_text class_id = text_of_guid(service_identity::class_id);
    const std::wstring key = std::wstring(L"CLSID\\") + class_id.c_str();
    std::string line = "class " + argument_text(class_id.c_str()) + ": ";
    if (!class_key_exists(key)) return line + "not registered\n";
    std::wstring server;
    if (!class_string(key + L"\\LocalServer32", nullptr, server)) return line + "registered, no server\n";
    return line + "registered, server " + argument_text(server.c_str()) + "\n";
}

// One line per registered locale of version 1.0 (the product registers 409; a locale-0
// entry is an alias some setups add for their marshaler).
std::string type_library_lines() {
    const guid_text type_library_id = text_of_guid(service_identity::type_library_id);
    const std::wstring version_key = std::wstring(L"TypeLib\\") + type_library_id.c_str() + L"\\1.0";
    const std::string head = "type library " + argument_text(type_library_id.c_str()) + ": ";
    if (!class_key_exists(version_key)) return head + "not registered\n";
    std::string lines;
    for (const std::wstring& locale : class_subkeys(version_key)) {
        std::wstring path;
        if (!class_string(version_key + L"\\" + locale + L"\\win64", nullptr, path)) continue;  // FLAGS, HELPDIR
        lines += head + "1.0 locale " + argument_text(locale.c_str()) + ": " + argument_text(path.c_str()) + "\n";
    }
    return lines.empty() ? head + "registered, no win64 file\n" : lines;
}

}  // namespace

int run_status_command(int argc, wchar_t** argv) {
    if (argc != 0) {
        return usage_error("status", "unexpected argument '" + argument_text(argv[0]) + "'");
    }
    bool running = false, signalled = false;
    std::string report = service_line(running);
    report += start_event_line(signalled);
    report += app_id_line();
    report += class_line();
    report += type_library_lines();
    report += std::string("tracing: ") + (trace_read_switch() ? "on" : "off") + "\n";
    unsigned long error = 0;
    if (!write_standard_output(report, error)) {
        write_standard_error("rxctl status: cannot write standard output (" + error_words(error) + ")\n");
        return exit_usage_or_io;
    }
    return running && signalled ? exit_success : exit_operation_failed;
}
