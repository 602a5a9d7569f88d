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
#include "foundation/unique_resource_win.h"
#include "service/service_identity_win.h"
#include "tools/rxctl/commands.h"
#include "tools/rxctl/console_io.h"
#include "tools/rxctl/usage.h"

namespace {

constexpr wchar_t service_name[] = L"QlnVxCoreService";

// A string value (null name: the default value), REG_SZ or REG_EXPAND_SZ taken as stored.
bool string_value(const std::wstring& key, const wchar_t* name, std::wstring& value) {
    wchar_t data[1024];
    DWORD bytes = sizeof data - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                     nullptr, data, &bytes) != ERROR_SUCCESS)
        return false;
    value.assign(data);
    return true;
}

bool key_exists(const std::wstring& path) {
    unique_hkey key;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

const char* state_text(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_START_PENDING: return "start pending";
    case SERVICE_STOP_PENDING: return "stop pending";
    case SERVICE_RUNNING: return "running";
    case SERVICE_CONTINUE_PENDING: return "continue pending";
    case SERVICE_PAUSE_PENDING: return "pause pending";
    case SERVICE_PAUSED: return "paused";
    default: return "in an unknown state";
    }
}

std::string service_line(bool& running) {
    running = false;
    const std::string head = "service " + argument_text(service_name) + ": ";
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return head + "unknown (no service control manager, error " + std::to_string(GetLastError()) + ")\n";
    unique_sc_handle service(OpenServiceW(manager.get(), service_name, SERVICE_QUERY_STATUS));
    if (!service) {
        const DWORD error = GetLastError();
        return head + (error == ERROR_SERVICE_DOES_NOT_EXIST ? std::string("not installed")
                                                             : "unknown (error " + std::to_string(error) + ")") + "\n";
    }
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                              &needed))
        return head + "installed, state unknown (error " + std::to_string(GetLastError()) + ")\n";
    running = status.dwCurrentState == SERVICE_RUNNING;
    std::string line = head + state_text(status.dwCurrentState);
    if (status.dwCurrentState != SERVICE_STOPPED) line += ", process " + std::to_string(status.dwProcessId);
    else if (status.dwWin32ExitCode != 0) line += ", exit code " + std::to_string(status.dwWin32ExitCode);
    return line + "\n";
}

std::string start_event_line(bool& signalled) {
    signalled = false;
    const std::wstring start_event_name = std::wstring(L"Global\\") + service_identity::start_event_name;
    const std::string head = "start event " + argument_text(start_event_name.c_str()) + ": ";
    const unique_handle event(OpenEventW(SYNCHRONIZE, FALSE, start_event_name.c_str()));
    if (!event) {
        const DWORD error = GetLastError();
        return head + (error == ERROR_FILE_NOT_FOUND ? std::string("absent")
                                                     : "cannot be opened (error " + std::to_string(error) + ")") + "\n";
    }
    // A manual-reset event: a zero wait looks without consuming the signal.
    signalled = WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0;
    return head + (signalled ? "signalled" : "not signalled") + "\n";
}

std::string app_id_line() {
    const std::wstring key = std::wstring(L"AppID\\") + service_identity::app_id_text;
    std::string line = "AppID " + argument_text(service_identity::app_id_text) + ": ";
    if (!key_exists(key)) return line + "not registered\n";
    std::wstring value;
    if (string_value(key, service_identity::local_service_value, value))
        return line + "registered, " + argument_text(service_identity::local_service_value) + " = " +
               argument_text(value.c_str()) + "\n";
    return line + "registered, local server\n";
}

std::string class_line() {
    const guid_text class_id = text_of_guid(service_identity::class_id);
    const std::wstring key = std::wstring(L"CLSID\\") + class_id.c_str();
    std::string line = "class " + argument_text(class_id.c_str()) + ": ";
    if (!key_exists(key)) return line + "not registered\n";
    std::wstring server;
    if (!string_value(key + L"\\LocalServer32", nullptr, server)) return line + "registered, no server\n";
    return line + "registered, server " + argument_text(server.c_str()) + "\n";
}

// One line per registered locale of version 1.0 (the product registers 409; a locale-0
// entry is an alias some setups add for their marshaler).
std::string type_library_lines() {
    const guid_text type_library_id = text_of_guid(service_identity::type_library_id);
    const std::wstring version_key = std::wstring(L"TypeLib\\") + type_library_id.c_str() + L"\\1.0";
    const std::string head = "type library " + argument_text(type_library_id.c_str()) + ": ";
    unique_hkey version;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, version_key.c_str(), 0, KEY_READ, version.put()) != ERROR_SUCCESS)
        return head + "not registered\n";
    std::string lines;
    wchar_t locale[64];
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(sizeof locale / sizeof locale[0]);
        if (RegEnumKeyExW(version.get(), index, locale, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        std::wstring path;
        if (!string_value(version_key + L"\\" + locale + L"\\win64", nullptr, path)) continue;  // FLAGS, HELPDIR
        lines += head + "1.0 locale " + argument_text(locale) + ": " + argument_text(path.c_str()) + "\n";
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
        write_standard_error("rxctl status: cannot write standard output (error " + std::to_string(error) + ")\n");
        return exit_usage_or_io;
    }
    return running && signalled ? exit_success : exit_operation_failed;
}
