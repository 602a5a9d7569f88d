#include "client/tests/local_server_fixture_win.h"

#include <tlhelp32.h>

#include "service/tests/registration_support_win.h"
#include "service/tests/service_host_support_win.h"
#include "tests/doubles/event_system/event_system_double_win.h"
#include "tests/doubles/manager/manager_double_win.h"

namespace local_server_test {
namespace {

// The running KvRxCoreService.exe, opened for waiting; null when none runs.
unique_handle open_server_process() {
    const unique_file snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (lstrcmpiW(entry.szExeFile, L"KvRxCoreService.exe") == 0)
            return unique_handle(OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
    }
    return unique_handle();
}

}  // namespace

bool start_event_exists() {
    const unique_handle event(OpenEventW(SYNCHRONIZE, FALSE, L"Global\\{10C9DE46-185B-4434-8E1B-E7567E1134F5}"));
    return static_cast<bool>(event);
}

void unregister_everything() {
    // The alias first: the type library's version key goes only with its last locale.
    service_host_test::remove_type_library_alias();
    registration_test::run(registration_test::service_exe(), L"-UnregServer");
    registration_test::remove_service(registration_test::service_name);
    registration_test::delete_registration_keys(HKEY_CLASSES_ROOT);
}

registered_local_server::registered_local_server() {
    unregister_everything();
    // A stored logon subscription would hold the server as a client does: no event system.
    event_system_double::unregister_double();
    if (!SUCCEEDED(manager_double::register_double()) || !manager_double::reset() ||
        registration_test::run(registration_test::service_exe(), L"-RegServer") != 0 ||
        !service_host_test::add_type_library_alias())
        return;
    com_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    client_ = service_host_test::connect();
    server_ = open_server_process();
    ready_ = com_ && client_ && server_;
}

registered_local_server::~registered_local_server() {
    client_.reset();
    if (server_) WaitForSingleObject(server_.get(), 15000);
    if (com_) CoUninitialize();
    unregister_everything();
    manager_double::reset();
    event_system_double::register_double();
}

}  // namespace local_server_test
