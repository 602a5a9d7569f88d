// kv_service_faults.exe: KvRxCoreService.exe with a start fault in place, for the tests of
// every start and stop path in the real service. The command line, after the program's
// path, is a list of faults, each applied when the service reaches its step (in the order
// given where several name one step):
//   <step> fail <hexadecimal HRESULT>   the step fails with that result
//   <step> throw                        the step throws std::bad_alloc
//   <step> throw_other                  the step throws std::length_error
//   <step> pause <name>                 sets Global\<name>.reached, waits for Global\<name>.go
//   <step> controls <code>[,<code>...]  calls the control handler with each code in turn
//                                       from a thread of its own, as the control manager does
//   <step> client                       an object of the service's class is made and released
// Step names: module_construction service_entry class_registration class_resumption
// manager_creation manager_start event_system subscriptions window_thread.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cwchar>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "dispatcher/rx_core_service.h"
#include "foundation/com_resource_win.h"
#include "foundation/unique_resource_win.h"
#include "service/service_module_win.h"
#include "service/start_fault_seam_win.h"

namespace {

constexpr DWORD pause_limit_ms = 120000;  // a test that has gone never holds the service

struct step_name {
    const wchar_t* name;
    start_step step;
};
constexpr step_name step_names[] = {
    {L"module_construction", start_step::module_construction},
    {L"service_entry", start_step::service_entry},
    {L"class_registration", start_step::class_registration},
    {L"class_resumption", start_step::class_resumption},
    {L"manager_creation", start_step::manager_creation},
    {L"manager_start", start_step::manager_start},
    {L"event_system", start_step::event_system},
    {L"subscriptions", start_step::subscriptions},
    {L"window_thread", start_step::window_thread},
};

struct fault {
    start_step step;
    std::wstring action;
    std::wstring argument;
};
std::vector<fault> faults;

std::vector<std::wstring> words_after_program(const wchar_t* line) {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(line, &count);
    std::vector<std::wstring> words;
    for (int i = 1; argv != nullptr && i < count; ++i) words.emplace_back(argv[i]);
    LocalFree(argv);
    return words;
}

bool parse(const std::vector<std::wstring>& words) {
    for (std::size_t at = 0; at < words.size();) {
        const step_name* found = nullptr;
        for (const step_name& candidate : step_names)
            if (words[at] == candidate.name) found = &candidate;
        if (found == nullptr || at + 1 >= words.size()) return false;
        fault f{found->step, words[at + 1], L""};
        at += 2;
        const bool takes_argument = f.action == L"fail" || f.action == L"pause" || f.action == L"controls";
        if (takes_argument) {
            if (at >= words.size()) return false;
            f.argument = words[at++];
        }
        faults.push_back(f);
    }
    return true;
}

void pause_here(const std::wstring& name) {
    const unique_handle reached(CreateEventW(nullptr, TRUE, FALSE, (L"Global\\" + name + L".reached").c_str()));
    const unique_handle go(CreateEventW(nullptr, TRUE, FALSE, (L"Global\\" + name + L".go").c_str()));
    if (reached) SetEvent(reached.get());
    if (go) WaitForSingleObject(go.get(), pause_limit_ms);
}

DWORD WINAPI send_controls(void* parameter) {
    const std::wstring& codes = *static_cast<const std::wstring*>(parameter);
    for (const wchar_t* at = codes.c_str(); *at != L'\0';) {
        wchar_t* end = nullptr;
        const unsigned long code = std::wcstoul(at, &end, 10);
        if (end == at) break;
        CRxCoreServiceModule::control_handler(static_cast<DWORD>(code));
        at = *end == L',' ? end + 1 : end;
    }
    return 0;
}

void controls_here(const std::wstring& codes) {
    const unique_handle thread(CreateThread(nullptr, 0, send_controls, const_cast<std::wstring*>(&codes), 0, nullptr));
    if (thread) WaitForSingleObject(thread.get(), INFINITE);
}

void client_here() {
    com_ptr<IUnknown> object;
    CoCreateInstance(CLSID_RX_core_service_disp, nullptr, CLSCTX_SERVER, IID_IUnknown, object.put_void());
}

HRESULT apply_faults(start_step step) {
    for (const fault& f : faults) {
        if (f.step != step) continue;
        if (f.action == L"fail") return static_cast<HRESULT>(std::wcstoul(f.argument.c_str(), nullptr, 16));
        if (f.action == L"throw") throw std::bad_alloc();
        if (f.action == L"throw_other") throw std::length_error("a step's own failure");
        if (f.action == L"pause") pause_here(f.argument);
        if (f.action == L"controls") controls_here(f.argument);
        if (f.action == L"client") client_here();
    }
    return S_OK;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (!parse(words_after_program(GetCommandLineW()))) return ERROR_BAD_ARGUMENTS;
    install_start_fault(apply_faults);
    return run_program(GetCommandLineW());
}
