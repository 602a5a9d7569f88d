#include "service/tests/stand_in_dispatcher_win.h"

#include <sensevts.h>

#include <atomic>
#include <mutex>

#include "dispatcher/rx_core_service.h"
#include "foundation/result_win.h"
#include "tests/doubles/event_system/event_system_ids_win.h"

namespace stand_in_dispatcher {
namespace {
namespace ids = event_system_double::ids;

std::mutex g_lock;
std::vector<handler_call> g_calls;
std::atomic<long> g_live{0};

HRESULT record(const wchar_t* method, BSTR user, HRESULT answer) {
    const std::lock_guard<std::mutex> hold(g_lock);
    g_calls.push_back({method, user ? std::optional<std::wstring>(std::wstring(user, SysStringLen(user))) : std::nullopt,
                       GetCurrentThreadId()});
    return answer;
}

// The ISensLogon part: IUnknown goes to the owner, IDispatch to the SENS type library.
class sens_logon_part final : public ISensLogon {
public:
    explicit sens_logon_part(IUnknown* owner) : owner_(owner) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override { return owner_->QueryInterface(iid, object); }
    STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (index != 0) return DISP_E_BADINDEX;
        KV_RETURN_IF_FAILED(load_type_info());
        type_info_->AddRef();
        *info = type_info_.get();
        return S_OK;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        KV_RETURN_IF_FAILED(load_type_info());
        return DispGetIDsOfNames(type_info_.get(), names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                        EXCEPINFO* exception, UINT* argument_error) override {
        KV_RETURN_IF_FAILED(load_type_info());
        return DispInvoke(static_cast<ISensLogon*>(this), type_info_.get(), id, flags, parameters, result, exception,
                          argument_error);
    }

    STDMETHODIMP Logon(BSTR user) override { return record(L"Logon", user, S_OK); }
    STDMETHODIMP Logoff(BSTR user) override { return record(L"Logoff", user, S_OK); }
    STDMETHODIMP StartShell(BSTR user) override { return record(L"StartShell", user, E_NOTIMPL); }
    STDMETHODIMP DisplayLock(BSTR user) override { return record(L"DisplayLock", user, S_OK); }
    STDMETHODIMP DisplayUnlock(BSTR user) override { return record(L"DisplayUnlock", user, S_OK); }
    STDMETHODIMP StartScreenSaver(BSTR user) override { return record(L"StartScreenSaver", user, S_OK); }
    STDMETHODIMP StopScreenSaver(BSTR user) override { return record(L"StopScreenSaver", user, S_OK); }

private:
    HRESULT load_type_info() {
        if (type_info_) return S_OK;
        com_ptr<ITypeLib> library;
        KV_RETURN_IF_FAILED(
            LoadRegTypeLib(ids::sens_events_library, ids::sens_events_major, ids::sens_events_minor, 0, library.put()));
        return library->GetTypeInfoOfGuid(ids::sens_logon, type_info_.put());
    }

    IUnknown* owner_;
    com_ptr<ITypeInfo> type_info_;
};

class stand_in final : public RX_core_service_disp_i {
public:
    stand_in() { ++g_live; }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_RX_core_service_disp_i))
            *object = static_cast<RX_core_service_disp_i*>(this);
        else if (IsEqualIID(iid, ids::sens_logon))
            *object = static_cast<ISensLogon*>(&sens_);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++count_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --count_;
        if (left == 0) delete this;
        return left;
    }

    // The class's own dispatch part offers no names: an event caller must use ISensLogon's.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }
    STDMETHODIMP call_function(BSTR, BSTR*, LONG*) override { return E_NOTIMPL; }

private:
    ~stand_in() { --g_live; }
    std::atomic<ULONG> count_{1};
    sens_logon_part sens_{static_cast<RX_core_service_disp_i*>(this)};
};

class factory final : public IClassFactory {
public:
    explicit factory(HRESULT creation_failure) : creation_failure_(creation_failure) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++count_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --count_;
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (FAILED(creation_failure_)) return creation_failure_;
        return create()->QueryInterface(iid, object);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    HRESULT creation_failure_;
    std::atomic<ULONG> count_{1};
};

}  // namespace

std::vector<handler_call> calls() {
    const std::lock_guard<std::mutex> hold(g_lock);
    return g_calls;
}

long live_objects() { return g_live; }

com_ptr<IUnknown> create() {
    return com_ptr<IUnknown>::attach(static_cast<RX_core_service_disp_i*>(new stand_in()));
}

class_registration::class_registration(HRESULT creation_failure) {
    const com_ptr<IClassFactory> made = com_ptr<IClassFactory>::attach(new factory(creation_failure));
    status_ = CoRegisterClassObject(CLSID_RX_core_service_disp, made.get(), CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                    &cookie_);
}

class_registration::~class_registration() {
    if (SUCCEEDED(status_)) CoRevokeClassObject(cookie_);
}

}  // namespace stand_in_dispatcher
