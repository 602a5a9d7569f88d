#pragma once
// RX_core_service_disp: the service's one COM class. Clients call `call_function` on its
// dual interface RX_core_service_disp_i; the system's logon events arrive on its
// ISensLogon part. QueryInterface answers, in this order: IUnknown, RX_core_service_disp_i,
// IDispatch (with the ISensLogon part) and ISensLogon. Objects support aggregation and
// count references with interlocked operations; each live object holds a server lock.
#include <windows.h>
#include <oaidl.h>
#include <sensevts.h>

#include <atomic>

#include "dispatcher/notifications_win.h"
#include "dispatcher/rx_core_service.h"
#include "dispatcher/type_info_win.h"

// The description of RX_core_service_disp_i (a dual interface of RxCoreServiceLib 1.0).
type_info_source& service_type_info() noexcept;
// The description of ISensLogon (SENS events type library 2.0).
type_info_source& logon_type_info() noexcept;

namespace rx_detail {

// IDispatch of one part of the object, served from the type information `source` gives:
// RX_core_service_disp_i from RxCoreServiceLib, ISensLogon from the system's SENS events
// type library.
template <typename Interface, type_info_source& (*source)() noexcept>
class dispatch_part : public Interface {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
        if (info == nullptr) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return source().get(locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        return source().ids_of_names(names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID, WORD flags,
                                     DISPPARAMS* parameters, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argument_error) override {
        if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        return source().invoke(static_cast<Interface*>(this), member, flags, parameters, result,
                               exception, argument_error);
    }
};

}  // namespace rx_detail

class RX_core_service_disp final
    : public rx_detail::dispatch_part<RX_core_service_disp_i, service_type_info>,
      public rx_detail::dispatch_part<ISensLogon, logon_type_info> {
public:
    // Makes an object (aggregated when `outer` is not null, which then requires
    // IID_IUnknown) and asks it for `iid`. Reports E_OUTOFMEMORY instead of throwing.
    static HRESULT create(IUnknown* outer, REFIID iid, void** object) noexcept;

    // IUnknown of every part: forwarded to the controlling unknown.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // RX_core_service_disp_i.
    HRESULT STDMETHODCALLTYPE call_function(BSTR arg, BSTR* ret, LONG* ret_code) override;

    // ISensLogon: each notifies the user's event; Logoff first makes the vault driver
    // forget the user's keys and single-sign-on data; StartShell is not implemented.
    HRESULT STDMETHODCALLTYPE Logon(BSTR user) override;
    HRESULT STDMETHODCALLTYPE Logoff(BSTR user) override;
    HRESULT STDMETHODCALLTYPE StartShell(BSTR user) override;
    HRESULT STDMETHODCALLTYPE DisplayLock(BSTR user) override;
    HRESULT STDMETHODCALLTYPE DisplayUnlock(BSTR user) override;
    HRESULT STDMETHODCALLTYPE StartScreenSaver(BSTR user) override;
    HRESULT STDMETHODCALLTYPE StopScreenSaver(BSTR user) override;

    // The core command (the one operation whose name holds "core_" that the service
    // knows): "core_has_agent_GUID_changed". `*result` is null on entry.
    HRESULT core_perform_operation(const wchar_t* name, const wchar_t* envelope, BSTR* result);

    // Signals the user's notification through this object's map.
    HRESULT notify(const wchar_t* user, const wchar_t* notification);

private:
    // The object's own IUnknown, which owns the reference count and answers the
    // interfaces; when aggregated it is what the outer object holds.
    class inner_unknown : public IUnknown {
    public:
        explicit inner_unknown(RX_core_service_disp& owner) noexcept : owner_(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;
    private:
        RX_core_service_disp& owner_;
    };

    explicit RX_core_service_disp(IUnknown* outer) noexcept;
    ~RX_core_service_disp();

    // True when the ISensLogon handler opened under `scope` may act for its caller; a
    // refusal is traced there.
    bool logon_caller_admitted(trace_name scope) const noexcept;

    inner_unknown inner_;
    IUnknown* controlling_;  // the outer object, or inner_
    LONG volatile references_ = 0;
    // Set once COM has asked the object for IMarshal, to hand it out of its apartment:
    // from then on a call without a call context may come from another process.
    std::atomic<bool> exported_{false};
    notification_map notifications_;
};

