// Installs, starts and stops the double as the kernel service "QlnVSROV".
#include "tests/doubles/vault_driver_double_win.h"

#include <string>

#include "foundation/unique_resource_win.h"
#include "tests/doubles/vault_driver_double_locations_win.h"

#ifndef VAULT_DOUBLE_SYS_PATH
#error "VAULT_DOUBLE_SYS_PATH (Windows path of the built driver) must be defined by the build"
#endif

namespace vault_double {
namespace {

constexpr DWORD poll_ms = 5;
constexpr DWORD give_up_ms = 10000;

std::wstring installed_path() {
    wchar_t system[MAX_PATH];
    const UINT n = GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system, n) + L"\\drivers\\" + detail::driver_file_name;
}

bool read_whole(const std::wstring& path, std::string& out) {
    unique_file file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    char chunk[16384];
    DWORD got = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got) out.append(chunk, got);
    return true;
}

// The installed copy is the driver of this build (a rebuild while the prefix keeps running
// must not leave an old driver answering).
bool installed_is_current() {
    std::string built, installed;
    return read_whole(VAULT_DOUBLE_SYS_PATH, built) && read_whole(installed_path(), installed) &&
           built == installed;
}

bool device_opens() { return static_cast<bool>(open_device()); }

template <typename Condition>
bool wait_for(Condition condition) {
    for (DWORD waited = 0; waited < give_up_ms; waited += poll_ms) {
        if (condition()) return true;
        Sleep(poll_ms);
    }
    return condition();
}

bool stop_service(SC_HANDLE service) {
    SERVICE_STATUS status{};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
        return false;
    const bool stopped = wait_for([&] {
        return QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED;
    });
    return stopped && wait_for([] { return !device_opens() && GetLastError() == ERROR_FILE_NOT_FOUND; });
}

// Lets scripts/wine-prefix.sh down stop the driver before it ends the Wine server.
void list_for_teardown() {
#ifdef VAULT_DOUBLE_BUILD_DIR
    const std::wstring list = std::wstring(VAULT_DOUBLE_BUILD_DIR) + L"/wine-services.txt";
    std::string text;
    read_whole(list, text);
    if (text.find("QlnVSROV\n") != std::string::npos) return;
    unique_file file(CreateFileW(list.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    static const char line[] = "QlnVSROV\n";
    DWORD written = 0;
    WriteFile(file.get(), line, sizeof line - 1, &written, nullptr);
#endif
}

}  // namespace

bool start() {
    const bool current = installed_is_current();
    if (current && device_opens()) return true;

    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return false;
    const std::wstring binary = installed_path();
    unique_sc_handle service(OpenServiceW(manager.get(), service_name, SERVICE_ALL_ACCESS));
    if (!service) {
        service.reset(CreateServiceW(manager.get(), service_name, service_name, SERVICE_ALL_ACCESS,
                                     SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                     SERVICE_ERROR_NORMAL, binary.c_str(), nullptr, nullptr,
                                     nullptr, nullptr, nullptr));
        if (!service) return false;
    }
    if (!current) {
        // A loaded image cannot be replaced: stop the old driver first.
        if (!stop_service(service.get())) return false;
        if (!CopyFileW(VAULT_DOUBLE_SYS_PATH, binary.c_str(), FALSE)) return false;
    }
    if (!StartServiceW(service.get(), 0, nullptr) &&
        GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        return false;
    list_for_teardown();
    return wait_for(device_opens);
}

bool stop() {
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return false;
    unique_sc_handle service(
        OpenServiceW(manager.get(), service_name, SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST && !device_opens();
    return stop_service(service.get());
}

}  // namespace vault_double
