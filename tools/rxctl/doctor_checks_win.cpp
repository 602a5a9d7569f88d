#include "tools/rxctl/doctor_checks_win.h"

#include <windows.h>
#include <oleauto.h>

#include <iterator>

#include "dispatcher/manager_interface_win.h"
#include "foundation/com_resource_win.h"
#include "foundation/guid_text_win.h"
#include "foundation/trace_switch_win.h"
#include "tools/rxctl/file_version_win.h"
#include "tools/rxctl/status_words.h"
#include "tools/rxctl/trace_paths_win.h"
#include "service/service_identity_win.h"
#include "tools/rxctl/console_io.h"
#include "tools/rxctl/installed_state_win.h"
#include "tools/rxctl/text_units.h"
#include "vault/vault_driver_com_win.h"

namespace doctor {
namespace {

using namespace installed_state;

// The registration's names, as the product's registry scripts write them.
constexpr wchar_t app_id_name[] = L"RxCoreService";
constexpr wchar_t app_id_exe_key[] = L"AppID\\KvRxCoreService.EXE";
constexpr wchar_t class_description[] = L"RX_core_service_disp Class";
constexpr wchar_t prog_id[] = L"RxCoreService.RX_core_service_disp.1";
constexpr wchar_t version_independent_prog_id[] = L"RxCoreService.RX_core_service_disp";
constexpr wchar_t type_library_locale[] = L"409";

std::string text(const std::wstring& wide) { return utf8_text(wide.c_str()); }
std::string quoted(const std::wstring& wide) { return "\"" + text(wide) + "\""; }
std::wstring quoted_wide(const std::wstring& wide) { return L"\"" + wide + L"\""; }
std::string guid_string(const GUID& guid) { return text(text_of_guid(guid).c_str()); }
std::wstring guid_wide(const GUID& guid) { return text_of_guid(guid).c_str(); }

// Records a problem unless the string value `name` of `key` is `expected` (paths compared
// without regard to case when `path` is set).
void expect_value(check& c, const std::wstring& key, const wchar_t* name, const std::wstring& expected,
                  bool path = false) {
    const std::string where = "HKCR\\" + text(key) + (name ? "\\" + text(name) : std::string(" (default)"));
    std::wstring value;
    if (!class_string(key, name, value)) {
        c.problem(where + " is missing");
        return;
    }
    if (path ? !same_path(value, expected) : value != expected)
        c.problem(where + " is " + quoted(value) + ", not " + quoted(expected));
}

bool is_local_system(const std::wstring& account) {
    return account.empty() || same_path(account, L"LocalSystem") || same_path(account, L".\\LocalSystem") ||
           same_path(account, L"NT AUTHORITY\\SYSTEM");
}

const char* start_type_text(DWORD start_type) {
    switch (start_type) {
    case SERVICE_BOOT_START: return "boot start";
    case SERVICE_SYSTEM_START: return "system start";
    case SERVICE_AUTO_START: return "automatic start";
    case SERVICE_DEMAND_START: return "demand start";
    case SERVICE_DISABLED: return "disabled";
    default: return "unknown start type";
    }
}

std::string error_text(DWORD error) { return error_words(error); }

}  // namespace

check executable_check(const std::wstring& exe, const std::string& found_how) {
    check c;
    c.name = "executable";
    c.mend = "reinstall the product, or name the executable: rxctl doctor --exe PATH";
    if (exe.empty()) {
        c.problem("KvRxCoreService.exe is neither beside rxctl.exe nor the service's program");
        return c;
    }
    const DWORD attributes = GetFileAttributesW(exe.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        c.problem(text(exe) + " does not exist (" + found_how + ")");
        return c;
    }
    c.detail = text(exe) + " (" + found_how + "), " + file_version_text(exe);
    return c;
}

check service_configuration_check(const std::wstring& exe, const std::string& register_command) {
    check c;
    c.name = "service configuration";
    c.mend = register_command;
    const service_configuration config = query_service_configuration();
    if (!config.read) {
        c.problem(config.error == ERROR_SERVICE_DOES_NOT_EXIST
                      ? "the service " + text(service_name) + " is not installed"
                      : "the configuration of " + text(service_name) + " cannot be read (" + error_text(config.error) + ")");
        return c;
    }
    if (config.type != SERVICE_WIN32_OWN_PROCESS)
        c.problem("its type is " + std::to_string(config.type) + ", not own process (16)");
    if (!is_local_system(config.account)) c.problem("it runs as " + text(config.account) + ", not LocalSystem");
    if (!exe.empty() && !same_path(config.binary_path, quoted_wide(exe)))
        c.problem("it runs " + text(config.binary_path) + ", not " + quoted(exe));
    c.detail = std::string("own process, LocalSystem, ") + start_type_text(config.start_type) + ", " +
               text(config.binary_path);
    return c;
}

check app_id_check(const std::string& register_command) {
    check c;
    c.name = "AppID";
    c.mend = register_command;
    const std::wstring key = std::wstring(L"AppID\\") + service_identity::app_id_text;
    if (!class_key_exists(key)) {
        c.problem("HKCR\\" + text(key) + " is missing");
        return c;
    }
    expect_value(c, key, nullptr, app_id_name);
    expect_value(c, key, service_identity::local_service_value, service_name);
    expect_value(c, app_id_exe_key, L"AppID", service_identity::app_id_text);
    c.detail = text(service_identity::app_id_text) + ", " + text(service_identity::local_service_value) + " = " +
               text(service_name);
    return c;
}

check class_check(const std::wstring& exe, const std::string& register_command) {
    check c;
    c.name = "class";
    c.mend = register_command;
    const std::wstring key = L"CLSID\\" + guid_wide(service_identity::class_id);
    if (!class_key_exists(key)) {
        c.problem("HKCR\\" + text(key) + " is missing");
        return c;
    }
    expect_value(c, key, nullptr, class_description);
    expect_value(c, key, L"AppID", service_identity::app_id_text);
    expect_value(c, key + L"\\ProgID", nullptr, prog_id);
    expect_value(c, key + L"\\VersionIndependentProgID", nullptr, version_independent_prog_id);
    expect_value(c, key + L"\\TypeLib", nullptr, guid_wide(service_identity::type_library_id));
    std::wstring server;
    if (!class_string(key + L"\\LocalServer32", nullptr, server))
        c.problem("HKCR\\" + text(key) + "\\LocalServer32 is missing");
    else if (!exe.empty() && !same_path(server, quoted_wide(exe)))
        c.problem("its local server is " + text(server) + ", not " + quoted(exe));
    c.detail = guid_string(service_identity::class_id) + ", local server " + text(server);
    return c;
}

check prog_ids_check(const std::string& register_command) {
    check c;
    c.name = "ProgIDs";
    c.mend = register_command;
    const std::wstring class_id = guid_wide(service_identity::class_id);
    for (const wchar_t* id : {prog_id, version_independent_prog_id}) {
        expect_value(c, id, nullptr, class_description);
        expect_value(c, std::wstring(id) + L"\\CLSID", nullptr, class_id);
    }
    expect_value(c, std::wstring(version_independent_prog_id) + L"\\CurVer", nullptr, prog_id);
    c.detail = text(prog_id) + ", " + text(version_independent_prog_id) + " -> " + text(class_id);
    return c;
}

check type_library_check(const std::wstring& exe, const std::string& register_command) {
    check c;
    c.name = "type library";
    c.mend = register_command;
    const std::wstring library = guid_wide(service_identity::type_library_id);
    const std::wstring file_key = L"TypeLib\\" + library + L"\\1.0\\" + type_library_locale + L"\\win64";
    std::wstring file;
    if (!class_string(file_key, nullptr, file)) {
        c.problem("HKCR\\" + text(file_key) + " is missing");
        return c;
    }
    if (!exe.empty() && !same_path(file, exe)) c.problem("it is registered from " + text(file) + ", not " + text(exe));
    // Calls cross processes through the interface's registration and the library's file.
    const std::wstring interface_key = L"Interface\\" + guid_wide(service_identity::interface_id);
    expect_value(c, interface_key + L"\\TypeLib", nullptr, library);
    com_ptr<ITypeLib> loaded;
    const HRESULT load = LoadTypeLibEx(file.c_str(), REGKIND_NONE, loaded.put());
    if (FAILED(load)) {
        c.problem(text(file) + " holds no type library (HRESULT " + text_units::to_hex32(static_cast<std::uint32_t>(load)) + ")");
    } else {
        TLIBATTR* attributes = nullptr;
        if (SUCCEEDED(loaded->GetLibAttr(&attributes))) {
            if (attributes->guid != service_identity::type_library_id)
                c.problem(text(file) + " holds the library " + guid_string(attributes->guid));
            loaded->ReleaseTLibAttr(attributes);
        }
    }
    c.detail = text(library) + " 1.0 locale " + text(type_library_locale) + ": " + text(file);
    return c;
}

check manager_class_check() {
    check c;
    c.name = "manager component";
    c.mend = "reinstall the manager component (regsvr32 on its DLL registers its class)";
    const std::wstring key = L"CLSID\\" + guid_wide(CLSID_RX_manager_component) + L"\\InprocServer32";
    std::wstring server;
    if (!class_string(key, nullptr, server) || server.empty()) {
        c.problem("the class " + guid_string(CLSID_RX_manager_component) + " is not registered (HKCR\\" + text(key) +
                  " is missing)");
        return c;
    }
    wchar_t expanded[MAX_PATH * 2];
    const DWORD length = ExpandEnvironmentStringsW(server.c_str(), expanded, static_cast<DWORD>(std::size(expanded)));
    const std::wstring path = length != 0 && length <= std::size(expanded) ? std::wstring(expanded) : server;
    // A bare file name is found as the loader finds it, along the search path.
    const bool bare_name = path.find_first_of(L"\\/") == std::wstring::npos;
    const bool exists = bare_name ? SearchPathW(nullptr, path.c_str(), nullptr, 0, nullptr, nullptr) != 0
                                  : GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!exists) {
        c.problem("its server " + text(server) + " does not exist");
        return c;
    }
    c.detail = guid_string(CLSID_RX_manager_component) + ", in-process server " + text(server);
    return c;
}

