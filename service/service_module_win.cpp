// The module's life: construction, the choice between service and local server, the run
// sequence on the main thread, and the local server's end after its last client.
#include "service/service_module_win.h"

#include "dispatcher/class_factory_win.h"
#include "dispatcher/rx_core_service.h"
#include "dispatcher/server_lock_win.h"
#include "foundation/module_path_win.h"
#include "foundation/trace_writer_win.h"
#include "service/local_service_value_win.h"
#include "service/registration_verb.h"
#include "service/registration_win.h"
#include "service/service_identity_win.h"
#include "service/start_fault_seam_win.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <optional>

namespace {
CRxCoreServiceModule* the_module = nullptr;
// The service framework's time-out: how long a local server that has had no object since
// its start waits for the client that made COM start it.
constexpr DWORD first_client_wait_ms = 5000;
}  // namespace

// COM on the calling thread as a single-threaded apartment. A thread that already has
// another apartment is tolerated only when the managed runtime put it there.
HRESULT CRxCoreServiceModule::initialize_com(bool& initialized) {
    const HRESULT result = ::CoInitialize(nullptr);
    initialized = SUCCEEDED(result);
    if (result == RPC_E_CHANGED_MODE && ::GetModuleHandleW(L"Mscoree.dll") != nullptr) return S_OK;
    return result;
}

CRxCoreServiceModule* service_module() noexcept { return the_module; }

CRxCoreServiceModule::CRxCoreServiceModule()
    : stop_event_(nullptr, false, true),
      done_event_(nullptr, false, true),
      notifications_(std::make_shared<notification_map>()) {
    const service_identity::service_name name = load_service_name();
    std::copy(std::begin(name.text), std::end(name.text), service_name_);
    status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status_.dwCurrentState = SERVICE_STOPPED;
    status_.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    stop_request_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    constructed_ = stop_event_.event_handle() != nullptr && done_event_.event_handle() != nullptr &&
                   stop_request_ && SUCCEEDED(start_fault_at(start_step::module_construction));
    the_module = this;
}

CRxCoreServiceModule::~CRxCoreServiceModule() {
    trace_set_refusal_report(nullptr);
    set_server_unlock_handler(nullptr);
    the_module = nullptr;
}

LONG CRxCoreServiceModule::lock() noexcept { return server_lock(); }
LONG CRxCoreServiceModule::unlock() noexcept { return server_unlock(); }
LONG CRxCoreServiceModule::lock_count() noexcept { return server_lock_count(); }

HRESULT CRxCoreServiceModule::notify(const wchar_t* user, const wchar_t* notification) {
    // Its callers run on the window thread and the control handler: nothing may escape.
    try {
        return ::notify(*notifications_, L"CRxCoreServiceModule::notify", user, notification);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

int CRxCoreServiceModule::start() {
    bool as_service = false;
    const LSTATUS status = read_local_service(as_service);
    if (status != ERROR_SUCCESS) return static_cast<int>(status);
    service_mode_ = as_service;
    if (!service_mode_) return run_local_server();

    SERVICE_TABLE_ENTRYW table[] = {{service_name_, &CRxCoreServiceModule::service_main},
                                    {nullptr, nullptr}};
    service_entry_done_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!service_entry_done_) return static_cast<int>(::GetLastError());
    if (!::StartServiceCtrlDispatcherW(table)) return static_cast<int>(::GetLastError());
    // The dispatcher returns once SERVICE_STOPPED is reported, while the entry still writes
    // its last event entry with the module's name: the module lives until the entry has
    // returned, however long that takes. An entry that never began leaves nothing to wait for.
    if (service_entry_began_.load()) ::WaitForSingleObject(service_entry_done_.get(), INFINITE);
    return static_cast<int>(status_.dwWin32ExitCode);
}

int CRxCoreServiceModule::run_local_server() {
    bool initialized = false;
    HRESULT result = initialize_com(initialized);
    if (FAILED(result)) return result;
    first_thread_id_ = ::GetCurrentThreadId();
    result = run();
    if (initialized) ::CoUninitialize();
    return result;
}

HRESULT CRxCoreServiceModule::run() {
    HRESULT prepared = E_OUTOFMEMORY;
    // Whatever escapes the preparation ends the start the same way: what had started is
    // wound up and the failure becomes the exit code, so the control manager never keeps a
    // START_PENDING or RUNNING state of a process that is gone.
    try {
        prepared = PreMessageLoop(SW_HIDE);
    } catch (const std::bad_alloc&) {
        prepared = E_OUTOFMEMORY;
    } catch (...) {
        prepared = HRESULT_FROM_WIN32(ERROR_EXCEPTION_IN_SERVICE);
    }
    if (FAILED(prepared)) {
        // Neither the loop nor PostMessageLoop runs, but the manager, the subscriptions and
        // the window thread may have started: they are stopped before COM goes.
        wind_up();
        return prepared;
    }
    if (prepared == S_OK) run_message_loop();
    return PostMessageLoop();
}

// Ends on WM_QUIT, or on a stop request whose WM_QUIT never arrived.
void CRxCoreServiceModule::run_message_loop() {
    const HANDLE stop = stop_request_.get();
    MSG message;
    for (;;) {
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) return;
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (::MsgWaitForMultipleObjectsEx(1, &stop, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) != WAIT_OBJECT_0 + 1)
            return;  // the stop request, or a wait that cannot go on
    }
}

