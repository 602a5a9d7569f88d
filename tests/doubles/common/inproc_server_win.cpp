#include "tests/doubles/common/inproc_server_win.h"

#include <new>
#include <vector>

#include "foundation/guid_text_win.h"
#include "foundation/module_path_win.h"
#include "foundation/result_win.h"
#include "foundation/unique_resource_win.h"

namespace doubles::inproc {
namespace {

HMODULE g_module = nullptr;
std::atomic<long> g_locks{0};

std::wstring class_key(const CLSID& clsid) { return L"Software\\Classes\\CLSID\\" + std::wstring(text_of_guid(clsid).c_str()); }

HRESULT set_text(HKEY key, const wchar_t* name, const std::wstring& text) {
    return HRESULT_FROM_WIN32(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
}

HRESULT create_key(HKEY parent, const std::wstring& path, unique_hkey& key) {
    return HRESULT_FROM_WIN32(RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                              key.put(), nullptr));
}

class class_factory final : public IClassFactory, private ref_counted {
public:
    explicit class_factory(creator create) noexcept : create_(create) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return add_ref(); }
    STDMETHODIMP_(ULONG) Release() override { return release(); }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(iid, object);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        lock ? lock_module() : unlock_module();
        return S_OK;
    }

private:
    creator create_;
};

}  // namespace

void set_module(HMODULE module) noexcept { g_module = module; }
HMODULE module() noexcept { return g_module; }
std::wstring module_path() { return module_file_path(g_module); }

void lock_module() noexcept { ++g_locks; }
void unlock_module() noexcept { --g_locks; }
HRESULT can_unload_now() noexcept { return g_locks == 0 ? S_OK : S_FALSE; }

HRESULT get_class_object(creator create, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    const com_ptr<class_factory> factory = com_ptr<class_factory>::attach(new (std::nothrow) class_factory(create));
    if (!factory) return E_OUTOFMEMORY;
    return factory->QueryInterface(iid, object);
}

HRESULT register_class(const CLSID& clsid, const wchar_t* description, const wchar_t* threading_model) {
    const std::wstring path = module_path();
    if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
    unique_hkey key, server;
    KV_RETURN_IF_FAILED(create_key(HKEY_LOCAL_MACHINE, class_key(clsid), key));
    KV_RETURN_IF_FAILED(set_text(key.get(), nullptr, description));
    KV_RETURN_IF_FAILED(create_key(key.get(), L"InprocServer32", server));
    KV_RETURN_IF_FAILED(set_text(server.get(), nullptr, path));
    return set_text(server.get(), L"ThreadingModel", threading_model);
}

HRESULT unregister_class(const CLSID& clsid) {
    const LSTATUS status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, class_key(clsid).c_str());
    return status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

}  // namespace doubles::inproc
