#pragma once
// The plumbing every in-process COM double shares: the module handle, the count of live
// objects and server locks behind DllCanUnloadNow, a reference-counted object base, a
// class factory and the class registration under HKLM\Software\Classes\CLSID.
#include <windows.h>
#include <oaidl.h>
#include <unknwn.h>

#include <atomic>
#include <new>
#include <string>

#include "foundation/com_resource_win.h"

namespace doubles::inproc {

// The DLL records its own handle from DllMain.
void set_module(HMODULE module) noexcept;
HMODULE module() noexcept;
// Full path of the DLL as loaded.
std::wstring module_path();

// Live objects and IClassFactory::LockServer locks; DllCanUnloadNow answers S_OK at zero.
void lock_module() noexcept;
void unlock_module() noexcept;
HRESULT can_unload_now() noexcept;

// Reference count of one object, which keeps the module loaded while it lives.
class ref_counted {
public:
    ref_counted(const ref_counted&) = delete;
    ref_counted& operator=(const ref_counted&) = delete;
protected:
    ref_counted() noexcept { lock_module(); }
    virtual ~ref_counted() { unlock_module(); }
    ULONG add_ref() noexcept { return ++count_; }
    ULONG release() noexcept {
        const ULONG left = --count_;
        if (left == 0) delete this;
        return left;
    }
private:
    std::atomic<ULONG> count_{1};
};

// IUnknown, and an IDispatch that offers no type information, of an object with one
// dispatch-derived interface `Interface` (id `iid`) that callers use through its table.
template <typename Interface, const IID& iid>
class table_object : public Interface, private ref_counted {
public:
    STDMETHODIMP QueryInterface(REFIID asked, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(asked, IID_IUnknown) && !IsEqualIID(asked, IID_IDispatch) && !IsEqualIID(asked, iid))
            return E_NOINTERFACE;
        *object = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return add_ref(); }
    STDMETHODIMP_(ULONG) Release() override { return release(); }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
};

// Creates a new object of a class and asks it for `iid` (the object's own reference is
// released, so a failed QueryInterface frees it).
using creator = HRESULT (*)(REFIID iid, void** object);

// A creator's work for a class T whose new objects hold one reference.
template <typename T>
HRESULT create_object(REFIID iid, void** object) {
    const com_ptr<T> made = com_ptr<T>::attach(new (std::nothrow) T());
    if (!made) return E_OUTOFMEMORY;
    return made->QueryInterface(iid, object);
}

// DllGetClassObject's work for one class: a class factory that makes objects with `create`.
HRESULT get_class_object(creator create, REFIID iid, void** object);

// Registers the class as in-process server of this DLL: HKLM\Software\Classes\CLSID\{clsid}
// (default value `description`) with InprocServer32 = the DLL's path and the given
// ThreadingModel. Rewrites the values when the class is already registered.
HRESULT register_class(const CLSID& clsid, const wchar_t* description, const wchar_t* threading_model);
// Removes the class key (S_OK also when it was absent).
HRESULT unregister_class(const CLSID& clsid);

}  // namespace doubles::inproc
