#pragma once
// What rxctl status and rxctl doctor read about the installed product: registry values
// under HKEY_CLASSES_ROOT, the service's state and configuration, the start event.
// Everything is only read: the start event is opened, never created.
#include <windows.h>

#include <string>
#include <vector>

namespace installed_state {

inline constexpr wchar_t service_name[] = L"QlnVxCoreService";

// A string value under HKEY_CLASSES_ROOT (null name: the default value), REG_SZ or
// REG_EXPAND_SZ taken as stored; false when the key or the value is missing.
bool class_string(const std::wstring& key, const wchar_t* name, std::wstring& value);
bool class_key_exists(const std::wstring& key);
// The names of the subkeys of a key under HKEY_CLASSES_ROOT (none when it is missing).
std::vector<std::wstring> class_subkeys(const std::wstring& key);

struct service_state {
    bool installed = false;
    DWORD error = 0;  // why the state is unknown when not 0 (ERROR_SERVICE_DOES_NOT_EXIST: not installed)
    SERVICE_STATUS_PROCESS status{};
};
service_state query_service_state();

struct service_configuration {
    bool read = false;
    DWORD error = 0;  // ERROR_SERVICE_DOES_NOT_EXIST when not installed
    DWORD type = 0;
    DWORD start_type = 0;
    std::wstring binary_path;
    std::wstring account;
};
service_configuration query_service_configuration();

// "stopped", "running", "start pending", ...
const char* state_text(DWORD state);

enum class start_event_state { absent, signalled, not_signalled, unopenable };
// "Global\{10C9DE46-...}"
std::wstring start_event_kernel_name();
start_event_state query_start_event(DWORD& error);

// Equal as Windows compares paths: ordinal, without regard to case.
bool same_path(const std::wstring& a, const std::wstring& b);

}  // namespace installed_state
