#pragma once
// Who the service is: the values its registration, its service control and its COM
// class object share. The class, interface and type library ids come from the header
// compiled from our IDL.
#include <windows.h>

#include "dispatcher/rx_core_service.h"

namespace service_identity {

// The COM application of the executable, as a GUID and as registry text.
inline constexpr GUID app_id = {0x04755478, 0xAF8D, 0x438D, {0xA8, 0xB4, 0x23, 0x5C, 0x0E, 0xEC, 0x2F, 0xBF}};
inline constexpr wchar_t app_id_text[] = L"{04755478-AF8D-438D-A8B4-235C0EEC2FBF}";
// The start event, created in the "Global\" namespace and signalled once the manager has
// started; other processes open it by name.
inline constexpr wchar_t start_event_name[] = L"{10C9DE46-185B-4434-8E1B-E7567E1134F5}";
// The AppID's value whose presence makes the program start as a service.
inline constexpr wchar_t local_service_value[] = L"LocalService";

// CLSID_RX_core_service_disp, IID_RX_core_service_disp_i, LIBID_RxCoreServiceLib.
inline const CLSID& class_id = CLSID_RX_core_service_disp;
inline const IID& interface_id = IID_RX_core_service_disp_i;
inline const GUID& type_library_id = LIBID_RxCoreServiceLib;

// Resources of the executable.
inline constexpr UINT service_name_resource = 100;   // string "QlnVxCoreService"
inline constexpr UINT app_id_script_resource = 101;  // "REGISTRY" script of the AppID
inline constexpr UINT class_script_resource = 103;   // "REGISTRY" script of the class
inline constexpr UINT type_library_resource = 1;     // TYPELIB RxCoreServiceLib

// The service name: service and display name, event-log source, message caption and the
// data of "LocalService".
struct service_name {
    static constexpr int capacity = 256;
    wchar_t text[capacity];
};

}  // namespace service_identity

// String resource 100 of the executable; empty text when the resource is missing.
service_identity::service_name load_service_name() noexcept;
