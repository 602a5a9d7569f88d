#include "foundation/trace_module_win.h"

namespace {
trace_module find_module_name() noexcept {
    trace_module module{};
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        // A cut path would give a wrong name: report it as not obtained.
        module.error = length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
        return module;
    }
    DWORD start = 0;
    DWORD end = length;
    for (DWORD i = 0; i < length; ++i) {
        if (path[i] == L'\\' || path[i] == L'/') start = i + 1, end = length;
        else if (path[i] == L'.') end = i;
    }
    if (end < start) end = start;
    for (DWORD i = start; i < end; ++i) module.name[i - start] = path[i];
    module.name[end - start] = L'\0';
    return module;
}
}  // namespace

const trace_module& trace_module_name() noexcept {
    static const trace_module module = find_module_name();
    return module;
}
