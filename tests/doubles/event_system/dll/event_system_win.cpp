#include "tests/doubles/event_system/dll/event_system_win.h"

#include <eventsys.h>

#include <new>

#include "foundation/com_resource_win.h"
#include "tests/doubles/common/double_registry_win.h"
#include "tests/doubles/common/inproc_server_win.h"
#include "tests/doubles/event_system/dll/failure_switch_win.h"
#include "tests/doubles/event_system/dll/subscription_store_win.h"
#include "tests/doubles/event_system/event_system_double_win.h"
#include "tests/doubles/event_system/event_system_ids_win.h"
#include "tests/doubles/event_system/event_system_protocol_win.h"

namespace event_system_double {
namespace {

std::wstring text_of(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

std::wstring property(IEventSubscription* subscription, HRESULT (STDMETHODCALLTYPE IEventSubscription::*get)(BSTR*)) {
    unique_bstr value;
    if (FAILED((subscription->*get)(value.put()))) return std::wstring();
    return text_of(value.get());
}

void log_remove_query(const std::wstring& query) {
    const unique_hkey key = doubles::open_key(key_path, true);
    std::vector<std::wstring> queries = doubles::read_texts(key.get(), protocol::value::remove_queries);
    queries.push_back(query);
    doubles::write_texts(key.get(), protocol::value::remove_queries, queries);
}

class event_system final : public doubles::inproc::table_object<IEventSystem, ids::event_system> {
public:
    STDMETHODIMP Store(BSTR prog_id, IUnknown* object) override {
        com_ptr<IEventSubscription> subscription;
        if (object) object->QueryInterface(ids::event_subscription, subscription.put_void());
        subscription_texts texts;
        if (subscription) {
            texts.id = property(subscription.get(), &IEventSubscription::get_SubscriptionID);
            texts.name = property(subscription.get(), &IEventSubscription::get_SubscriptionName);
            texts.method = property(subscription.get(), &IEventSubscription::get_MethodName);
            texts.event_class = property(subscription.get(), &IEventSubscription::get_EventClassID);
        }
        texts.prog_id = text_of(prog_id);
        if (const auto failure = injected_failure(L"Store", {texts.prog_id, texts.id, texts.name, texts.method,
                                                             texts.event_class}))
            return *failure;
        if (texts.prog_id != ids::subscription_prog_id || !subscription) return E_INVALIDARG;
        com_ptr<IUnknown> subscriber;
        subscription->get_SubscriberInterface(subscriber.put());
        return store_subscription(texts, std::move(subscriber));
    }

    STDMETHODIMP Remove(BSTR prog_id, BSTR query, int* error_index) override {
        const std::wstring query_text = text_of(query);
        log_remove_query(query_text);
        if (error_index) *error_index = 0;
        if (const auto failure = injected_failure(L"Remove", {query_text})) return *failure;
        if (text_of(prog_id) != ids::subscription_prog_id) return E_INVALIDARG;
        const parsed_query parsed = parse_remove_query(query_text);
        if (!parsed.valid) {
            if (error_index) *error_index = static_cast<int>(parsed.error_index);
            return EVENT_E_QUERYSYNTAX;
        }
        return remove_subscriptions(parsed.id) > 0 ? S_OK : S_FALSE;
    }

    STDMETHODIMP Query(BSTR, BSTR, int*, IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP get_EventObjectChangeEventClassID(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryS(BSTR, BSTR, IUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveS(BSTR, BSTR) override { return E_NOTIMPL; }

private:
    ~event_system() override = default;
};

}  // namespace

parsed_query parse_remove_query(const std::wstring& query) {
    static const std::wstring field = L"SubscriptionID";
    parsed_query result;
    std::size_t at = 0;
    const auto skip_spaces = [&] {
        while (at < query.size() && query[at] == L' ') ++at;
    };
    const auto fail_here = [&] {
        result.error_index = at;
        return result;
    };
    skip_spaces();
    if (query.size() - at < field.size() || !same_text_ignoring_case(query.substr(at, field.size()), field))
        return fail_here();
    at += field.size();
    skip_spaces();
    if (at >= query.size() || query[at] != L'=') return fail_here();
    ++at;
    if (at < query.size() && query[at] == L'=') ++at;
    skip_spaces();
    if (at < query.size() && (query[at] == L'\'' || query[at] == L'"')) {
        const wchar_t quote = query[at++];
        const std::size_t end = query.find(quote, at);
        if (end == std::wstring::npos) return fail_here();
        result.id = query.substr(at, end - at);
        at = end + 1;
        skip_spaces();
        if (at != query.size()) return fail_here();
    } else {
        std::size_t end = query.size();
        while (end > at && query[end - 1] == L' ') --end;
        result.id = query.substr(at, end - at);
    }
    if (result.id.empty()) return fail_here();
    result.valid = true;
    return result;
}

HRESULT create_event_system(REFIID iid, void** object) {
    return doubles::inproc::create_object<event_system>(iid, object);
}

}  // namespace event_system_double
