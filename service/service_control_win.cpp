// The module as a Windows service: the service entry the control manager starts, the
// control handler, the status reports and the event-log writer.
#include "service/service_module_win.h"

#include "foundation/trace.h"
#include "foundation/trace_writer_win.h"
#include "foundation/unique_resource_win.h"
#include "service/start_fault_seam_win.h"

#include <cwchar>
#include <string>

namespace {
std::mutex status_lock;  // the entry's thread and the handler's report the one status
}

void WINAPI CRxCoreServiceModule::service_main(DWORD argc, LPWSTR* argv) {
    if (CRxCoreServiceModule* module = service_module()) module->run_service(argc, argv);
}

void WINAPI CRxCoreServiceModule::control_handler(DWORD control) {
    if (CRxCoreServiceModule* module = service_module()) module->handle_control(control);
}

void CRxCoreServiceModule::run_service(DWORD, LPWSTR*) {
    // Lets the process entry wait for the "Service stopped" entry below, on every path.
    struct entry_finished {
        HANDLE done;
        ~entry_finished() {
            if (done != nullptr) ::SetEvent(done);
        }
    } const finished{service_entry_done_.get()};
    service_entry_began_.store(true);
    // A trace file the service refuses is reported once, in the event log.
    trace_set_refusal_report(&CRxCoreServiceModule::report_trace_refusal);
    state_.store(SERVICE_START_PENDING);
    service_thread_id_ = ::GetCurrentThreadId();
    status_handle_ = ::RegisterServiceCtrlHandlerW(service_name_, &CRxCoreServiceModule::control_handler);
    if (status_handle_ == nullptr) {
        log_event(L"Handler not installed");
        return;
    }
    status_.dwWin32ExitCode = 0;
    status_.dwCheckPoint = 0;
    status_.dwWaitHint = 0;
    report_status(SERVICE_START_PENDING);

    bool initialized = false;
    start_fault_at(start_step::service_entry);  // a test's moment: there is no step to fail here
    const HRESULT com = initialize_com(initialized);
    delay_shutdown_ = false;
    // Without COM nothing was started: the service stops at once with that failure, rather
    // than staying START_PENDING with a dispatcher that never returns.
    status_.dwWin32ExitCode = static_cast<DWORD>(FAILED(com) ? com : run());
    if (initialized) ::CoUninitialize();
    {
        const std::lock_guard<std::mutex> guard(status_lock);
        stopped_reported_ = true;
    }
    report_status(SERVICE_STOPPED);
    log_event(L"Service stopped");
}

void CRxCoreServiceModule::report_trace_refusal(const wchar_t* text) noexcept {
    try {
        if (CRxCoreServiceModule* module = service_module()) module->log_event(text);
    } catch (...) {
        // A report that cannot be written is lost: tracing is a diagnostic.
    }
}

void CRxCoreServiceModule::handle_control(DWORD control) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
            stop_requested();
            break;
        case SERVICE_CONTROL_PAUSE:
        case SERVICE_CONTROL_CONTINUE:
        case SERVICE_CONTROL_INTERROGATE:
            break;
        case SERVICE_CONTROL_SHUTDOWN:
            OnShutdown();
            break;
        default:
            log_event(L"Bad service request");
    }
}

void CRxCoreServiceModule::OnShutdown() {
    trace_scope(L"CRxCoreServiceModule::OnShutdown");
    notify(L"SYSTEM", L"system_shutdown");
    stop_requested();
}

// Remembers the request before it posts WM_QUIT: the service thread may have no message
// queue yet, or a nested loop may take the message, and the main loop ends on either. Once
// SERVICE_STOPPED has been reported, a late control changes nothing.
void CRxCoreServiceModule::stop_requested() {
    {
        const std::lock_guard<std::mutex> guard(status_lock);
        if (stopped_reported_) return;
        state_.exchange(SERVICE_STOP_PENDING);
        status_.dwCurrentState = SERVICE_STOP_PENDING;
        if (status_handle_ != nullptr) ::SetServiceStatus(status_handle_, &status_);
    }
    ::SetEvent(stop_request_.get());
    ::PostThreadMessageW(service_thread_id_, WM_QUIT, 0, 0);
}

void CRxCoreServiceModule::report_status(DWORD state) {
    const std::lock_guard<std::mutex> guard(status_lock);
    state_.store(state);
    status_.dwCurrentState = state;
    if (status_handle_ != nullptr) ::SetServiceStatus(status_handle_, &status_);
}

// Under the status lock, so that a stop arriving meanwhile is reported after RUNNING.
bool CRxCoreServiceModule::enter_running() {
    const std::lock_guard<std::mutex> guard(status_lock);
    DWORD expected = SERVICE_START_PENDING;
    if (!state_.compare_exchange_strong(expected, SERVICE_RUNNING)) return false;
    log_event(L"Service started/resumed");
    status_.dwCurrentState = SERVICE_RUNNING;
    if (status_handle_ != nullptr) ::SetServiceStatus(status_handle_, &status_);
    return true;
}

// Writes an information entry (event id 0, whose message "%1.\r\n" the executable
// carries) with the text as its one insertion string; outside the service also to
// standard output. Every entry goes to the trace file too, where support finds it.
void CRxCoreServiceModule::log_event(const wchar_t* text) {
    // An entry's text is cut to 255 characters; each takes at most 3 bytes of UTF-8.
    constexpr std::size_t message_units = 256;
    wchar_t message[message_units] = {};
    std::wcsncpy(message, text, message_units - 1);
    trace_message(L"CRxCoreServiceModule::LogEvent", L"%s\n", message);
    if (!service_mode_) {
        const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
        char utf8[3 * message_units];
        const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, message, -1, utf8, sizeof utf8 - 1, nullptr, nullptr);
        if (out != nullptr && out != INVALID_HANDLE_VALUE && bytes > 0) {
            utf8[bytes - 1] = '\n';
            DWORD written = 0;
            ::WriteFile(out, utf8, static_cast<DWORD>(bytes), &written, nullptr);
        }
    }
    const unique_event_source source(::RegisterEventSourceW(nullptr, service_name_));
    if (!source) return;
    const wchar_t* strings[] = {message};
    ::ReportEventW(source.get(), EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
}
