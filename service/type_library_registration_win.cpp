#include "service/type_library_registration_win.h"

#include <oleauto.h>

#include "foundation/com_resource_win.h"
#include "foundation/guid_text_win.h"
#include "foundation/result_win.h"
#include "foundation/unique_resource_win.h"
#include "service/service_identity_win.h"

namespace {

// The per-user entries of OLEAUT32.DLL, which mingw-w64's headers do not declare.
using register_for_user_fn = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using unregister_for_user_fn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

template <typename Function>
Function oleaut32_entry(const char* name) {
    const HMODULE oleaut32 = GetModuleHandleW(L"OLEAUT32.DLL");
    return oleaut32 != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(oleaut32, name)))
                               : nullptr;
}

std::wstring with_tlb_extension(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    const std::size_t dot = path.find_last_of(L'.');
    const bool has_extension = dot != std::wstring::npos && (separator == std::wstring::npos || dot > separator);
    return (has_extension ? path.substr(0, dot) : path) + L".tlb";
}

// The library and the path it was loaded from.
HRESULT load_type_library(const std::wstring& module_path, com_ptr<ITypeLib>& library, std::wstring& loaded_from) {
    loaded_from = module_path;
    HRESULT hr = LoadTypeLibEx(loaded_from.c_str(), REGKIND_NONE, library.put());
    if (SUCCEEDED(hr)) return hr;
    loaded_from = with_tlb_extension(module_path);
    return LoadTypeLibEx(loaded_from.c_str(), REGKIND_NONE, library.put());
}

// The directory part of the library's help-file path; empty when it names none.
std::wstring help_directory(ITypeLib* library) {
    unique_bstr help_file;
    if (FAILED(library->GetDocumentation(-1, nullptr, nullptr, nullptr, help_file.put())) || !help_file)
        return std::wstring();
    const std::wstring path(help_file.get(), SysStringLen(help_file.get()));
    const std::size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

HRESULT register_type_library(const std::wstring& module_path, bool per_user) {
    com_ptr<ITypeLib> library;
    std::wstring path;
    KV_RETURN_IF_FAILED(load_type_library(module_path, library, path));
    std::wstring help = help_directory(library.get());
    OLECHAR* help_argument = help.empty() ? nullptr : help.data();
    const auto for_user = per_user ? oleaut32_entry<register_for_user_fn>("RegisterTypeLibForUser") : nullptr;
    return for_user != nullptr ? for_user(library.get(), path.data(), help_argument)
                               : RegisterTypeLib(library.get(), path.data(), help_argument);
}

HRESULT unregister_type_library(const std::wstring& module_path, bool per_user) {
    com_ptr<ITypeLib> library;
    std::wstring path;
    KV_RETURN_IF_FAILED(load_type_library(module_path, library, path));
    TLIBATTR* attributes = nullptr;
    KV_RETURN_IF_FAILED(library->GetLibAttr(&attributes));
    const TLIBATTR copy = *attributes;
    library->ReleaseTLibAttr(attributes);
    const auto for_user = per_user ? oleaut32_entry<unregister_for_user_fn>("UnRegisterTypeLibForUser") : nullptr;
    return for_user != nullptr
               ? for_user(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind)
               : UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind);
}

bool type_library_registered() {
    const std::wstring key =
        std::wstring(L"TypeLib\\") + text_of_guid(service_identity::type_library_id).c_str() + L"\\1.0";
    unique_hkey version;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, version.put()) == ERROR_SUCCESS;
}
