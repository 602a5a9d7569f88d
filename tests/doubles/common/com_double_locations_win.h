#pragma once
// Where the build puts the in-process COM doubles, and how a test or a run script makes
// them known to the Wine prefix.
//
//   <build>/doubles/kv_manager_double.dll       manager component double (CLSID_RX_manager_component)
//   <build>/doubles/kv_manager_double_msvc.dll  the same double with the platform compiler's ABI
//                                               (clang in MSVC mode, no C runtime)
//   <build>/doubles/kv_event_system_double.dll  COM+ event system double (CEventSystem,
//                                               CEventSubscription) carrying the SENS events
//                                               type library as TYPELIB resource 1
//   <build>/doubles/kv_fire_event.exe           fires one ISensLogon event at the stored subscribers
//
// Each DLL registers itself (DllRegisterServer, idempotent): from a script
// `wine regsvr32 /s Z:<build>/doubles/<dll>`, from a test register_double() below.
#include <windows.h>

#include <string>

namespace doubles {

inline constexpr const wchar_t* manager_double_dll = L"kv_manager_double.dll";
inline constexpr const wchar_t* manager_double_msvc_dll = L"kv_manager_double_msvc.dll";
inline constexpr const wchar_t* event_system_double_dll = L"kv_event_system_double.dll";
inline constexpr const wchar_t* fire_event_tool = L"kv_fire_event.exe";

// Windows path of a file in <build>/doubles.
std::wstring double_path(const wchar_t* file);

// Loads the DLL from <build>/doubles, runs its DllRegisterServer (or
// DllUnregisterServer) and lets it go again.
HRESULT register_double(const wchar_t* dll_file);
HRESULT unregister_double(const wchar_t* dll_file);

}  // namespace doubles
