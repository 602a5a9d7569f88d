#pragma once
// Helpers of the registration tests: the built executables, the registry of the test
// prefix and its service control manager.
#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/unique_resource_win.h"

namespace registration_test {

inline constexpr wchar_t service_name[] = L"QlnVxCoreService";
inline constexpr wchar_t app_id[] = L"{04755478-AF8D-438D-A8B4-235C0EEC2FBF}";
inline constexpr wchar_t class_id[] = L"{3106EB92-9B4B-4D1C-8731-F46403BCAABF}";
inline constexpr wchar_t type_library_key[] = L"TypeLib\\{E525C81A-0535-4FC4-B5DE-7F1FFA97266F}";
inline constexpr wchar_t interface_key[] = L"Interface\\{34BC928E-3497-4439-AE5A-16690114EE51}";

// Full Windows paths of KvRxCoreService.exe and kv_test_service.exe of this build.
std::wstring service_exe();
std::wstring test_service_exe();

// Runs `exe` with `arguments` and returns its exit code as Windows sees it; ~0u when it
// could not start or did not end within two minutes.
DWORD run(const std::wstring& exe, const std::wstring& arguments);

// HKEY_CURRENT_USER\Software\Classes, created when missing.
unique_hkey user_classes();

bool key_exists(HKEY root, const std::wstring& path);
// A string value (null name: the default value); nullopt when key or value is missing.
std::optional<std::wstring> string_value(HKEY root, const std::wstring& path, const wchar_t* name);

// Every key the registration writes below `classes` except AppID and CLSID themselves,
// the type library and interface keys included.
std::vector<std::wstring> registration_keys();
// Deletes all of them below `classes`.
void delete_registration_keys(HKEY classes);

// Services of the prefix.
bool service_present(const wchar_t* name);
// The service's state, 0 when it cannot be queried.
DWORD service_state(const wchar_t* name);
// Creates an own-process demand-start service running `command` (a quoted binary with
// arguments) and starts it; true once it runs.
bool create_and_start(const wchar_t* name, const std::wstring& command);
// Stops (when running) and deletes the service, then waits until it is gone.
bool remove_service(const wchar_t* name);
// Waits at most `timeout_ms` until the service no longer exists.
bool wait_until_service_gone(const wchar_t* name, DWORD timeout_ms);

// A message display that records instead of showing; installed while alive.
class recorded_messages {
public:
    recorded_messages();
    ~recorded_messages();
    recorded_messages(const recorded_messages&) = delete;
    recorded_messages& operator=(const recorded_messages&) = delete;
    // (text, caption) of every message so far.
    const std::vector<std::pair<std::wstring, std::wstring>>& shown() const;
};

}  // namespace registration_test
