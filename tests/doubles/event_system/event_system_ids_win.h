#pragma once
// The platform's identifiers the event system double serves and its tests use. mingw-w64
// declares them in <eventsys.h> and <sensevts.h> but its libraries do not define them.
#include <windows.h>

namespace event_system_double::ids {

// CEventSystem {4E14FBA2-2E22-11D1-9964-00C04FBBB345}
inline constexpr CLSID event_system_class = {
    0x4E14FBA2, 0x2E22, 0x11D1, {0x99, 0x64, 0x00, 0xC0, 0x4F, 0xBB, 0xB3, 0x45}};
// IEventSystem {4E14FB9F-2E22-11D1-9964-00C04FBBB345}
inline constexpr IID event_system = {
    0x4E14FB9F, 0x2E22, 0x11D1, {0x99, 0x64, 0x00, 0xC0, 0x4F, 0xBB, 0xB3, 0x45}};
// CEventSubscription {7542E960-79C7-11D1-88F9-0080C7D771BF}
inline constexpr CLSID event_subscription_class = {
    0x7542E960, 0x79C7, 0x11D1, {0x88, 0xF9, 0x00, 0x80, 0xC7, 0xD7, 0x71, 0xBF}};
// IEventSubscription {4A6B0E15-2E38-11D1-9965-00C04FBBB345}
inline constexpr IID event_subscription = {
    0x4A6B0E15, 0x2E38, 0x11D1, {0x99, 0x65, 0x00, 0xC0, 0x4F, 0xBB, 0xB3, 0x45}};
// ISensLogon {D597BAB3-5B9F-11D1-8DD2-00AA004ABD5E}
inline constexpr IID sens_logon = {
    0xD597BAB3, 0x5B9F, 0x11D1, {0x8D, 0xD2, 0x00, 0xAA, 0x00, 0x4A, 0xBD, 0x5E}};
// Type library SensEvents {D597DEED-5B9F-11D1-8DD2-00AA004ABD5E}, version 2.0
inline constexpr GUID sens_events_library = {
    0xD597DEED, 0x5B9F, 0x11D1, {0x8D, 0xD2, 0x00, 0xAA, 0x00, 0x4A, 0xBD, 0x5E}};
inline constexpr WORD sens_events_major = 2;
inline constexpr WORD sens_events_minor = 0;

inline constexpr const wchar_t* subscription_prog_id = L"EventSystem.EventSubscription";

}  // namespace event_system_double::ids
