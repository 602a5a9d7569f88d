#pragma once
// The module name that trace lines carry: the executable's file name without its
// directory and without the part from its last '.' on ("KvRxCoreService").
#include <windows.h>

struct trace_module {
    wchar_t name[MAX_PATH];  // empty when the file name cannot be obtained
    DWORD error;             // the failure's error code then, 0 otherwise
};

// Worked out once per process: the executable's name does not change while it runs.
const trace_module& trace_module_name() noexcept;
