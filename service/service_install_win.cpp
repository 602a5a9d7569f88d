#include "service/service_install_win.h"

#include "foundation/trace.h"
#include "foundation/unique_resource_win.h"
#include "service/message_display_win.h"

namespace {

// The texts and their string-resource ids (the executable holds none of them).
struct message {
    UINT id;
    const wchar_t* text;
};
constexpr message cannot_open_manager{55306, L"Could not open Service Manager"};
constexpr message cannot_create{55307, L"Could not start service"};
constexpr message cannot_open_service{55308, L"Could not open service"};
constexpr message cannot_delete{55309, L"Could not delete service"};
constexpr message cannot_stop{55310, L"Could not stop service"};

void show(const message& m, const service_install_target& target) {
    show_message(m.id, m.text, target.service_name.c_str());
}

constexpr std::size_t module_path_limit = MAX_PATH;  // the path must be shorter
constexpr DWORD poll_ms = 50;

// A deleted service lives on until its process has stopped: it can still be opened, but
// not changed, and its name cannot be used for a new one.
bool marked_for_deletion(SC_HANDLE manager, const wchar_t* service_name) {
    unique_sc_handle service(OpenServiceW(manager, service_name, SERVICE_CHANGE_CONFIG));
    if (!service) return false;
    if (ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        return false;
    return GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
}

bool wait_until_gone(SC_HANDLE manager, const wchar_t* service_name) {
    const ULONGLONG deadline = GetTickCount64() + marked_service_wait_ms;
    for (;;) {
        unique_sc_handle service(OpenServiceW(manager, service_name, SERVICE_QUERY_STATUS));
        if (!service && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(poll_ms);
    }
}

SC_HANDLE create_service(SC_HANDLE manager, const service_install_target& target) {
    const std::wstring binary = L"\"" + target.module_path + L"\"";
    static const wchar_t dependencies[] = L"RPCSS\0";
    return CreateServiceW(manager, target.service_name.c_str(), target.service_name.c_str(), SERVICE_ALL_ACCESS,
                          SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binary.c_str(),
                          nullptr, nullptr, dependencies, nullptr, nullptr);
}

}  // namespace

bool service_exists(const wchar_t* service_name) {
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return false;
    unique_sc_handle service(OpenServiceW(manager.get(), service_name, SERVICE_QUERY_CONFIG));
    return static_cast<bool>(service);
}

bool install_service(const service_install_target& target) {
    trace_scope(L"CRxCoreServiceModule::Install");
    const wchar_t* name = target.service_name.c_str();
    if (service_exists(name)) {
        unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        if (!manager || !marked_for_deletion(manager.get(), name)) return true;
    }
    if (target.module_path.empty() || target.module_path.size() >= module_path_limit) return false;

    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        trace_error(L"CRxCoreServiceModule::Install", GetLastError());
        show(cannot_open_manager, target);
        return false;
    }
    unique_sc_handle service(create_service(manager.get(), target));
    if (!service && GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE && wait_until_gone(manager.get(), name))
        service.reset(create_service(manager.get(), target));
    if (!service) {
        trace_error(L"CRxCoreServiceModule::Install", GetLastError());
        show(cannot_create, target);
        return false;
    }
    return true;
}

bool uninstall_service(const service_install_target& target) {
    trace_scope(L"CRxCoreServiceModule::Uninstall");
    const wchar_t* name = target.service_name.c_str();
    if (!service_exists(name)) return true;

    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        trace_error(L"CRxCoreServiceModule::Uninstall", GetLastError());
        show(cannot_open_manager, target);
        return false;
    }
    unique_sc_handle service(OpenServiceW(manager.get(), name, SERVICE_STOP | DELETE));
    if (!service) {
        trace_error(L"CRxCoreServiceModule::Uninstall", GetLastError());
        show(cannot_open_service, target);
        return false;
    }
    SERVICE_STATUS status{};
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        const DWORD error = GetLastError();
        const bool already_stopping =
            error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL && status.dwCurrentState == SERVICE_STOP_PENDING;
        if (error != ERROR_SERVICE_NOT_ACTIVE && !already_stopping) {
            trace_error(L"CRxCoreServiceModule::Uninstall", error);
            show(cannot_stop, target);
        }
    }
    if (!DeleteService(service.get())) {
        trace_error(L"CRxCoreServiceModule::Uninstall", GetLastError());
        show(cannot_delete, target);
        return false;
    }
    return true;
}
