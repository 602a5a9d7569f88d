// Registration of the COM doubles from a test process.
#include "tests/doubles/common/com_double_locations_win.h"

#include "foundation/unique_resource_win.h"

#ifndef KV_DOUBLES_DIR
#error "KV_DOUBLES_DIR (Windows path of <build>/doubles) must be defined by the build"
#endif

namespace doubles {
namespace {

HRESULT run_export(const wchar_t* dll_file, const char* export_name) {
    const unique_hmodule dll(LoadLibraryW(double_path(dll_file).c_str()));
    if (!dll) return HRESULT_FROM_WIN32(GetLastError());
    auto entry = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(dll.get(), export_name)));
    if (!entry) return HRESULT_FROM_WIN32(GetLastError());
    return entry();
}

}  // namespace

std::wstring double_path(const wchar_t* file) {
    std::wstring path = std::wstring(KV_DOUBLES_DIR) + L"\\" + file;
    for (wchar_t& unit : path)
        if (unit == L'/') unit = L'\\';  // the build writes the folder with forward slashes
    return path;
}

HRESULT register_double(const wchar_t* dll_file) { return run_export(dll_file, "DllRegisterServer"); }
HRESULT unregister_double(const wchar_t* dll_file) { return run_export(dll_file, "DllUnregisterServer"); }

}  // namespace doubles
