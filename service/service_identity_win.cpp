#include "service/service_identity_win.h"

service_identity::service_name load_service_name() noexcept {
    service_identity::service_name name{};
    LoadStringW(GetModuleHandleW(nullptr), service_identity::service_name_resource, name.text,
                service_identity::service_name::capacity);
    return name;
}
