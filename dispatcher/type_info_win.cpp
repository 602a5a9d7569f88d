#include "dispatcher/type_info_win.h"

#include "foundation/com_resource_win.h"
#include "foundation/result_win.h"

#include <oleauto.h>

namespace {

com_ptr<ITypeLib> load_library(const GUID& library, WORD major, WORD minor, LCID locale,
                               bool from_own_module) {
    com_ptr<ITypeLib> loaded;
    if (SUCCEEDED(::LoadRegTypeLib(library, major, minor, locale, loaded.put())) ||
        !from_own_module)
        return loaded;
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return {};
    if (FAILED(::LoadTypeLibEx(path, REGKIND_NONE, loaded.put()))) return {};
    return loaded;
}

// For a dual interface the library describes a dispatch part and a table part; calls
// made through the object's table need the latter.
com_ptr<ITypeInfo> table_part_of(ITypeInfo* described) {
    com_ptr<ITypeInfo> result;
    TYPEATTR* attributes = nullptr;
    if (FAILED(described->GetTypeAttr(&attributes))) return result;
    const bool dual = attributes->typekind == TKIND_DISPATCH &&
                      (attributes->wTypeFlags & TYPEFLAG_FDUAL) != 0;
    described->ReleaseTypeAttr(attributes);
    HREFTYPE reference = 0;
    if (dual && SUCCEEDED(described->GetRefTypeOfImplType(-1, &reference)) &&
        SUCCEEDED(described->GetRefTypeInfo(reference, result.put())))
        return result;
    described->AddRef();
    return com_ptr<ITypeInfo>::attach(described);
}

}  // namespace

HRESULT type_info_source::load(LCID locale) noexcept {
    const std::lock_guard<std::mutex> guard(lock_);
    if (described_ != nullptr) return S_OK;
    const com_ptr<ITypeLib> library = load_library(library_, major_, minor_, locale, from_own_module_);
    if (!library) return TYPE_E_LIBNOTREGISTERED;
    com_ptr<ITypeInfo> described;
    KV_RETURN_IF_FAILED(library->GetTypeInfoOfGuid(iid_, described.put()));
    com_ptr<ITypeInfo> table = table_part_of(described.get());
    if (!table) return E_UNEXPECTED;
    table_part_ = table.detach();
    described_ = described.detach();
    return S_OK;
}

HRESULT type_info_source::get(LCID locale, ITypeInfo** info) noexcept {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    KV_RETURN_IF_FAILED(load(locale));
    described_->AddRef();
    *info = described_;
    return S_OK;
}

HRESULT type_info_source::ids_of_names(LPOLESTR* names, UINT count, DISPID* ids) noexcept {
    KV_RETURN_IF_FAILED(load(LOCALE_USER_DEFAULT));
    return ::DispGetIDsOfNames(table_part_, names, count, ids);
}

HRESULT type_info_source::invoke(void* object, DISPID member, WORD flags,
                                 DISPPARAMS* parameters, VARIANT* result,
                                 EXCEPINFO* exception, UINT* argument_error) noexcept {
    KV_RETURN_IF_FAILED(load(LOCALE_USER_DEFAULT));
    return ::DispInvoke(object, table_part_, member, flags, parameters, result, exception,
                        argument_error);
}
