#pragma once
// RX_core_service_disp: the service's one COM class. Clients call `call_function` on its
// dual interface RX_core_service_disp_i; the system's logon events arrive on its
// ISensLogon part. QueryInterface answers, in this order: IUnknown, RX_core_service_disp_i,
// IDispatch (with the ISensLogon part) and ISensLogon. Objects support aggregation and
// count references with interlocked operations; each live object holds a server lock.
#include <windows.h>
#include <oaidl.h>
#include <sensevts.h>

#include "dispatcher/notifications_win.h"
#include "dispatcher/rx_core_service.h"
#include "dispatcher/type_info_win.h"

namespace rx_detail {

// IDispatch of RX_core_service_disp_i, served from RxCoreServiceLib.
class service_dispatch : public RX_core_service_disp_i {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags,
                                     DISPPARAMS* parameters, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argument_error) override;
};

// IDispatch of ISensLogon, served from the system's SENS events type library.
class logon_dispatch : public ISensLogon {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags,
                                     DISPPARAMS* parameters, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argument_error) override;
};

}  // namespace rx_detail

class RX_core_service_disp final : public rx_detail::service_dispatch,
                                   public rx_detail::logon_dispatch {
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

    inner_unknown inner_;
    IUnknown* controlling_;  // the outer object, or inner_
    LONG volatile references_ = 0;
    notification_map notifications_;
};

// The description of RX_core_service_disp_i (a dual interface of RxCoreServiceLib 1.0).
type_info_source& service_type_info() noexcept;
// The description of ISensLogon (SENS events type library 2.0).
type_info_source& logon_type_info() noexcept;
