#include "service/logon_subscriptions_win.h"

#include <cstdint>
#include <exception>
#include <string>

#include "dispatcher/rx_core_service.h"
#include "foundation/bstr_win.h"
#include "foundation/guid_text_win.h"
#include "foundation/trace.h"
#include "service/start_fault_seam_win.h"

namespace logon_subscriptions {
namespace {

constexpr trace_name subscribe_scope = L"CRxCoreServiceModule::subscribe";
constexpr trace_name prepare_scope = L"CRxCoreServiceModule::PreMessageLoop";

HRESULT step_failed(trace_name scope, trace_format step, HRESULT hr) noexcept {
    trace_message(scope, step);
    trace_error(scope, static_cast<std::uint32_t>(hr));
    return hr;
}

}  // namespace

HRESULT subscribe(IEventSystem* event_system, IUnknown* subscriber, const wchar_t* subscription_id,
                  const wchar_t* method_name) {
    trace_scope(subscribe_scope, 0, L"%s", method_name);
    if (!event_system) return E_POINTER;

    com_ptr<IEventSubscription> subscription;
    HRESULT hr = CoCreateInstance(event_subscription_class, nullptr, CLSCTX_SERVER, event_subscription_interface,
                                  subscription.put_void());
    if (FAILED(hr)) return step_failed(subscribe_scope, L"Failed to create an event subscription!\n", hr);

    // Each text is a BSTR of its own, freed when its call returns.
    hr = subscription->put_SubscriptionID(allocate_bstr(subscription_id).get());
    if (FAILED(hr)) return step_failed(subscribe_scope, L"put_SubscriptionID\n", hr);
    hr = subscription->put_SubscriptionName(allocate_bstr(subscription_id).get());
    if (FAILED(hr)) return step_failed(subscribe_scope, L"put_SubscriptionName\n", hr);
    hr = subscription->put_MethodName(allocate_bstr(method_name).get());
    if (FAILED(hr)) return step_failed(subscribe_scope, L"put_MethodName\n", hr);
    hr = subscription->put_EventClassID(allocate_bstr(text_of_guid(logon_event_class).c_str()).get());
    if (FAILED(hr)) return step_failed(subscribe_scope, L"put_EventClassID\n", hr);
    hr = subscription->put_SubscriberInterface(subscriber);
    if (FAILED(hr)) return step_failed(subscribe_scope, L"put_SubscriberInterface\n", hr);

    hr = event_system->Store(allocate_bstr(subscription_prog_id).get(), subscription.get());
    if (FAILED(hr)) return step_failed(subscribe_scope, L"Store\n", hr);
    return hr;
}

HRESULT unsubscribe(IEventSystem* event_system, const wchar_t* subscription_id) {
    if (!event_system) return E_FAIL;
    std::wstring query = L"SubscriptionID";
    query += L"=";
    query += subscription_id ? subscription_id : L"";
    int error_index = 0;
    return event_system->Remove(allocate_bstr(subscription_prog_id).get(), allocate_bstr(query.c_str()).get(),
                                &error_index);
}

com_ptr<IEventSystem> start() {
    com_ptr<IEventSystem> event_system;
    start(event_system);
    return event_system;
}

void start(com_ptr<IEventSystem>& event_system) {
    event_system.reset();
    HRESULT hr = start_fault_at(start_step::event_system);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(event_system_class, nullptr, CLSCTX_SERVER, event_system_interface,
                              event_system.put_void());
    if (FAILED(hr)) {
        event_system.reset();
        step_failed(prepare_scope, L"Failed to create event system!\n", hr);
        return;
    }

    trace_message(prepare_scope, L"About to start subscriptions...\n");
    com_ptr<RX_core_service_disp_i> dispatcher;
    hr = start_fault_at(start_step::subscriptions);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_RX_core_service_disp, nullptr, CLSCTX_SERVER, IID_RX_core_service_disp_i,
                              dispatcher.put_void());
    if (FAILED(hr)) {
        step_failed(prepare_scope, L"Failed to create a dispatcher!\n", hr);
        return;
    }
    try {
        for (const subscription& one : table) subscribe(event_system.get(), dispatcher.get(), one.id, one.method);
    } catch (const std::exception&) {
        // Out of memory: the remaining subscriptions are not made; the service runs on.
    }
}

void stop(IEventSystem* event_system) noexcept {
    try {
        for (const subscription& one : table) unsubscribe(event_system, one.id);
    } catch (const std::exception&) {
        // Out of memory: the remaining removals are given up.
    }
}

}  // namespace logon_subscriptions
