// The ISensLogon handlers of RX_core_service_disp: the system's logon events become the
// user's notifications; at logoff the vault driver first forgets the user's keys and
// single-sign-on data. Each handler acts only for the system's event delivery
// (logon_caller_win.h); anyone else gets E_ACCESSDENIED and nothing happens. The user name
// comes from outside and is traced only as an argument of a literal format.
#include "dispatcher/rx_core_service_disp_win.h"

#include "foundation/trace.h"
#include "vault/vault_driver_com_win.h"

#include <new>

namespace {

constexpr trace_name logoff_scope = L"RX_core_service_disp::Logoff";

// Notifies and reports exhausted memory as the handler's result instead of throwing
// across the COM boundary.
HRESULT notify_guarded(RX_core_service_disp& object, const wchar_t* user,
                       const wchar_t* notification) noexcept {
    try {
        return object.notify(user, notification);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// A driver request that failed leaves the user's keys loaded: the logoff says which one.
void trace_failed_request(const wchar_t* step, HRESULT status) noexcept {
    if (status >= 0) return;  // driver successes arrive as 0x10000000
    trace_message(logoff_scope, L"Logoff could not %s for the user!\n", step);
    trace_error(logoff_scope, static_cast<std::uint32_t>(status));
}

// Tells the vault driver to forget the user's keys and single-sign-on data. Every failure
// is traced with its step and status; the logoff goes on to notify whatever happened. Each
// request waits for the driver for a bounded time (protocol_buffers_driver_call_win.h).
void forget_user(const wchar_t* user) noexcept {
    try {
        // The driver knows users by SID; without one the requests name no user.
        KV_string sid_text = account_sid_text(user);
        const char* driver_user = sid_text.text() != nullptr ? sid_text.narrow() : nullptr;
        VX_vault_driver_com channel;  // without the driver every request fails at the device
        const logoff_requests sent = send_logoff_requests(channel, driver_user);
        trace_failed_request(L"unload_user_bkeys", sent.unloaded);
        if (sent.removal_sent)
            trace_failed_request(L"remove_sso_data", sent.removed);
        else  // the driver kept its first request: the logoff goes on to its notification
            trace_message(logoff_scope, L"Logoff does not send remove_sso_data, the driver still holds its last request!\n");
    } catch (const std::bad_alloc&) {
        trace_message(logoff_scope, L"Logoff could not send its driver requests, out of memory!\n");
        trace_error(logoff_scope, static_cast<std::uint32_t>(E_OUTOFMEMORY));
    }
}

}  // namespace

HRESULT RX_core_service_disp::Logon(BSTR user) {
    constexpr trace_name scope = L"RX_core_service_disp::Logon";
    trace_scope(scope, 0, L"%s", user);
    if (!logon_caller_admitted(scope)) return E_ACCESSDENIED;
    return notify_guarded(*this, user, L"user_logon");
}

HRESULT RX_core_service_disp::Logoff(BSTR user) {
    trace_scope(logoff_scope, 0, L"%s", user);
    if (!logon_caller_admitted(logoff_scope)) return E_ACCESSDENIED;
    if (user != nullptr) forget_user(user);
    return notify_guarded(*this, user, L"user_logoff");
}

HRESULT RX_core_service_disp::StartShell(BSTR) {
    constexpr trace_name scope = L"RX_core_service_disp::StartShell";
    trace_scope(scope, 0, L"E_NOTIMPL");
    if (!logon_caller_admitted(scope)) return E_ACCESSDENIED;
    return E_NOTIMPL;
}

HRESULT RX_core_service_disp::DisplayLock(BSTR user) {
    constexpr trace_name scope = L"RX_core_service_disp::DisplayLock";
    trace_scope(scope, 0, L"%s", user);
    if (!logon_caller_admitted(scope)) return E_ACCESSDENIED;
    return notify_guarded(*this, user, L"screen_lock");
}

HRESULT RX_core_service_disp::DisplayUnlock(BSTR user) {
    constexpr trace_name scope = L"RX_core_service_disp::DisplayUnlock";
    trace_scope(scope, 0, L"%s", user);
    if (!logon_caller_admitted(scope)) return E_ACCESSDENIED;
    return notify_guarded(*this, user, L"screen_unlock");
}

HRESULT RX_core_service_disp::StartScreenSaver(BSTR user) {
    constexpr trace_name scope = L"RX_core_service_disp::StartScreenSaver";
    trace_scope(scope, 0, L"%s", user);
    if (!logon_caller_admitted(scope)) return E_ACCESSDENIED;
    return notify_guarded(*this, user, L"screen_saver_activated");
}

HRESULT RX_core_service_disp::StopScreenSaver(BSTR user) {
    constexpr trace_name scope = L"RX_core_service_disp::StopScreenSaver";
    trace_scope(scope, 0, L"%s", user);
    if (!logon_caller_admitted(scope)) return E_ACCESSDENIED;
    return notify_guarded(*this, user, L"screen_saver_deactivated");
}
