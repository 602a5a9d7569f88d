#include "dispatcher/class_factory_win.h"

#include "dispatcher/rx_core_service_disp_win.h"
#include "dispatcher/server_lock_win.h"

namespace {

class class_factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // A static object: COM's references neither create nor end it.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        return RX_core_service_disp::create(outer, iid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) server_lock();
        else server_unlock();
        return S_OK;
    }
};

class_factory factory;

}  // namespace

IClassFactory* rx_core_service_disp_class_object() noexcept { return &factory; }
