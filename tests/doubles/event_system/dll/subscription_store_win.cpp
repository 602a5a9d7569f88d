#include "tests/doubles/event_system/dll/subscription_store_win.h"

#include <map>
#include <mutex>

#include "tests/doubles/common/double_registry_win.h"
#include "tests/doubles/event_system/dll/delivery_win.h"
#include "tests/doubles/event_system/event_system_double_win.h"
#include "tests/doubles/event_system/event_system_protocol_win.h"

namespace event_system_double {
namespace {
namespace value = protocol::value;

struct stored {
    DWORD sequence;
    subscription_texts texts;
    com_ptr<IUnknown> subscriber;
    DWORD thread_id;
};

struct thread_window {
    HWND window = nullptr;
    unsigned subscriptions = 0;
};

// Lives until the process ends: subscribers are never released from a static destructor,
// when their apartments are long gone.
struct store_state {
    std::mutex lock;
    std::vector<stored> subscriptions;
    std::map<DWORD, thread_window> windows;
};
store_state& state() {
    static store_state* instance = new store_state();
    return *instance;
}

std::wstring record_path(DWORD sequence) {
    std::wstring name = std::to_wstring(sequence);
    name.insert(0, name.size() < 8 ? 8 - name.size() : 0, L'0');  // sorts in store order
    return std::wstring(protocol::subscriptions_key) + L"\\" + name;
}

void write_record(DWORD sequence, const subscription_texts& texts, bool has_subscriber) {
    const unique_hkey key = doubles::open_key(record_path(sequence), true);
    doubles::write_text(key.get(), value::id, texts.id.c_str());
    doubles::write_text(key.get(), value::name, texts.name.c_str());
    doubles::write_text(key.get(), value::method, texts.method.c_str());
    doubles::write_text(key.get(), value::event_class, texts.event_class.c_str());
    doubles::write_text(key.get(), value::prog_id, texts.prog_id.c_str());
    doubles::write_dword(key.get(), value::has_subscriber, has_subscriber ? 1 : 0);
    doubles::write_dword(key.get(), value::process_id, GetCurrentProcessId());
    doubles::write_dword(key.get(), value::thread_id, GetCurrentThreadId());
}

// Takes one subscription off its thread's window; the last one closes the window.
void leave_window(store_state& s, DWORD thread_id) {
    const auto found = s.windows.find(thread_id);
    if (found == s.windows.end() || --found->second.subscriptions > 0) return;
    close_delivery_window(found->second.window, thread_id);
    s.windows.erase(found);
}

// Removes matching subscriptions under the lock; the subscribers are handed back so that
// they are released after the lock is given up.
std::vector<com_ptr<IUnknown>> take_out(store_state& s, const std::wstring& id) {
    std::vector<com_ptr<IUnknown>> released;
    for (auto it = s.subscriptions.begin(); it != s.subscriptions.end();) {
        if (!same_text_ignoring_case(it->texts.id, id)) {
            ++it;
            continue;
        }
        doubles::delete_tree(record_path(it->sequence));
        leave_window(s, it->thread_id);
        released.push_back(std::move(it->subscriber));
        it = s.subscriptions.erase(it);
    }
    return released;
}

}  // namespace

bool same_text_ignoring_case(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

HRESULT store_subscription(const subscription_texts& texts, com_ptr<IUnknown> subscriber) {
    start_fire_server();
    store_state& s = state();
    std::vector<com_ptr<IUnknown>> replaced;
    {
        const std::lock_guard<std::mutex> hold(s.lock);
        replaced = take_out(s, texts.id);
        const DWORD thread_id = GetCurrentThreadId();
        thread_window& window = s.windows[thread_id];
        if (!window.window) window.window = create_delivery_window();
        if (!window.window) {
            s.windows.erase(thread_id);
            return HRESULT_FROM_WIN32(GetLastError());
        }
        ++window.subscriptions;
        const unique_hkey root = doubles::open_key(key_path, true);
        const DWORD sequence = doubles::increment(root.get(), value::store_count);
        write_record(sequence, texts, static_cast<bool>(subscriber));
        s.subscriptions.push_back(stored{sequence, texts, std::move(subscriber), thread_id});
    }
    return S_OK;
}

unsigned remove_subscriptions(const std::wstring& id) {
    store_state& s = state();
    std::vector<com_ptr<IUnknown>> removed;
    {
        const std::lock_guard<std::mutex> hold(s.lock);
        removed = take_out(s, id);
    }
    return static_cast<unsigned>(removed.size());
}

std::vector<delivery_target> targets_of(const std::wstring& method) {
    store_state& s = state();
    const std::lock_guard<std::mutex> hold(s.lock);
    std::vector<delivery_target> targets;
    for (const stored& one : s.subscriptions)
        if (same_text_ignoring_case(one.texts.method, method))
            targets.push_back({one.sequence, s.windows[one.thread_id].window});
    return targets;
}

com_ptr<IUnknown> subscriber_of(DWORD sequence) {
    store_state& s = state();
    const std::lock_guard<std::mutex> hold(s.lock);
    for (const stored& one : s.subscriptions)
        if (one.sequence == sequence) return one.subscriber;
    return com_ptr<IUnknown>();
}

}  // namespace event_system_double
