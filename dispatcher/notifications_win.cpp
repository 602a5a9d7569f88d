#include "dispatcher/notifications_win.h"

#include "foundation/text_length.h"
#include "foundation/unique_resource_win.h"

#include <sddl.h>

namespace {
// 8-bit on purpose: it is formatted with %S in a wide format.
constexpr char notification_guid[] = "{DB186164-5C92-42ad-A10E-D342FABB7EC6}";
}  // namespace

std::unique_ptr<std::byte[]> lookup_account_sid(const wchar_t* account) {
    if (account == nullptr) return nullptr;
    DWORD sid_size = 0;
    DWORD domain_size = 0;
    SID_NAME_USE use{};
    if (::LookupAccountNameW(nullptr, account, nullptr, &sid_size, nullptr, &domain_size, &use) ||
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return nullptr;
    auto sid = std::make_unique<std::byte[]>(sid_size);
    auto domain = std::make_unique<wchar_t[]>(domain_size);
    // A buffer the second call did not fill is no SID: give none rather than garbage.
    if (!::LookupAccountNameW(nullptr, account, sid.get(), &sid_size, domain.get(), &domain_size,
                              &use))
        return nullptr;
    return sid;
}

std::unique_ptr<wchar_t[]> sid_to_text(void* sid) {
    if (sid == nullptr) return nullptr;
    wchar_t* system_text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &system_text)) return nullptr;
    const unique_hlocal owner(system_text);
    const std::size_t length = kv_text_length(system_text);
    auto copy = std::make_unique<wchar_t[]>(length + 1);
    ::CopyMemory(copy.get(), system_text, (length + 1) * sizeof(wchar_t));
    return copy;
}

KV_string account_sid_text(const wchar_t* account) {
    const auto sid = lookup_account_sid(account);
    const auto text = sid_to_text(sid.get());
    return KV_string(text.get());
}

KV_string notification_event_text(const wchar_t* sid_text, const wchar_t* notification) {
    return KV_stringf(L"%S[%s](%s)", notification_guid, sid_text, notification);
}

namespace {

// The process's notification events, one per name, shared by every owner's map. The
// events are never closed: a signal nobody has waited for yet stays pending until the
// process ends.
class notification_events {
public:
    // The event of that name, or null when it cannot be made now (a transient failure, or
    // a name another process holds for an object the service cannot open as its event).
    // Only events that hold a handle are kept, so a name that failed is tried again at its
    // next notification.
    KV_event* event_of(const std::wstring& name) {
        const std::lock_guard<std::mutex> guard(lock_);
        auto found = events_.find(name);
        if (found == events_.end()) {
            auto event = std::make_unique<KV_event>(name.c_str(), true, false);
            if (event->event_handle() == nullptr) return nullptr;
            found = events_.emplace(name, event.get()).first;
            event.release();
        }
        return found->second;
    }
    std::size_t size() {
        const std::lock_guard<std::mutex> guard(lock_);
        return events_.size();
    }

private:
    std::mutex lock_;
    std::map<std::wstring, KV_event*> events_;
};

notification_events& process_events() {
    // Made on first use and never destroyed, so that no event closes at process exit
    // while another thread may still signal.
    static notification_events* const events = new notification_events;
    return *events;
}

}  // namespace

std::size_t notification_events_made() { return process_events().size(); }

void notification_map::signal(const KV_string& event_text) {
    const std::wstring key(event_text.text() ? event_text.text() : L"");
    const std::lock_guard<std::mutex> guard(lock_);
    auto found = events_.find(key);
    if (found == events_.end()) {
        KV_event* const event = process_events().event_of(key);
        if (event == nullptr) return;  // not made this time: the next signal tries again
        found = events_.emplace(key, event).first;
    }
    found->second->set_event();
}

std::size_t notification_map::size() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return events_.size();
}

HRESULT notify(notification_map& map, trace_name scope, const wchar_t* user,
               const wchar_t* notification) {
    trace_scope(scope, 0, L"%s", notification);
    const KV_string sid_text = account_sid_text(user);
    map.signal(notification_event_text(sid_text.text(), notification));
    return S_OK;
}
