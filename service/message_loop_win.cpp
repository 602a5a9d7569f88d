// The preparation and the wind-up of the main thread's message loop: every subsystem is
// started in PreMessageLoop and stopped in PostMessageLoop, in the reverse order.
#include "service/service_module_win.h"

#include "dispatcher/dispatcher_state_win.h"
#include "dispatcher/manager_component_win.h"
#include "foundation/trace.h"
#include "service/logon_subscriptions_win.h"
#include "service/service_identity_win.h"
#include "service/session_change_window_win.h"
#include "service/start_fault_seam_win.h"

#include <new>

namespace {
constexpr trace_name prepare_scope = L"CRxCoreServiceModule::PreMessageLoop";
constexpr trace_name pagefile_scope = L"CRxCoreServiceModule::reset_pagefile_delete";
constexpr wchar_t volatile_key[] = L"SOFTWARE\\Quillon\\Vessaro\\Volatile";
constexpr wchar_t memory_management_key[] =
    L"System\\CurrentControlSet\\Control\\Session Manager\\Memory Management";
// The service framework's time-out: a failed class-object resumption waits up to twice
// this for the shutdown monitor thread.
constexpr DWORD framework_timeout_ms = 5000;
// A local server lingers this long at the end of its stop.
constexpr DWORD local_server_stop_pause_ms = 1000;

// Clears a flag when the scope ends, however it ends.
struct flag_scope {
    std::atomic<bool>& flag;
    explicit flag_scope(std::atomic<bool>& f) : flag(f) { flag.store(true); }
    ~flag_scope() { flag.store(false); }
};

void initialize_service_security() {
    SOLE_AUTHENTICATION_INFO info{RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NAME, nullptr};
    SOLE_AUTHENTICATION_LIST list{1, &info};
    ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT,
                           RPC_C_IMP_LEVEL_IDENTIFY, &list, EOAC_NONE, nullptr);
}
}  // namespace

// The volatile key is made by the product's driver stack and vanishes with a restart. At
// each start without it the system's page-file clearing flag is switched off again.
void CRxCoreServiceModule::reset_pagefile_delete() {
    unique_hkey key;
    const LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, volatile_key, 0, KEY_READ, key.put());
    if (status == ERROR_SUCCESS) return;
    trace_scope(pagefile_scope, 0,
                L"Did not find the volatile registry key : %s, attempting to reset page file flag",
                volatile_key);
    if (status != ERROR_FILE_NOT_FOUND) return;
    unique_hkey memory;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, memory_management_key, 0, KEY_SET_VALUE, memory.put()) != ERROR_SUCCESS)
        return;
    const DWORD off = 0;
    const LSTATUS set = ::RegSetValueExW(memory.get(), L"ClearPageFileAtShutdown", 0, REG_DWORD,
                                         reinterpret_cast<const BYTE*>(&off), sizeof off);
    if (set != ERROR_SUCCESS)
        trace_scope(pagefile_scope, 0, L"Unable to reset page file clearing at ClearPageFileAtShutdown = %d", set);
}

void CRxCoreServiceModule::start_manager_component() {
    HRESULT result = start_fault_at(start_step::manager_creation);
    if (SUCCEEDED(result)) result = create_manager();
    if (FAILED(result)) {
        done_event_.set_event();  // nothing to wait for at the stop
        trace_message(prepare_scope, L"Failed to create manager instance!\n");
        trace_error(prepare_scope, result);
        manager_step_done_ = true;
        return;
    }
    result = start_fault_at(start_step::manager_start);
    if (SUCCEEDED(result)) result = start_manager(&stop_event_, &done_event_);
    manager_step_done_ = true;
    if (FAILED(result)) {
        done_event_.set_event();
        trace_message(prepare_scope, L"Failed to start manager!\n");
        trace_error(prepare_scope, result);
        return;
    }
    start_event_->set_event();
}

void CRxCoreServiceModule::start_window_thread() {
    if (FAILED(start_fault_at(start_step::window_thread))) return;  // runs on without the window
    const std::shared_ptr<notification_map> map = notifications_;
    start_session_change_window(session_window_, [map](const wchar_t* user, const wchar_t* notification) {
        try {
            ::notify(*map, L"CRxCoreServiceModule::notify", user, notification);
        } catch (const std::bad_alloc&) {
            // The window thread drops a change it cannot signal.
        }
    });
}

HRESULT CRxCoreServiceModule::PreMessageLoop(int) {
    HRESULT prepared = E_FAIL;
    {
        const flag_scope preparing(preparing_);
        prepared = prepare();
    }
    // Zeros of the lock count were let pass while preparing: a local server that holds no
    // object now (its client came and went, or has not come yet) starts its shutdown.
    if (SUCCEEDED(prepared) && !service_mode_ && shutdown_event_ && lock_count() == 0) {
        quiet_period_.store(true);
        ::SetEvent(shutdown_event_.get());
    }
    return prepared;
}

HRESULT CRxCoreServiceModule::prepare() {
    const DWORD thread = ::GetCurrentThreadId();
    set_main_thread_id(thread);
    trace_scope(prepare_scope, 0, L"thread = %d", thread);
    reset_pagefile_delete();
    // Created or opened: a client may hold the event of an earlier run open, and it is
    // signalled only by this run's manager start.
    start_event_ = std::make_unique<KV_event>(service_identity::start_event_name, true, true);
    start_event_->reset_event();

    // Security and the class object; the later steps run whatever the result.
    if (service_mode_) initialize_service_security();
    HRESULT prepared = start_fault_at(start_step::class_registration);
    if (SUCCEEDED(prepared)) prepared = register_class_object();
    if (SUCCEEDED(prepared)) {
        if (!service_mode_ && delay_shutdown_) start_shutdown_monitor();
        if (service_mode_) enter_running();
        prepared = start_fault_at(start_step::class_resumption);
        if (SUCCEEDED(prepared)) prepared = ::CoResumeClassObjects();
        if (FAILED(prepared)) {
            ::CoRevokeClassObject(class_cookie_);
            class_cookie_ = 0;
            if (monitor_thread_) {
                ::SetEvent(shutdown_event_.get());
                ::WaitForSingleObject(monitor_thread_.get(), 2 * framework_timeout_ms);
            }
        }
    }

    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    start_manager_component();
    logon_subscriptions::start(event_system_);
    start_window_thread();
    return prepared;
}

HRESULT CRxCoreServiceModule::PostMessageLoop() {
    trace_scope(L"CRxCoreServiceModule::PostMessageLoop");
    const HRESULT revoked = wind_up();
    if (delay_shutdown_) ::Sleep(local_server_stop_pause_ms);
    return revoked;
}

HRESULT CRxCoreServiceModule::wind_up() noexcept {
    logon_subscriptions::stop(event_system_.get());
    stop_session_change_window(session_window_);
    event_system_.reset();
    // A preparation that ended before the manager step leaves nothing to wait for.
    if (!manager_step_done_) done_event_.set_event();
    stop_event_.set_event();
    done_event_.wait(INFINITE);  // the manager finishes its work first, however long it takes
    release_manager();
    // A client that holds the start event open must see "not started" once the service
    // winds up, not the signal of the run that is ending.
    if (start_event_) start_event_->reset_event();
    start_event_.reset();
    HRESULT revoked = S_OK;
    if (class_cookie_ != 0) {
        revoked = ::CoRevokeClassObject(class_cookie_);
        class_cookie_ = 0;
    }
    end_shutdown_monitor();
    return revoked;
}
