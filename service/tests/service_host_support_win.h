#pragma once
// The service as the tests run it: KvRxCoreService.exe registered with "Service" in the
// test prefix, the doubles of the outside components registered and cleared, tracing on,
// and the service started and stopped through the service control manager.
#include <windows.h>

#include <string>
#include <vector>

#include "dispatcher/rx_core_service.h"
#include "foundation/com_resource_win.h"

namespace service_host_test {

// The kernel name of a notification of S-1-5-18 ("SYSTEM"), without "Global\".
std::wstring system_notification(const wchar_t* notification);

// Wine's marshaler looks the type library up under locale 0; the product registers it
// under 1033. The alias points locale 0 at the same file (test and run setup only).
bool add_type_library_alias();
void remove_type_library_alias();

// Sends `control` to the service; false when the control manager refused it (error kept).
bool control(DWORD control);
DWORD state();
DWORD exit_code();
// Waits at most `timeout_ms` for the state; true when it was reached.
bool wait_for_state(DWORD wanted, DWORD timeout_ms = 30000);
// StartServiceW alone; true when the control manager took the request.
bool request_start();
// StartServiceW, then waits until the service runs; true when it does.
bool start_service();
// The start event, signalled once the manager has started.
bool wait_for_start_event(DWORD timeout_ms);
// Stop control, then waits for SERVICE_STOPPED.
bool stop_service();

// The process id of the running service, 0 when it does not run.
DWORD service_process_id();
// The process id of a running KvRxCoreService.exe (the local server), 0 when none runs.
DWORD server_process_id();

// A new RX_core_service_disp of the running server, created out of process.
com_ptr<RX_core_service_disp_i> connect(HRESULT* result = nullptr);
struct call_outcome {
    HRESULT returned = E_UNEXPECTED;
    LONG ret_code = 0;
    bool has_result = false;  // `ret` came back not null
    std::wstring result;      // unscrambled; empty without one
};
// Scrambles the envelope and calls.
call_outcome call(RX_core_service_disp_i* dispatcher, const std::wstring& envelope);
// Calls with `argument` as it is (null, unscrambled, random units...).
call_outcome call_with_argument(RX_core_service_disp_i* dispatcher, BSTR argument);

// Trace lines of the file with their line prefix ("HH:MM:SS [pid] ") cut off.
std::vector<std::wstring> trace_texts();

// The registered service in a clean state for one test, and everything undone after it.
// Tracing is on unless the test measures calls in bulk.
enum class tracing { on, off };
class registered_service {
public:
    explicit registered_service(tracing trace = tracing::on);
    ~registered_service();
    registered_service(const registered_service&) = delete;
    registered_service& operator=(const registered_service&) = delete;
    bool ready() const noexcept { return ready_; }
private:
    bool ready_ = false;
};

}  // namespace service_host_test
