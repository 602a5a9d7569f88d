#include "tools/rxctl/installed_state_win.h"

#include "foundation/unique_resource_win.h"
#include "service/service_identity_win.h"

namespace installed_state {

bool class_string(const std::wstring& key, const wchar_t* name, std::wstring& value) {
    DWORD bytes = 0;
    constexpr DWORD flags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, flags, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
        return false;
    std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, flags, nullptr, data.data(), &bytes) != ERROR_SUCCESS)
        return false;
    value.assign(data.c_str());
    return true;
}

bool class_key_exists(const std::wstring& key) {
    unique_hkey opened;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, opened.put()) == ERROR_SUCCESS;
}

std::vector<std::wstring> class_subkeys(const std::wstring& key) {
    std::vector<std::wstring> names;
    unique_hkey opened;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS) return names;
    wchar_t name[256];  // a key name has at most 255 characters
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(sizeof name / sizeof name[0]);
        if (RegEnumKeyExW(opened.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

namespace {

unique_sc_handle open_service(DWORD access, DWORD& error) {
    error = 0;
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        error = GetLastError();
        return {};
    }
    unique_sc_handle service(OpenServiceW(manager.get(), service_name, access));
    if (!service) error = GetLastError();
    return service;
}

}  // namespace

service_state query_service_state() {
    service_state state;
    const unique_sc_handle service = open_service(SERVICE_QUERY_STATUS, state.error);
    if (!service) return state;
    state.installed = true;
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&state.status),
                              sizeof state.status, &needed))
        state.error = GetLastError();
    return state;
}

service_configuration query_service_configuration() {
    service_configuration configuration;
    const unique_sc_handle service = open_service(SERVICE_QUERY_CONFIG, configuration.error);
    if (!service) return configuration;
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<unsigned char> buffer(needed > sizeof(QUERY_SERVICE_CONFIGW) ? needed : sizeof(QUERY_SERVICE_CONFIGW));
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed)) {
        configuration.error = GetLastError();
        return configuration;
    }
    configuration.read = true;
    configuration.type = config->dwServiceType;
    configuration.start_type = config->dwStartType;
    if (config->lpBinaryPathName) configuration.binary_path = config->lpBinaryPathName;
    if (config->lpServiceStartName) configuration.account = config->lpServiceStartName;
    return configuration;
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

std::wstring start_event_kernel_name() { return std::wstring(L"Global\\") + service_identity::start_event_name; }

start_event_state query_start_event(DWORD& error) {
    error = 0;
    const unique_handle event(OpenEventW(SYNCHRONIZE, FALSE, start_event_kernel_name().c_str()));
    if (!event) {
        error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? start_event_state::absent : start_event_state::unopenable;
    }
    // A manual-reset event: a zero wait looks without consuming the signal.
    return WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0 ? start_event_state::signalled
                                                                : start_event_state::not_signalled;
}

bool same_path(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

}  // namespace installed_state