HRESULT CRxCoreServiceModule::register_class_object() {
    return ::CoRegisterClassObject(CLSID_RX_core_service_disp, rx_core_service_disp_class_object(),
                                   CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED,
                                   &class_cookie_);
}

void CRxCoreServiceModule::on_server_unlock(LONG count) noexcept {
    CRxCoreServiceModule* module = the_module;
    if (count == 0 && module != nullptr && !module->service_mode_ && module->delay_shutdown_ &&
        !module->preparing_.load() && module->shutdown_event_)
        ::SetEvent(module->shutdown_event_.get());
}

void CRxCoreServiceModule::start_shutdown_monitor() {
    shutdown_event_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!shutdown_event_) return;
    set_server_unlock_handler(&CRxCoreServiceModule::on_server_unlock);
    monitor_thread_.reset(::CreateThread(nullptr, 0, &CRxCoreServiceModule::shutdown_monitor, this, 0, nullptr));
}

// Lets the monitor go (when it still waits) and waits for it: it reaches the module.
void CRxCoreServiceModule::end_shutdown_monitor() noexcept {
    if (!monitor_thread_) return;
    monitor_ending_.store(true);
    ::SetEvent(shutdown_event_.get());
    ::WaitForSingleObject(monitor_thread_.get(), INFINITE);
    monitor_thread_.reset();
}

// Waits for the last client to leave, stops taking new ones unless one came meanwhile, and
// ends the message loop of the process's first thread. A server that had no object when
// its preparation ended first gives its first client the framework's time-out to come;
// a release meanwhile (that client came and went) ends the wait.
DWORD WINAPI CRxCoreServiceModule::shutdown_monitor(void* parameter) {
    auto* module = static_cast<CRxCoreServiceModule*>(parameter);
    const HANDLE wake = module->shutdown_event_.get();
    for (;;) {
        ::WaitForSingleObject(wake, INFINITE);
        if (module->monitor_ending_.load()) return 0;
        if (module->quiet_period_.exchange(false)) {
            ::WaitForSingleObject(wake, first_client_wait_ms);
            if (module->monitor_ending_.load()) return 0;
        }
        ::CoSuspendClassObjects();
        if (server_lock_count() == 0) break;
        ::CoResumeClassObjects();
    }
    ::PostThreadMessageW(module->first_thread_id_, WM_QUIT, 0, 0);
    return 0;
}

int run_program(const wchar_t* command_line) {
    std::optional<CRxCoreServiceModule> module;
    try {
        module.emplace();
    } catch (const std::bad_alloc&) {
        return -1;
    }
    if (!module->constructed()) return -1;
    const std::wstring program = module_file_path();
    const registration_verb verb = find_registration_verb(command_line, program.c_str());
    if (verb == registration_verb::none) return module->start();
    return static_cast<int>(run_registration_verb(verb, registration_context_of_this_executable()));
}
