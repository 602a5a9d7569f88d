#pragma once
// Test seam of the core command's registry access. Production code never calls this: it
// lets a test make reading or writing the recorded agent GUID fail, which the registry of
// the test platform cannot be made to do.
#include <windows.h>

struct core_registry_calls {
    decltype(&::RegQueryValueExW) query_value;
    decltype(&::RegSetValueExW) set_value;
};

// Installs the calls (null members: the platform's) and returns the previous ones.
core_registry_calls set_core_registry_calls(core_registry_calls calls) noexcept;
