#include "service/registry_script_win.h"

#include "foundation/result_win.h"
#include "service/service_identity_win.h"

namespace {

std::wstring doubled_single_quotes(const std::wstring& text) {
    std::wstring result;
    result.reserve(text.size());
    for (wchar_t c : text) {
        result += c;
        if (c == L'\'') result += c;
    }
    return result;
}

}  // namespace

HRESULT registry_scripts::prepare(const std::wstring& module_path) {
    module_path_ = module_path;
    KV_RETURN_IF_FAILED(CoCreateInstance(registrar_class_id, nullptr, CLSCTX_INPROC_SERVER, registrar_interface_id,
                                         registrar_.put_void()));
    const std::wstring raw = doubled_single_quotes(module_path);
    const std::wstring quoted = L"\"" + raw + L"\"";
    KV_RETURN_IF_FAILED(registrar_->AddReplacement(L"APPID", service_identity::app_id_text));
    KV_RETURN_IF_FAILED(registrar_->AddReplacement(L"MODULE", quoted.c_str()));
    return registrar_->AddReplacement(L"MODULE_RAW", raw.c_str());
}

HRESULT registry_scripts::run(UINT resource_id, bool register_keys) {
    if (!registrar_) return E_UNEXPECTED;
    return register_keys ? registrar_->ResourceRegister(module_path_.c_str(), resource_id, L"REGISTRY")
                         : registrar_->ResourceUnregister(module_path_.c_str(), resource_id, L"REGISTRY");
}

per_user_classes_root::~per_user_classes_root() {
    if (redirected_) RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
}

HRESULT per_user_classes_root::begin() {
    unique_hkey classes;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS,
                                     nullptr, classes.put(), nullptr);
    if (status == ERROR_SUCCESS) status = RegOverridePredefKey(HKEY_CLASSES_ROOT, classes.get());
    redirected_ = status == ERROR_SUCCESS;
    return HRESULT_FROM_WIN32(status);
}
