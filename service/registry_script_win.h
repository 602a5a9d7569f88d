#pragma once
// The registry scripts of the executable ("REGISTRY" resources 101 and 103), carried out
// by the platform's registrar with the replacements APPID, MODULE and MODULE_RAW.
#include <windows.h>

#include <string>

#include "foundation/com_resource_win.h"
#include "service/registrar_interface_win.h"

class registry_scripts {
public:
    // Creates the registrar (COM must be initialised on this thread) and gives it the
    // replacements: APPID the AppID in braces, MODULE the module path in double quotes,
    // MODULE_RAW the bare path; in both paths a single quote is doubled, because the
    // scripts quote their strings with single quotes.
    HRESULT prepare(const std::wstring& module_path);
    // Runs script `resource_id` of the module for registration or unregistration.
    HRESULT run(UINT resource_id, bool register_keys);

private:
    com_ptr<IRegistrar> registrar_;
    std::wstring module_path_;
};

// While alive and begun, HKEY_CLASSES_ROOT of this process stands for
// HKEY_CURRENT_USER\Software\Classes: per-user registration writes everything there.
// Create the registrar before: COM's own class lookup must see the machine's classes.
class per_user_classes_root {
public:
    per_user_classes_root() = default;
    per_user_classes_root(const per_user_classes_root&) = delete;
    per_user_classes_root& operator=(const per_user_classes_root&) = delete;
    ~per_user_classes_root();
    HRESULT begin();

private:
    bool redirected_ = false;
};
