#pragma once
// The type information behind an IDispatch implementation: the description of one
// interface in a registered type library, loaded on first use and kept for the life of
// the process (type library objects belong to no apartment, and releasing them at exit,
// after COM has gone, would be unsafe).
#include <windows.h>
#include <oaidl.h>

#include <mutex>

class type_info_source {
public:
    // `from_own_module`: when the library is not registered, load it from the running
    // executable, which carries it as type-library resource 1.
    type_info_source(const GUID& library, WORD major, WORD minor, const IID& iid,
                     bool from_own_module) noexcept
        : library_(library), major_(major), minor_(minor), iid_(iid),
          from_own_module_(from_own_module) {}
    type_info_source(const type_info_source&) = delete;
    type_info_source& operator=(const type_info_source&) = delete;

    // The interface's description as the library holds it (for a dual interface, its
    // dispatch part), with a reference for the caller.
    HRESULT get(LCID locale, ITypeInfo** info) noexcept;

    // IDispatch served from the description: GetIDsOfNames and Invoke through the
    // interface's table (for a dual interface, the table part of its description).
    HRESULT ids_of_names(LPOLESTR* names, UINT count, DISPID* ids) noexcept;
    HRESULT invoke(void* object, DISPID member, WORD flags, DISPPARAMS* parameters,
                   VARIANT* result, EXCEPINFO* exception, UINT* argument_error) noexcept;

private:
    HRESULT load(LCID locale) noexcept;

    const GUID& library_;
    WORD major_;
    WORD minor_;
    const IID& iid_;
    bool from_own_module_;
    std::mutex lock_;
    ITypeInfo* described_ = nullptr;   // owned for the process's life
    ITypeInfo* table_part_ = nullptr;  // owned for the process's life
};
