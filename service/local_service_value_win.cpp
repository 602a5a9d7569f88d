#include "service/local_service_value_win.h"

#include "foundation/unique_resource_win.h"
#include "service/service_identity_win.h"

namespace {

constexpr DWORD max_characters = 260;

// True when the value is a zero-terminated string of at most 260 characters. The data
// may come without terminator or with an odd byte count: only whole units inside the
// bytes that were read count.
bool holds_local_service(HKEY app_id) noexcept {
    wchar_t data[max_characters + 1] = {};
    DWORD type = REG_NONE;
    DWORD bytes = sizeof data;
    if (RegQueryValueExW(app_id, service_identity::local_service_value, nullptr, &type,
                         reinterpret_cast<BYTE*>(data), &bytes) != ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    const DWORD units = bytes / sizeof(wchar_t);
    for (DWORD i = 0; i < units; ++i)
        if (data[i] == L'\0') return true;
    return false;
}

}  // namespace

LSTATUS read_local_service(bool& as_service, HKEY classes_root) noexcept {
    as_service = false;
    unique_hkey app_ids, app_id;
    LSTATUS status = RegOpenKeyExW(classes_root, L"AppID", 0, KEY_READ, app_ids.put());
    if (status != ERROR_SUCCESS) return status;
    status = RegOpenKeyExW(app_ids.get(), service_identity::app_id_text, 0, KEY_READ, app_id.put());
    if (status != ERROR_SUCCESS) return status;
    as_service = holds_local_service(app_id.get());
    return ERROR_SUCCESS;
}
