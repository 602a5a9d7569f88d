#include "tests/doubles/event_system/dll/event_subscription_win.h"

#include <eventsys.h>

#include <mutex>
#include <new>
#include <string>

#include "foundation/com_resource_win.h"
#include "tests/doubles/common/double_registry_win.h"
#include "tests/doubles/common/inproc_server_win.h"
#include "tests/doubles/event_system/dll/failure_switch_win.h"
#include "tests/doubles/event_system/event_system_double_win.h"
#include "tests/doubles/event_system/event_system_ids_win.h"
#include "tests/doubles/event_system/event_system_protocol_win.h"

namespace event_system_double {
namespace {

void count_live_objects(int change) {
    static std::mutex counting;
    const std::lock_guard<std::mutex> hold(counting);
    const unique_hkey key = doubles::open_key(key_path, true);
    const DWORD now = doubles::read_dword(key.get(), protocol::value::live_objects).value_or(0);
    doubles::write_dword(key.get(), protocol::value::live_objects, static_cast<DWORD>(static_cast<int>(now) + change));
}

HRESULT copy_out(const std::wstring& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

class event_subscription final : public doubles::inproc::table_object<IEventSubscription, ids::event_subscription> {
public:
    event_subscription() { count_live_objects(+1); }

    // The properties the double keeps.
    STDMETHODIMP get_SubscriptionID(BSTR* out) override { return copy_out(id_, out); }
    STDMETHODIMP put_SubscriptionID(BSTR text) override { return put(L"put_SubscriptionID", text, id_); }
    STDMETHODIMP get_SubscriptionName(BSTR* out) override { return copy_out(name_, out); }
    STDMETHODIMP put_SubscriptionName(BSTR text) override { return put(L"put_SubscriptionName", text, name_); }
    STDMETHODIMP get_EventClassID(BSTR* out) override { return copy_out(event_class_, out); }
    STDMETHODIMP put_EventClassID(BSTR text) override { return put(L"put_EventClassID", text, event_class_); }
    STDMETHODIMP get_MethodName(BSTR* out) override { return copy_out(method_, out); }
    STDMETHODIMP put_MethodName(BSTR text) override { return put(L"put_MethodName", text, method_); }
    STDMETHODIMP get_SubscriberInterface(IUnknown** out) override {
        if (!out) return E_POINTER;
        *out = subscriber_.get();
        if (*out) (*out)->AddRef();
        return S_OK;
    }
    STDMETHODIMP put_SubscriberInterface(IUnknown* subscriber) override {
        if (const auto failure = injected_failure(L"put_SubscriberInterface", {id_, name_, method_, event_class_}))
            return *failure;
        if (subscriber) subscriber->AddRef();
        subscriber_ = com_ptr<IUnknown>::attach(subscriber);
        return S_OK;
    }

    // The rest of the interface is not needed by the service.
    STDMETHODIMP get_PublisherID(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_PublisherID(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_SubscriberCLSID(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_SubscriberCLSID(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_PerUser(WINBOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_PerUser(WINBOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_OwnerSID(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_OwnerSID(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_Enabled(WINBOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Enabled(WINBOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_Description(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Description(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_MachineName(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_MachineName(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetPublisherProperty(BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP PutPublisherProperty(BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP RemovePublisherProperty(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetPublisherPropertyCollection(IEventObjectCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP GetSubscriberProperty(BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP PutSubscriberProperty(BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveSubscriberProperty(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetSubscriberPropertyCollection(IEventObjectCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP get_InterfaceID(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_InterfaceID(BSTR) override { return E_NOTIMPL; }

private:
    ~event_subscription() override { count_live_objects(-1); }

    HRESULT put(const wchar_t* call, BSTR text, std::wstring& property) {
        const std::wstring value(text ? text : L"", text ? SysStringLen(text) : 0);
        if (const auto failure = injected_failure(call, {value, id_, name_, method_, event_class_})) return *failure;
        property = value;
        return S_OK;
    }

    std::wstring id_, name_, method_, event_class_;
    com_ptr<IUnknown> subscriber_;
};

}  // namespace

HRESULT create_event_subscription(REFIID iid, void** object) {
    if (const auto failure = injected_failure(L"CreateInstance")) return *failure;
    return doubles::inproc::create_object<event_subscription>(iid, object);
}

}  // namespace event_system_double
