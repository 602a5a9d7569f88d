// The preparation and the wind-up of the main thread's message loop: every subsystem is
// started in PreMessageLoop and stopped in PostMessageLoop, in the reverse order.
#include "service/service_module_win.h"

#include "dispatcher/dispatcher_state_win.h"
#include "dispatcher/manager_component_win.h"
#include "foundation/trace.h"
#include "service/logon_subscriptions_win.h"
#include "service/service_identity_win.h"
#include "service/session_change_window_win.h"

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
    HRESULT result = create_manager();
    if (FAILED(result)) {
        done_event_.set_event();  // nothing to wait for at the stop
        trace_message(prepare_scope, L"Failed to create manager instance!\n");
        trace_error(prepare_scope, result);
        return;
    }
    result = start_manager(&stop_event_, &done_event_);
    if (FAILED(result)) {
        done_event_.set_event();
        trace_message(prepare_scope, L"Failed to start manager!\n");
        trace_error(prepare_scope, result);
        return;
    }
    start_event_->set_event();
}

HRESULT CRxCoreServiceModule::PreMessageLoop(int) {
    preparing_.store(true);
    struct prepared_guard {
        std::atomic<bool>& flag;
        ~prepared_guard() { flag.store(false); }
    } const done_preparing{preparing_};
    const DWORD thread = ::GetCurrentThreadId();
    set_main_thread_id(thread);
    trace_scope(prepare_scope, 0, L"thread = %d", thread);
    reset_pagefile_delete();
    start_event_ = std::make_unique<KV_event>(service_identity::start_event_name, true, true);

    // Security and the class object; the later steps run whatever the result.
    if (service_mode_) initialize_service_security();
    HRESULT prepared = register_class_object();
    if (SUCCEEDED(prepared)) {
        if (!service_mode_ && delay_shutdown_) start_shutdown_monitor();
        if (service_mode_) enter_running();
        prepared = ::CoResumeClassObjects();
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
    event_system_ = logon_subscriptions::start();
    start_session_change_window(session_window_, &CRxCoreServiceModule::notify_from_session_window);
    return prepared;
}

HRESULT CRxCoreServiceModule::PostMessageLoop() {
    trace_scope(L"CRxCoreServiceModule::PostMessageLoop");
    logon_subscriptions::stop(event_system_.get());
    stop_session_change_window(session_window_);
    event_system_.reset();
    stop_event_.set_event();
    done_event_.wait(INFINITE);  // the manager finishes its work first, however long it takes
    release_manager();
    start_event_.reset();
    const HRESULT revoked = ::CoRevokeClassObject(class_cookie_);
    class_cookie_ = 0;
    if (delay_shutdown_) ::Sleep(local_server_stop_pause_ms);
    return revoked;
}
