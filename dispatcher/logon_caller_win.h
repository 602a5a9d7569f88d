#pragma once
// Who may make the service act on a logon event. The seven ISensLogon handlers act only
// for the system's event delivery: a caller in the service's own process (an event system
// that delivers in process) or a caller whose token user is LocalSystem (S-1-5-18),
// LocalService (S-1-5-19) or NetworkService (S-1-5-20), the accounts the platform's event
// services run under. Anyone else could otherwise make the service drop another user's
// keys or forge that user's notifications.
//
// The caller is found through the COM call context: a call that came through COM's
// channel carries one (IServerSecurity), and the client's token user is read while
// impersonating it at the identify level clients grant by default. A call without a call
// context is a direct call on this apartment's own pointer; it can only come from this
// process as long as the object has never been handed out of its apartment. Once it has
// been (COM asked it for IMarshal), or when it is aggregated (the outer object answers
// for it), a call without a context cannot be told from another process's call and is
// refused: Wine's COM gives no call context for any call, out-of-process ones included.
#include <windows.h>

#include <string>

#include "foundation/trace.h"

struct logon_caller {
    enum class origin { in_process, account, unknown };
    origin from = origin::unknown;
    std::wstring account_sid;  // "S-1-5-..." when `from` is account
};

// The caller of the call running now on this thread. `reachable_from_outside`: the object
// it arrived at has been handed out of its apartment or is aggregated.
logon_caller current_logon_caller(bool reachable_from_outside);

// True for the callers logon events may come from (see above).
bool logon_caller_allowed(const logon_caller& caller) noexcept;

// For a handler opened under `scope`: true when the current caller may make the service
// act; otherwise traces the refusal under `scope` and gives false. Fails closed: a caller
// that cannot be established (memory included) is refused.
bool admit_logon_caller(trace_name scope, bool reachable_from_outside) noexcept;
