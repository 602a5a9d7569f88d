#pragma once
// The Windows service of the executable, created and deleted through the service control
// manager. Failures are shown through the message display with the service name as
// caption.
#include <windows.h>

#include <string>

// What the service is called and which binary it runs.
struct service_install_target {
    std::wstring service_name;  // name and display name
    std::wstring module_path;   // full path of the executable, quoted in the configuration
};

// True when the control manager knows a service of that name.
bool service_exists(const wchar_t* service_name);

// Creates the service: own process, demand start, error control normal, the quoted module
// path, dependency "RPCSS", LocalSystem. Succeeds without change when the service exists.
// A service that is still stopping after its deletion blocks the name: the creation then
// waits (at most `marked_service_wait_ms`) for it to go and tries once more.
bool install_service(const service_install_target& target);
inline constexpr DWORD marked_service_wait_ms = 30000;

// Asks the service to stop and deletes it without waiting for the stop. True when there
// is no such service or it was deleted.
bool uninstall_service(const service_install_target& target);
