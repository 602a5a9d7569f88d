// kv_test_service.exe: a Windows service that the registration tests install under a
// name of their choice, to see how install and uninstall meet a running service.
//   kv_test_service.exe slow-stop MS   accepts stop, reports STOP_PENDING for MS ms, stops
//   kv_test_service.exe no-stop MS     accepts no control and stops by itself after MS ms
#include <windows.h>

#include <cwchar>

namespace {

bool accepts_stop = true;
DWORD delay_ms = 0;
SERVICE_STATUS_HANDLE status_handle = nullptr;
HANDLE stop_requested = nullptr;

void report(DWORD state) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING && accepts_stop ? SERVICE_ACCEPT_STOP : 0;
    status.dwWaitHint = state == SERVICE_STOP_PENDING ? delay_ms + 1000 : 0;
    SetServiceStatus(status_handle, &status);
}

DWORD WINAPI control_handler(DWORD control, DWORD, void*, void*) {
    if (control != SERVICE_CONTROL_STOP || !accepts_stop) return ERROR_CALL_NOT_IMPLEMENTED;
    report(SERVICE_STOP_PENDING);
    SetEvent(stop_requested);
    return NO_ERROR;
}

void WINAPI service_main(DWORD, wchar_t**) {
    status_handle = RegisterServiceCtrlHandlerExW(L"", control_handler, nullptr);
    if (status_handle == nullptr) return;
    report(SERVICE_RUNNING);
    if (accepts_stop) {
        WaitForSingleObject(stop_requested, INFINITE);
        Sleep(delay_ms);
    } else {
        Sleep(delay_ms);
    }
    report(SERVICE_STOPPED);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return ERROR_BAD_ARGUMENTS;
    accepts_stop = std::wcscmp(argv[1], L"no-stop") != 0;
    delay_ms = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
    stop_requested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    wchar_t own_process[] = L"";
    SERVICE_TABLE_ENTRYW table[] = {{own_process, service_main}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : static_cast<int>(GetLastError());
}
