#pragma once
// Notifications: named, global, auto-reset kernel events, one per user and notification
// name ("screen_lock", "user_logoff", ...), which any process of the machine may open by
// name and wait on. The event of user U and notification N is named
//   "Global\{DB186164-5C92-42ad-A10E-D342FABB7EC6}[<SID of U>](N)"
// and carries a null access list, so that every account can open it.
#include "foundation/kv_named_objects_win.h"
#include "foundation/kv_string_win.h"
#include "foundation/trace.h"

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// The SID of an account name (resolved on the local system), or null when the name is
// null or cannot be resolved.
std::unique_ptr<std::byte[]> lookup_account_sid(const wchar_t* account);

// The standard text form of a SID ("S-1-5-18"), or null when the SID is null or cannot
// be converted.
std::unique_ptr<wchar_t[]> sid_to_text(void* sid);

// The SID text of an account ("S-1-5-18" for "SYSTEM"); the null text when the account
// cannot be resolved or its SID converted.
KV_string account_sid_text(const wchar_t* account);

// The event name without "Global\": "{DB18...}[<sid_text>](<notification>)"; a null SID
// text is written as "(null)".
KV_string notification_event_text(const wchar_t* sid_text, const wchar_t* notification);

// The events one owner has signalled, by name. Every owner's map draws its events from
// one process-wide set, one event per name, so that however many owners come and go the
// process holds one handle per name. Entries (only of events made) are never removed and the events stay open
// until the process ends (a listener may still wait on them). Signalling takes a lock, so
// that two threads may notify through one map.
class notification_map {
public:
    notification_map() = default;
    notification_map(const notification_map&) = delete;
    notification_map& operator=(const notification_map&) = delete;

    // Signals the event of that name, making it first when the process has none yet. A
    // failure to make or signal the event is not reported. An event that could not be
    // made leaves no entry, so the name is tried again at its next signal.
    void signal(const KV_string& event_text);
    // The names this map has signalled.
    std::size_t size() const;

private:
    mutable std::mutex lock_;
    // Not owned: the process-wide set's, which never closes them.
    std::map<std::wstring, KV_event*> events_;
};

// The number of notification events the process has made (one per name).
std::size_t notification_events_made();

// Signals the notification of `user` (may be null: then the SID text is "(null)") through
// `map`, opening the trace scope `scope` with the notification name. Always S_OK.
HRESULT notify(notification_map& map, trace_name scope, const wchar_t* user,
               const wchar_t* notification);
