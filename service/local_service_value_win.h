#pragma once
// How the program decides between service and local server: the AppID's string value
// "LocalService" (REG_SZ or REG_EXPAND_SZ, zero-terminated, at most 260 characters).
#include <windows.h>

// Opens `classes_root`\AppID and its subkey {04755478-AF8D-438D-A8B4-235C0EEC2FBF} (both
// KEY_READ). ERROR_SUCCESS with `as_service` telling whether the value is there, or the
// registry error when either key cannot be opened (`as_service` is then false).
// Whatever the stored size, type or terminator, nothing is read past the buffer.
LSTATUS read_local_service(bool& as_service, HKEY classes_root = HKEY_CLASSES_ROOT) noexcept;
