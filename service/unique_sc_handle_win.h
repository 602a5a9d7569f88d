#pragma once
// An owned handle of the service control manager or of one service.
#include <windows.h>
#include <winsvc.h>

#include "foundation/unique_resource.h"

namespace unique_resource_traits {
struct sc_handle {
    using type = SC_HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::CloseServiceHandle(h); }
};
}  // namespace unique_resource_traits

using unique_sc_handle = unique_resource<unique_resource_traits::sc_handle>;
