// kv_event_system_double.dll: the COM+ event system double. See event_system_double_win.h.
#include <windows.h>
#include <oleauto.h>

#include "foundation/com_resource_win.h"
#include "foundation/result_win.h"
#include "tests/doubles/common/inproc_server_win.h"
#include "tests/doubles/event_system/dll/event_subscription_win.h"
#include "tests/doubles/event_system/dll/event_system_win.h"
#include "tests/doubles/event_system/event_system_ids_win.h"

namespace {
using namespace event_system_double;
using namespace doubles;

// The SENS events type library travels as TYPELIB resource 1 of this DLL.
HRESULT register_sens_events_library() {
    std::wstring path = inproc::module_path();
    com_ptr<ITypeLib> library;
    KV_RETURN_IF_FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()));
    return RegisterTypeLib(library.get(), path.data(), nullptr);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        inproc::set_module(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
    if (object) *object = nullptr;
    if (IsEqualCLSID(clsid, ids::event_system_class)) return inproc::get_class_object(create_event_system, iid, object);
    if (IsEqualCLSID(clsid, ids::event_subscription_class))
        return inproc::get_class_object(create_event_subscription, iid, object);
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return inproc::can_unload_now(); }

STDAPI DllRegisterServer() {
    KV_RETURN_IF_FAILED(inproc::register_class(ids::event_system_class, L"CEventSystem (test double)", L"Both"));
    KV_RETURN_IF_FAILED(
        inproc::register_class(ids::event_subscription_class, L"CEventSubscription (test double)", L"Both"));
    return register_sens_events_library();
}

STDAPI DllUnregisterServer() {
    KV_RETURN_IF_FAILED(inproc::unregister_class(ids::event_system_class));
    KV_RETURN_IF_FAILED(inproc::unregister_class(ids::event_subscription_class));
    const HRESULT hr =
        UnRegisterTypeLib(ids::sens_events_library, ids::sens_events_major, ids::sens_events_minor, 0, SYS_WIN64);
    return hr == TYPE_E_REGISTRYACCESS ? S_OK : hr;  // already gone
}
