// The ISensLogon handlers of RX_core_service_disp: the system's logon events become the
// user's notifications; at logoff the vault driver first forgets the user's keys and
// single-sign-on data. The user name comes from outside and is traced only as an
// argument of a literal format.
#include "dispatcher/rx_core_service_disp_win.h"

#include "foundation/trace.h"
#include "vault/vault_driver_com_win.h"

#include <new>

namespace {

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

}  // namespace

HRESULT RX_core_service_disp::Logon(BSTR user) {
    trace_scope(L"RX_core_service_disp::Logon", 0, L"%s", user);
    return notify_guarded(*this, user, L"user_logon");
}

HRESULT RX_core_service_disp::Logoff(BSTR user) {
    trace_scope(L"RX_core_service_disp::Logoff", 0, L"%s", user);
    try {
        if (user != nullptr) {
            // The driver knows users by SID; without one the requests name no user.
            KV_string sid_text = account_sid_text(user);
            const char* driver_user = sid_text.text() != nullptr ? sid_text.narrow() : nullptr;
            VX_vault_driver_com channel;
            channel.unload_user_bkeys(driver_user);
            channel.remove_sso_data(driver_user);
        }
        return notify(user, L"user_logoff");
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT RX_core_service_disp::StartShell(BSTR) {
    trace_scope(L"RX_core_service_disp::StartShell", 0, L"E_NOTIMPL");
    return E_NOTIMPL;
}

HRESULT RX_core_service_disp::DisplayLock(BSTR user) {
    trace_scope(L"RX_core_service_disp::DisplayLock", 0, L"%s", user);
    return notify_guarded(*this, user, L"screen_lock");
}

HRESULT RX_core_service_disp::DisplayUnlock(BSTR user) {
    trace_scope(L"RX_core_service_disp::DisplayUnlock", 0, L"%s", user);
    return notify_guarded(*this, user, L"screen_unlock");
}

HRESULT RX_core_service_disp::StartScreenSaver(BSTR user) {
    trace_scope(L"RX_core_service_disp::StartScreenSaver", 0, L"%s", user);
    return notify_guarded(*this, user, L"screen_saver_activated");
}

HRESULT RX_core_service_disp::StopScreenSaver(BSTR user) {
    trace_scope(L"RX_core_service_disp::StopScreenSaver", 0, L"%s", user);
    return notify_guarded(*this, user, L"screen_saver_deactivated");
}