check vault_device_check() {
    check c;
    c.name = "vault device";
    c.mend = "start the vault driver (sc start on its service), or reinstall it";
    // Opened the way the service opens it.
    const VX_vault_driver_com channel;
    if (channel.handle() == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        c.problem(text(VX_vault_driver_com::device_path) + " cannot be opened (" + error_text(error) +
                  ")" + (error == ERROR_FILE_NOT_FOUND ? "; the vault driver is not running" : ""));
        return c;
    }
    c.detail = text(VX_vault_driver_com::device_path) + " opens";
    return c;
}

check service_running_check(const std::string& register_command) {
    check c;
    c.name = "service running";
    c.mend = "net start " + text(service_name);
    const service_state state = query_service_state();
    if (!state.installed) {
        c.problem(state.error == ERROR_SERVICE_DOES_NOT_EXIST ? "not installed" : "unknown (" + error_text(state.error) + ")");
        if (state.error == ERROR_SERVICE_DOES_NOT_EXIST) c.mend = register_command + ", then net start " + text(service_name);
        return c;
    }
    if (state.status.dwCurrentState != SERVICE_RUNNING) {
        std::string problem = state_text(state.status.dwCurrentState);
        if (state.status.dwWin32ExitCode != 0) problem += ", exit code " + std::to_string(state.status.dwWin32ExitCode);
        c.problem(problem);
        return c;
    }
    c.detail = "running, process " + std::to_string(state.status.dwProcessId);
    return c;
}

