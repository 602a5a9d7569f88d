#include "dispatcher/manager_component_win.h"

#include "foundation/com_resource_win.h"

namespace {
// Only the main thread touches these (see the header). The pointer is never destroyed:
// the wind-up releases the component while COM is still up, and a pointer some path left
// behind must not be released by the process's end, after COM has unloaded its DLL.
com_ptr<RX_manager_i>& manager = *new com_ptr<RX_manager_i>();
HRESULT unavailable = E_FAIL;  // why calls cannot be forwarded while no manager is held
}  // namespace

HRESULT create_manager() noexcept {
    manager.reset();
    const HRESULT result = ::CoCreateInstance(CLSID_RX_manager_component, nullptr,
                                              CLSCTX_INPROC_SERVER, IID_RX_manager_i,
                                              manager.put_void());
    if (FAILED(result)) manager.reset();
    unavailable = FAILED(result) ? result : E_FAIL;
    return result;
}

HRESULT start_manager(KV_event* stop_event, KV_event* done_event) noexcept {
    if (!manager) return E_POINTER;
    return manager->start_manager(1, stop_event, done_event);
}

bool manager_created() noexcept { return static_cast<bool>(manager); }

HRESULT forward_call(const wchar_t* name, const wchar_t* envelope, BSTR* result) noexcept {
    if (!manager) return unavailable;
    return manager->forward_call(name, envelope, result);
}

void release_manager() noexcept {
    manager.reset();
    unavailable = E_FAIL;
}
