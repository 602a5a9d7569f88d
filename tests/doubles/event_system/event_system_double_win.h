#pragma once
// The COM+ event system double (kv_event_system_double.dll), for Wine, which has no event
// system. It serves, in-process with ThreadingModel "Both":
//   CEventSystem       {4E14FBA2-2E22-11D1-9964-00C04FBBB345}: IEventSystem::Store and Remove
//   CEventSubscription {7542E960-79C7-11D1-88F9-0080C7D771BF}: the IEventSubscription
//                      properties SubscriptionID, SubscriptionName, MethodName, EventClassID,
//                      SubscriberInterface (put and get); everything else E_NOTIMPL
// and carries the SENS events type library ({D597DEED-5B9F-11D1-8DD2-00AA004ABD5E} 2.0) as
// TYPELIB resource 1; DllRegisterServer registers the two classes and that library.
//
// Records, readable from any process:
//   HKLM\Software\KvTestDoubles\EventSystem
//     StoreCount                REG_DWORD     Store calls that stored a subscription
//     RemoveQueries             REG_MULTI_SZ  the query text of every Remove call, in order
//     LiveSubscriptionObjects   REG_DWORD     CEventSubscription objects alive right now
//     Subscriptions\<8 digits>  one key per stored subscription, named by store order:
//       SubscriptionID, SubscriptionName, MethodName, EventClassID, ProgID   REG_SZ
//       HasSubscriber, ProcessId, ThreadId (the storing thread)             REG_DWORD
//   Store with an id already stored replaces that subscription; Remove deletes the keys.
//
// Failure switch, set by tests (see set_failure):
//     FailCall    REG_SZ     "CreateInstance" (of CEventSubscription), a put_ call
//                            ("put_SubscriptionID", ...), "Store" or "Remove"
//     FailStatus  REG_DWORD  the HRESULT that call returns instead of doing its work
//     FailOn      REG_SZ     optional: fail only when this text equals the call's text argument
//                            or a text already set on the subscription the call concerns
//
// Remove accepts the query "SubscriptionID=<id>" (spaces around "=" or "==" and quotes around
// the id allowed; the id compares without regard to case): S_OK when it removed a
// subscription, S_FALSE when none matched, EVENT_E_QUERYSYNTAX with *errorIndex at the
// offending character for any other query. Store and Remove want the program id
// "EventSystem.EventSubscription" (else E_INVALIDARG).
//
// Firing: each process that stored a subscription serves the pipe
// \\.\pipe\KvEventSystemDouble-<process id>. fire() (or kv_fire_event.exe) sends it a method
// name and a user name; the process hands the call to a hidden window of the thread that
// stored each subscription of that method, so the call runs on that thread from its message
// loop, like the event system's calls. The window asks the subscriber for ISensLogon (falling
// back to IDispatch), looks the method up with GetIDsOfNames and calls Invoke with the user
// name as a BSTR, and answers with Invoke's HRESULT (the handler's own failure when Invoke
// reports DISP_E_EXCEPTION).
#include <windows.h>

#include <string>
#include <vector>

namespace event_system_double {

inline constexpr const wchar_t* key_path = L"EventSystem";  // below HKLM\Software\KvTestDoubles

struct subscription_record {
    std::wstring id, name, method, event_class, prog_id;
    bool has_subscriber = false;
    DWORD process_id = 0;
    DWORD thread_id = 0;
};

// Registers kv_event_system_double.dll and the SENS events type library (idempotent).
HRESULT register_double();
HRESULT unregister_double();
// Forgets every record and the failure switch (stored subscribers of live processes stay
// reachable only until those processes remove them).
bool reset();

// The stored subscriptions, in store order.
std::vector<subscription_record> stored_subscriptions();
std::vector<std::wstring> remove_queries();
DWORD store_count();
DWORD live_subscription_objects();

// Makes `call` fail with `status` (see FailCall above); `on` narrows it to one text.
bool set_failure(const wchar_t* call, HRESULT status, const wchar_t* on = nullptr);
bool clear_failure();

// The answer to one firing.
struct fire_result {
    HRESULT status = S_OK;  // the first failing delivery's HRESULT, else the last success;
                            // EVENT_S_NOSUBSCRIBERS when nothing is stored for the method;
                            // a transport failure as HRESULT_FROM_WIN32
    unsigned delivered = 0; // subscribers whose handler was called
};
// Fires `method` with `user` (null: a null BSTR) at every stored subscriber of that method.
// Blocks until each storing thread has run the handler (at most about 10 s per subscriber).
fire_result fire(const wchar_t* method, const wchar_t* user);

}  // namespace event_system_double
