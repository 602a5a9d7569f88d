#include "service/tests/service_host_support_win.h"

#include "dispatcher/scramble_text_win.h"
#include "foundation/com_resource_win.h"
#include "foundation/kv_named_objects_win.h"
#include "foundation/tests/trace_capture_win.h"
#include "service/tests/registration_support_win.h"
#include "tests/doubles/event_system/event_system_double_win.h"
#include "tests/doubles/manager/manager_double_win.h"
#include "tests/doubles/vault_driver_double_win.h"

#include <oleauto.h>
#include <tlhelp32.h>

namespace service_host_test {
namespace {
using registration_test::service_name;

constexpr wchar_t alias_key[] = L"TypeLib\\{E525C81A-0535-4FC4-B5DE-7F1FFA97266F}\\1.0\\0";
constexpr wchar_t start_event_name[] = L"{10C9DE46-185B-4434-8E1B-E7567E1134F5}";

unique_sc_handle open_service(DWORD access) {
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    return unique_sc_handle(manager ? OpenServiceW(manager.get(), service_name, access) : nullptr);
}

bool query(SERVICE_STATUS_PROCESS& status) {
    const unique_sc_handle service = open_service(SERVICE_QUERY_STATUS);
    DWORD needed = 0;
    return service && QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                           sizeof status, &needed);
}
}  // namespace

std::wstring system_notification(const wchar_t* notification) {
    return L"{DB186164-5C92-42ad-A10E-D342FABB7EC6}[S-1-5-18](" + std::wstring(notification) + L")";
}

bool add_type_library_alias() {
    const std::wstring path = registration_test::service_exe();
    return RegSetKeyValueW(HKEY_CLASSES_ROOT, (std::wstring(alias_key) + L"\\win64").c_str(), nullptr, REG_SZ,
                           path.c_str(), static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

void remove_type_library_alias() { RegDeleteTreeW(HKEY_CLASSES_ROOT, alias_key), RegDeleteKeyW(HKEY_CLASSES_ROOT, alias_key); }

bool control(DWORD code) {
    const unique_sc_handle service = open_service(SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_INTERROGATE |
                                                  SERVICE_USER_DEFINED_CONTROL);
    SERVICE_STATUS status{};
    return service && ControlService(service.get(), code, &status);
}

DWORD state() {
    SERVICE_STATUS_PROCESS status{};
    return query(status) ? status.dwCurrentState : 0;
}

DWORD exit_code() {
    SERVICE_STATUS_PROCESS status{};
    return query(status) ? status.dwWin32ExitCode : ~0u;
}

DWORD service_process_id() {
    SERVICE_STATUS_PROCESS status{};
    return query(status) && status.dwCurrentState != SERVICE_STOPPED ? status.dwProcessId : 0;
}

DWORD server_process_id() {
    const unique_file snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        if (_wcsicmp(entry.szExeFile, L"KvRxCoreService.exe") == 0) return entry.th32ProcessID;
    return 0;
}

bool wait_for_state(DWORD wanted, DWORD timeout_ms) {
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    for (;;) {
        if (state() == wanted) return true;
        if (GetTickCount64() > deadline) return false;
        Sleep(20);
    }
}

bool request_start() {
    const unique_sc_handle service = open_service(SERVICE_START);
    return service && StartServiceW(service.get(), 0, nullptr);
}

bool start_service() { return request_start() && wait_for_state(SERVICE_RUNNING); }

bool wait_for_start_event(DWORD timeout_ms) {
    KV_event started(start_event_name, true, true);
    return started.wait(timeout_ms);
}

bool stop_service() { return control(SERVICE_CONTROL_STOP) && wait_for_state(SERVICE_STOPPED); }

com_ptr<RX_core_service_disp_i> connect(HRESULT* result) {
    com_ptr<RX_core_service_disp_i> dispatcher;
    const HRESULT created = CoCreateInstance(CLSID_RX_core_service_disp, nullptr, CLSCTX_LOCAL_SERVER,
                                             IID_RX_core_service_disp_i, dispatcher.put_void());
    if (result) *result = created;
    return dispatcher;
}

call_outcome call(RX_core_service_disp_i* dispatcher, const std::wstring& envelope) {
    unique_bstr argument;
    if (FAILED(scramble_text(envelope.c_str(), argument.put()))) return call_outcome{};
    return call_with_argument(dispatcher, argument.get());
}

call_outcome call_with_argument(RX_core_service_disp_i* dispatcher, BSTR argument) {
    call_outcome outcome;
    unique_bstr coded, plain;
    outcome.returned = dispatcher->call_function(argument, coded.put(), &outcome.ret_code);
    outcome.has_result = static_cast<bool>(coded);
    if (coded && SUCCEEDED(unscramble_text(coded.get(), plain.put()))) outcome.result = plain.get();
    return outcome;
}

std::vector<std::wstring> trace_texts() {
    std::vector<std::wstring> texts;
    for (const std::wstring& line : trace_test::read_trace_lines()) {
        const std::size_t end = line.find(L"] ");
        texts.push_back(end == std::wstring::npos ? line : line.substr(end + 2));
    }
    return texts;
}

registered_service::registered_service(tracing trace) {
    registration_test::remove_service(service_name);
    ready_ = trace_test::delete_trace_file() &&
             (trace == tracing::on ? trace_test::enable_tracing() : trace_test::disable_tracing()) &&
             vault_double::start() && vault_double::script({}) && vault_double::clear_requests() &&
             SUCCEEDED(manager_double::register_double()) && manager_double::reset() &&
             SUCCEEDED(event_system_double::register_double()) && event_system_double::reset() &&
             event_system_double::clear_failure() &&
             registration_test::run(registration_test::service_exe(), L"-Service") == 0 &&
             add_type_library_alias();
}

registered_service::~registered_service() {
    if (state() != SERVICE_STOPPED && state() != 0) {
        manager_double::release_done();
        stop_service();
    }
    // The alias first: the type library's version key goes only with its last locale.
    remove_type_library_alias();
    registration_test::run(registration_test::service_exe(), L"-UnregServer");
    registration_test::remove_service(service_name);
    manager_double::clear_start_failure();
    manager_double::reset();
    event_system_double::reset();
    vault_double::clear_requests();
    trace_test::disable_tracing();
}

}  // namespace service_host_test
