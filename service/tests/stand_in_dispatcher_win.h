#pragma once
// A stand-in for RX_core_service_disp in tests of the logon subscriptions, until and beside
// the real class: a COM object with the class's two dispatch parts, RX_core_service_disp_i
// (whose IDispatch knows no names) and ISensLogon (its IDispatch served from the registered
// SENS events type library), which records every ISensLogon handler call. StartShell answers
// E_NOTIMPL, the other handlers S_OK.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "foundation/com_resource_win.h"

namespace stand_in_dispatcher {

struct handler_call {
    std::wstring method;
    std::optional<std::wstring> user;  // nothing for a null BSTR
    DWORD thread_id = 0;
};
// Every handler call of this process, oldest first.
std::vector<handler_call> calls();
// Stand-in objects alive in this process.
long live_objects();

// For its lifetime, registers a class object of CLSID_RX_core_service_disp in this process
// (CLSCTX_LOCAL_SERVER, as the service registers its own), so that CoCreateInstance on this
// thread makes a stand-in, or fails with `creation_failure` when that is a failure.
class class_registration {
public:
    explicit class_registration(HRESULT creation_failure = S_OK);
    ~class_registration();
    class_registration(const class_registration&) = delete;
    class_registration& operator=(const class_registration&) = delete;
    HRESULT status() const noexcept { return status_; }
private:
    HRESULT status_;
    DWORD cookie_ = 0;
};

// A new stand-in, as its IUnknown.
com_ptr<IUnknown> create();

}  // namespace stand_in_dispatcher
