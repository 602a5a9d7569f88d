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

// Deletes "LocalService" where the AppID key exists; S_OK when the value is gone.
HRESULT drop_local_service(REGSAM app_ids_access) {
    unique_hkey app_id;
    const HRESULT opened = open_app_id(app_ids_access, KEY_WRITE, false, app_id);
    if (opened == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) return S_OK;
    if (FAILED(opened)) return opened;
    const LSTATUS status = RegDeleteValueW(app_id.get(), service_identity::local_service_value);
    return status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

// The first failure of a sequence that goes on after it.
class first_failure {
public:
    HRESULT keep(HRESULT hr) noexcept {
        if (FAILED(hr) && SUCCEEDED(result_)) result_ = hr;
        return hr;
    }
    HRESULT result() const noexcept { return result_; }

private:
    HRESULT result_ = S_OK;
};

}  // namespace

registration_context registration_context_of_this_executable() {
    registration_context context;
    context.service.service_name = load_service_name().text;
    context.service.module_path = module_file_path();
    return context;
}

// "LocalService" never names a service that does not exist: once the old service is
// deleted the value goes with it, and it is written back only while the new service is
// being created, and taken away again when that fails.
HRESULT register_app_id(const registration_context& context, registry_scripts& scripts, bool with_service) {
    trace_scope(L"CRxCoreServiceModule::RegisterAppId", with_service ? 1 : 0);
    if (!uninstall_service(context.service)) return E_FAIL;
    // A value that cannot be taken away would name the service just deleted: stop here
    // and say so rather than go on as if the AppID were sound.
    KV_RETURN_IF_FAILED(traced(drop_local_service(KEY_WRITE), L"LocalService value"));
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
    if (install_service(context.service)) return S_OK;
    RegDeleteValueW(app_id.get(), service_identity::local_service_value);
    return E_FAIL;
}

// Every step runs, whatever an earlier one gave: a half-removed registration can still be
// cleaned up. What is already gone is no failure.
HRESULT unregister_app_id(const registration_context& context, registry_scripts& scripts) {
    trace_scope(L"CRxCoreServiceModule::UnregisterAppId");
    first_failure failure;
    failure.keep(uninstall_service(context.service) ? S_OK : E_FAIL);
    unique_hkey app_id;
    const HRESULT opened = open_app_id(KEY_WRITE, KEY_WRITE, false, app_id);
    if (opened != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) failure.keep(traced(opened, L"AppID key"));
    if (SUCCEEDED(opened)) RegDeleteValueW(app_id.get(), service_identity::local_service_value);
    failure.keep(traced(scripts.run(service_identity::app_id_script_resource, false), L"AppID script"));
    return failure.result();
}

HRESULT register_server(const registration_context& context, registry_scripts& scripts) {
    trace_scope(L"CRxCoreServiceModule::RegisterServer");
    KV_RETURN_IF_FAILED(traced(scripts.run(service_identity::class_script_resource, true), L"class script"));
    return traced(register_type_library(context.service.module_path, context.per_user), L"type library");
}

HRESULT unregister_server(const registration_context& context, registry_scripts& scripts) {
    trace_scope(L"CRxCoreServiceModule::UnregisterServer");
    first_failure failure;
    failure.keep(traced(scripts.run(service_identity::class_script_resource, false), L"class script"));
    // A library that was not registered cannot be unregistered: that is no failure.
    const bool registered = type_library_registered();
    const HRESULT library = unregister_type_library(context.service.module_path, context.per_user);
    if (registered) failure.keep(traced(library, L"type library"));
    return failure.result();
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
    case registration_verb::unreg_server_per_user: {
        // Both halves, so that nothing stays behind that could be removed; the first
        // failure is the result.
        first_failure failure;
        failure.keep(unregister_server(context, scripts));
        failure.keep(unregister_app_id(context, scripts));
        return failure.result();
    }
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
