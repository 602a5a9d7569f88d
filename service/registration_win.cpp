#include "service/registration_win.h"

#include <vector>

#include "foundation/module_path_win.h"
#include "foundation/result_win.h"
#include "foundation/trace.h"
#include "foundation/unique_resource_win.h"
#include "service/service_identity_win.h"
#include "service/type_library_registration_win.h"

namespace {

// COM for the duration of one verb, on the thread that runs it.
class com_apartment {
public:
    com_apartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~com_apartment() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    HRESULT result() const noexcept { return result_ == RPC_E_CHANGED_MODE ? S_OK : result_; }

private:
    HRESULT result_;
};

HRESULT traced(HRESULT hr, const wchar_t* step) {
    if (FAILED(hr)) {
        trace_message(L"CRxCoreServiceModule::Register", L"%s failed\n", step);
        trace_error(L"CRxCoreServiceModule::Register", static_cast<std::uint32_t>(hr));
    }
    return hr;
}

HRESULT open_app_id(REGSAM app_ids_access, REGSAM app_id_access, bool create, unique_hkey& app_id) {
    unique_hkey app_ids;
    LSTATUS status = RegOpenKeyExW(HKEY_CLASSES_ROOT, L"AppID", 0, app_ids_access, app_ids.put());
    if (status == ERROR_SUCCESS)
        status = create ? RegCreateKeyExW(app_ids.get(), service_identity::app_id_text, 0, nullptr, 0,
                                          app_id_access, nullptr, app_id.put(), nullptr)
                        : RegOpenKeyExW(app_ids.get(), service_identity::app_id_text, 0, app_id_access, app_id.put());
    return HRESULT_FROM_WIN32(status);
}

}  // namespace

registration_context registration_context_of_this_executable() {
    registration_context context;
    context.service.service_name = load_service_name().text;
    context.service.module_path = module_file_path();
    return context;
}

HRESULT register_app_id(const registration_context& context, registry_scripts& scripts, bool with_service) {
    trace_scope(L"CRxCoreServiceModule::RegisterAppId", with_service ? 1 : 0);
    if (!uninstall_service(context.service)) return E_FAIL;
    KV_RETURN_IF_FAILED(traced(scripts.run(service_identity::app_id_script_resource, true), L"AppID script"));
    unique_hkey app_id;
    KV_RETURN_IF_FAILED(traced(open_app_id(KEY_WRITE, KEY_READ | KEY_WRITE, true, app_id), L"AppID key"));
    RegDeleteValueW(app_id.get(), service_identity::local_service_value);
    if (!with_service) return S_OK;

    const std::wstring& name = context.service.service_name;
    const LSTATUS status =
        RegSetValueExW(app_id.get(), service_identity::local_service_value, 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(name.c_str()),
                       static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
    KV_RETURN_IF_FAILED(traced(HRESULT_FROM_WIN32(status), L"LocalService value"));
    return install_service(context.service) ? S_OK : E_FAIL;
}

HRESULT unregister_app_id(const registration_context& context, registry_scripts& scripts) {
    trace_scope(L"CRxCoreServiceModule::UnregisterAppId");
    if (!uninstall_service(context.service)) return E_FAIL;
    unique_hkey app_id;
    KV_RETURN_IF_FAILED(traced(open_app_id(KEY_WRITE, KEY_WRITE, false, app_id), L"AppID key"));
    RegDeleteValueW(app_id.get(), service_identity::local_service_value);
    return traced(scripts.run(service_identity::app_id_script_resource, false), L"AppID script");
}

HRESULT register_server(const registration_context& context, registry_scripts& scripts) {
    trace_scope(L"CRxCoreServiceModule::RegisterServer");
    KV_RETURN_IF_FAILED(traced(scripts.run(service_identity::class_script_resource, true), L"class script"));
    return traced(register_type_library(context.service.module_path, context.per_user), L"type library");
}

HRESULT unregister_server(const registration_context& context, registry_scripts& scripts) {
    trace_scope(L"CRxCoreServiceModule::UnregisterServer");
    KV_RETURN_IF_FAILED(traced(scripts.run(service_identity::class_script_resource, false), L"class script"));
    return traced(unregister_type_library(context.service.module_path, context.per_user), L"type library");
}

HRESULT run_registration_verb(registration_verb verb, registration_context context) {
    trace_scope(L"CRxCoreServiceModule::ParseCommandLine", static_cast<int>(verb));
    com_apartment com;
    KV_RETURN_IF_FAILED(traced(com.result(), L"CoInitializeEx"));
    registry_scripts scripts;
    KV_RETURN_IF_FAILED(traced(scripts.prepare(context.service.module_path), L"registrar"));
    context.per_user = is_per_user(verb);
    per_user_classes_root classes_root;
    if (context.per_user) KV_RETURN_IF_FAILED(traced(classes_root.begin(), L"per-user classes"));

    switch (verb) {
    case registration_verb::unreg_server:
    case registration_verb::unreg_server_per_user:
        KV_RETURN_IF_FAILED(unregister_server(context, scripts));
        return unregister_app_id(context, scripts);
    case registration_verb::reg_server:
    case registration_verb::reg_server_per_user:
        KV_RETURN_IF_FAILED(register_app_id(context, scripts, false));
        return register_server(context, scripts);
    case registration_verb::service:
        KV_RETURN_IF_FAILED(register_app_id(context, scripts, true));
        return register_server(context, scripts);
    case registration_verb::none:
        break;
    }
    return S_OK;
}