check start_event_check() {
    check c;
    c.name = "start event";
    const std::string name = text(start_event_kernel_name());
    DWORD error = 0;
    switch (query_start_event(error)) {
    case start_event_state::signalled: c.detail = name + " signalled"; return c;
    case start_event_state::absent:
        c.problem(name + " is absent: the service is not running");
        c.mend = "net start " + text(service_name);
        return c;
    case start_event_state::not_signalled:
        c.problem(name + " is not signalled: the manager component has not started");
        c.mend = "rxctl trace on, net stop " + text(service_name) + ", net start " + text(service_name) +
                 ", then rxctl trace show (it reads the newest of " + listed_paths(trace_file_candidates()) + ")";
        return c;
    case start_event_state::unopenable: break;
    }
    c.problem(name + " cannot be opened (" + error_text(error) + ")");
    return c;
}

check trace_switch_check() {
    check c;
    c.result = verdict::info;
    c.name = "tracing";
    c.detail = trace_read_switch() ? "on (rxctl trace off turns it off)" : "off (rxctl trace on turns it on)";
    return c;
}

std::wstring service_executable() {
    const service_configuration config = query_service_configuration();
    if (!config.read) return {};
    std::wstring path = config.binary_path;
    if (path.size() >= 2 && path.front() == L'"') {
        const std::size_t end = path.find(L'"', 1);
        return path.substr(1, end == std::wstring::npos ? std::wstring::npos : end - 1);
    }
    return path;
}

}  // namespace doctor
