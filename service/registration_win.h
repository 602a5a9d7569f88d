#pragma once
// Self-registration from the command line: the AppID, the class RX_core_service_disp, the
// type library RxCoreServiceLib and, with "Service", the Windows service.
#include <windows.h>

#include <string>

#include "service/registration_verb.h"
#include "service/registry_script_win.h"
#include "service/service_install_win.h"

// What a registration works on: the executable (scripts, type library, LocalServer32 and
// the service binary) and the service name.
struct registration_context {
    service_install_target service;  // service name and module path
    bool per_user = false;           // HKEY_CLASSES_ROOT stands for HKCU\Software\Classes
};

// This executable: its full path and its service name (string resource 100).
registration_context registration_context_of_this_executable();

// Runs `verb` (not none) on its own COM apartment and returns the HRESULT that becomes the
// exit code: the result of the last action run.
//   UnregServer[PerUser]: unregister the server, then, if that succeeded, the AppID.
//   RegServer[PerUser]:   register the AppID without service, then the server.
//   Service:              register the AppID with service, then the server.
HRESULT run_registration_verb(registration_verb verb, registration_context context);

// The steps, for callers that have COM and the scripts ready. The per-user redirection,
// when wanted, is the caller's (per_user_classes_root).
HRESULT register_app_id(const registration_context& context, registry_scripts& scripts, bool with_service);
HRESULT unregister_app_id(const registration_context& context, registry_scripts& scripts);
HRESULT register_server(const registration_context& context, registry_scripts& scripts);
HRESULT unregister_server(const registration_context& context, registry_scripts& scripts);
