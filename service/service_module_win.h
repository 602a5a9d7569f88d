#pragma once
// CRxCoreServiceModule: the process. It decides between running as the Windows service and
// as a plain COM local server, talks to the service control manager, registers the class
// object of RX_core_service_disp, starts and stops every other part in a fixed order and
// runs the main thread's message loop, on which every COM call and logon event arrives.
#include <windows.h>
#include <eventsys.h>
#include <objidl.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "dispatcher/notifications_win.h"
#include "foundation/com_resource_win.h"
#include "foundation/kv_named_objects_win.h"
#include "service/service_identity_win.h"
#include "service/session_change_window_win.h"

class CRxCoreServiceModule {
public:
    // Loads the service name (string resource 100) and makes the stop and done events, the
    // stop request and the notification map; constructed() tells whether all of them exist.
    CRxCoreServiceModule();
    CRxCoreServiceModule(const CRxCoreServiceModule&) = delete;
    CRxCoreServiceModule& operator=(const CRxCoreServiceModule&) = delete;
    virtual ~CRxCoreServiceModule();

    // The server's lock count (the same count that live objects hold): unlock only counts
    // down in service mode; in local-server mode the last release starts the shutdown.
    virtual LONG lock() noexcept;
    virtual LONG unlock() noexcept;
    virtual LONG lock_count() noexcept;
    // Prepares the message loop; S_OK runs it, a failure skips loop and wind-up (what the
    // preparation started is still stopped, see run()).
    virtual HRESULT PreMessageLoop(int show);
    // Winds the subsystems down in the reverse order; returns the class revocation's result.
    HRESULT PostMessageLoop();
    // The shutdown control: "system_shutdown" for "SYSTEM", then as a stop.
    void OnShutdown();

    // False when an object the module cannot work without could not be made: the process
    // then ends with -1.
    bool constructed() const noexcept { return constructed_; }

    // Runs the program without a registration verb: reads the AppID, then runs as the
    // service (until it stops) or as a local server (until its last client leaves).
    // Returns the process exit code.
    int start();

    // The module's notify: signals the user's notification. Reached from the session-change
    // window's thread and from the control handler at once, hence its own locked map.
    HRESULT notify(const wchar_t* user, const wchar_t* notification);

    const wchar_t* service_name() const noexcept { return service_name_; }
    bool is_service() const noexcept { return service_mode_; }
    // The state as last reported (or about to be) to the control manager.
    DWORD state() const noexcept { return state_.load(); }

    // Service entry and control handler as the control manager calls them.
    static void WINAPI service_main(DWORD argc, LPWSTR* argv);
    static void WINAPI control_handler(DWORD control);

private:
    static HRESULT initialize_com(bool& initialized);
    // PreMessageLoop, the loop and PostMessageLoop. A failed or thrown preparation still
    // stops what it started, in the wind-up's order, while COM is still initialised.
    HRESULT run();
    HRESULT prepare();
    void run_message_loop();
    // The stop order: subscriptions, window thread, event system, manager (stop and done
    // events), start event, class object, shutdown monitor. Returns the revocation's result.
    HRESULT wind_up() noexcept;
    int run_local_server();
    void run_service(DWORD argc, LPWSTR* argv);
    void handle_control(DWORD control);
    void stop_requested();
    void report_status(DWORD state);
    // START_PENDING -> RUNNING once, with its event entry and report.
    bool enter_running();
    void log_event(const wchar_t* text);
    // The event-log entry of a trace file the service refused (installed in service mode).
    static void report_trace_refusal(const wchar_t* text) noexcept;

    HRESULT register_class_object();
    void start_shutdown_monitor();
    void end_shutdown_monitor() noexcept;
    static DWORD WINAPI shutdown_monitor(void* module);
    static void on_server_unlock(LONG count) noexcept;
    void reset_pagefile_delete();
    void start_manager_component();
    void start_window_thread();

    wchar_t service_name_[service_identity::service_name::capacity] = {};
    KV_event stop_event_;
    KV_event done_event_;
    std::unique_ptr<KV_event> start_event_;
    com_ptr<IEventSystem> event_system_;
    session_change_thread session_window_;
    // Shared with the window thread, which may outlive its stop and the module.
    std::shared_ptr<notification_map> notifications_;

    bool constructed_ = false;
    bool service_mode_ = false;
    bool delay_shutdown_ = true;
    // True once the manager step has ended: done_event_ is then the manager's to set, or
    // already set. A preparation that threw before leaves it false.
    bool manager_step_done_ = false;
    bool stopped_reported_ = false;  // the entry's last report; later controls change nothing
    SERVICE_STATUS_HANDLE status_handle_ = nullptr;
    SERVICE_STATUS status_{};
    std::atomic<DWORD> state_{SERVICE_STOPPED};
    DWORD service_thread_id_ = 0;
    DWORD first_thread_id_ = 0;
    DWORD class_cookie_ = 0;
    // Set by a stop or shutdown control and never reset: the message loop ends on it even
    // when the WM_QUIT posted with it was lost (no queue yet, or eaten by a nested loop).
    unique_handle stop_request_;
    unique_handle shutdown_event_;
    unique_handle monitor_thread_;
    // While the loop is being prepared, the module's own short-lived objects (the logon
    // subscriber) may drop the lock count to zero before the client that made COM start
    // the local server has had its object: such a zero does not start the shutdown at
    // once. A count still zero when the preparation ends does, after a quiet period.
    std::atomic<bool> preparing_{false};
    std::atomic<bool> quiet_period_{false};
    std::atomic<bool> monitor_ending_{false};
    // Set when the service entry returns. The dispatcher returns as soon as SERVICE_STOPPED
    // is reported, and the process would end while the entry still writes its last event.
    unique_handle service_entry_done_;
    // Set first thing by the service entry: only an entry that began is waited for.
    std::atomic<bool> service_entry_began_{false};
};

// The process's one module; null before it is made and after it is gone.
CRxCoreServiceModule* service_module() noexcept;

// The program: makes the module (-1 when it cannot be made), then runs the registration
// verb the command line names after the program's own path, or else the module (see
// CRxCoreServiceModule::start). Returns the process exit code.
int run_program(const wchar_t* command_line);
