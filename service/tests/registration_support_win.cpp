#include "service/tests/registration_support_win.h"

#include "foundation/unique_resource_win.h"
#include "service/message_display_win.h"

#ifndef KV_SERVICE_EXE
#error "KV_SERVICE_EXE and KV_TEST_SERVICE_EXE (Windows paths of the built programs) come from the build"
#endif

namespace registration_test {
namespace {

std::wstring full_path(const wchar_t* path) {
    wchar_t buffer[MAX_PATH * 2];
    const DWORD length = GetFullPathNameW(path, MAX_PATH * 2, buffer, nullptr);
    return std::wstring(buffer, length);
}

std::vector<std::pair<std::wstring, std::wstring>> records;

void record(const wchar_t* text, const wchar_t* caption) { records.emplace_back(text, caption); }

}  // namespace

std::wstring service_exe() { return full_path(KV_SERVICE_EXE); }
std::wstring test_service_exe() { return full_path(KV_TEST_SERVICE_EXE); }

DWORD run(const std::wstring& exe, const std::wstring& arguments) {
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return ~0u;
    unique_handle process(info.hProcess), thread(info.hThread);
    if (WaitForSingleObject(process.get(), 120000) != WAIT_OBJECT_0) return ~0u;
    DWORD code = ~0u;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

unique_hkey user_classes() {
    unique_hkey key;
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                    nullptr);
    return key;
}

bool key_exists(HKEY root, const std::wstring& path) {
    unique_hkey key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::optional<std::wstring> string_value(HKEY root, const std::wstring& path, const wchar_t* name) {
    wchar_t data[1024];
    DWORD bytes = sizeof data - sizeof(wchar_t);
    if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(data);
}

std::vector<std::wstring> registration_keys() {
    return {
        std::wstring(L"AppID\\") + app_id,
        L"AppID\\KvRxCoreService.EXE",
        L"RxCoreService.RX_core_service_disp.1",
        L"RxCoreService.RX_core_service_disp",
        std::wstring(L"CLSID\\") + class_id,
        type_library_key,
        interface_key,
    };
}

void delete_registration_keys(HKEY classes) {
    for (const std::wstring& key : registration_keys()) RegDeleteTreeW(classes, key.c_str());
    for (const std::wstring& key : registration_keys()) RegDeleteKeyW(classes, key.c_str());
}

bool service_present(const wchar_t* name) {
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    unique_sc_handle service(manager ? OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS) : nullptr);
    return static_cast<bool>(service);
}

DWORD service_state(const wchar_t* name) {
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    unique_sc_handle service(manager ? OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS status{};
    return service && QueryServiceStatus(service.get(), &status) ? status.dwCurrentState : 0;
}

bool create_and_start(const wchar_t* name, const std::wstring& command) {
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return false;
    unique_sc_handle service(CreateServiceW(manager.get(), name, name, SERVICE_ALL_ACCESS,
                                            SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                            command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service || !StartServiceW(service.get(), 0, nullptr)) return false;
    for (int tries = 0; tries < 400; ++tries) {
        if (service_state(name) == SERVICE_RUNNING) return true;
        Sleep(25);
    }
    return false;
}

bool wait_until_service_gone(const wchar_t* name, DWORD timeout_ms) {
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    while (service_present(name)) {
        if (GetTickCount64() > deadline) return false;
        Sleep(25);
    }
    return true;
}

bool remove_service(const wchar_t* name) {
    {
        unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        unique_sc_handle service(manager ? OpenServiceW(manager.get(), name, SERVICE_STOP | DELETE) : nullptr);
        if (!service) return wait_until_service_gone(name, 30000);
        SERVICE_STATUS status{};
        ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        DeleteService(service.get());
    }
    return wait_until_service_gone(name, 30000);
}

recorded_messages::recorded_messages() {
    records.clear();
    set_message_display(record);
}

recorded_messages::~recorded_messages() { set_message_display(nullptr); }

const std::vector<std::pair<std::wstring, std::wstring>>& recorded_messages::shown() const { return records; }

}  // namespace registration_test
