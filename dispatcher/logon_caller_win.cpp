#include "dispatcher/logon_caller_win.h"
#include "dispatcher/logon_caller_seam_win.h"

#include "dispatcher/notifications_win.h"
#include "foundation/com_resource_win.h"
#include "foundation/unique_resource_win.h"

#include <atomic>
#include <memory>
#include <new>

namespace {

// The accounts of the platform's event services.
constexpr const wchar_t* event_service_accounts[] = {L"S-1-5-18", L"S-1-5-19", L"S-1-5-20"};

// The token user of the client of the current call, read while impersonating it; empty
// when any step fails.
std::wstring client_token_user(IServerSecurity& security) {
    if (FAILED(security.ImpersonateClient())) return {};
    unique_handle token;
    // The token is opened with the service's own rights (open as self), then the thread
    // goes back to them before anything else runs.
    const BOOL opened = ::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put());
    security.RevertToSelf();
    if (!opened) return {};
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size < sizeof(TOKEN_USER)) return {};
    auto buffer = std::make_unique<std::byte[]>(size);
    if (!::GetTokenInformation(token.get(), TokenUser, buffer.get(), size, &size)) return {};
    const auto text = sid_to_text(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid);
    return text ? std::wstring(text.get()) : std::wstring();
}

logon_caller platform_caller(bool reachable_from_outside) {
    com_ptr<IServerSecurity> security;
    const HRESULT context = ::CoGetCallContext(IID_IServerSecurity, security.put_void());
    if (context == RPC_E_CALL_COMPLETE) {
        // No call through COM's channel: a direct call, from this process unless the
        // object is reachable from elsewhere.
        if (reachable_from_outside) return {};
        return {logon_caller::origin::in_process, {}};
    }
    if (FAILED(context) || !security) return {};
    DWORD thread = 0;
    if (::CoGetCallerTID(&thread) == S_OK) return {logon_caller::origin::in_process, {}};
    std::wstring sid = client_token_user(*security.get());
    if (sid.empty()) return {};
    return {logon_caller::origin::account, std::move(sid)};
}

std::atomic<logon_caller_source> source{nullptr};

}  // namespace

logon_caller_source set_logon_caller_source(logon_caller_source replacement) noexcept {
    return source.exchange(replacement);
}

logon_caller current_logon_caller(bool reachable_from_outside) {
    const logon_caller_source installed = source.load();
    return installed ? installed(reachable_from_outside) : platform_caller(reachable_from_outside);
}

bool logon_caller_allowed(const logon_caller& caller) noexcept {
    if (caller.from == logon_caller::origin::in_process) return true;
    if (caller.from != logon_caller::origin::account) return false;
    for (const wchar_t* account : event_service_accounts)
        if (caller.account_sid == account) return true;
    return false;
}

bool admit_logon_caller(trace_name scope, bool reachable_from_outside) noexcept {
    try {
        const logon_caller caller = current_logon_caller(reachable_from_outside);
        if (logon_caller_allowed(caller)) return true;
        const wchar_t* who = caller.from == logon_caller::origin::account ? caller.account_sid.c_str()
                                                                           : L"(unknown)";
        trace_message(scope, L"Call refused, caller %s is not the system's event delivery!\n", who);
    } catch (const std::bad_alloc&) {
        trace_message(scope, L"Call refused, the caller could not be established!\n");
    }
    trace_error(scope, static_cast<std::uint32_t>(E_ACCESSDENIED));
    return false;
}
