#pragma once
// Logon-event subscriptions. The system's event notification service publishes logon,
// logoff, shell start, display lock and unlock and screen-saver start and stop through the
// COM+ event system. At start the service subscribes one RX_core_service_disp object to that
// event class, one subscription per ISensLogon method, so that the event system calls its
// handlers on the main thread; at stop it removes the seven subscriptions again.
#include <windows.h>
#include <eventsys.h>

#include "foundation/com_resource_win.h"

namespace logon_subscriptions {

// CEventSystem {4E14FBA2-2E22-11D1-9964-00C04FBBB345}
inline constexpr CLSID event_system_class = {
    0x4E14FBA2, 0x2E22, 0x11D1, {0x99, 0x64, 0x00, 0xC0, 0x4F, 0xBB, 0xB3, 0x45}};
// IEventSystem {4E14FB9F-2E22-11D1-9964-00C04FBBB345}
inline constexpr IID event_system_interface = {
    0x4E14FB9F, 0x2E22, 0x11D1, {0x99, 0x64, 0x00, 0xC0, 0x4F, 0xBB, 0xB3, 0x45}};
// CEventSubscription {7542E960-79C7-11D1-88F9-0080C7D771BF}
inline constexpr CLSID event_subscription_class = {
    0x7542E960, 0x79C7, 0x11D1, {0x88, 0xF9, 0x00, 0x80, 0xC7, 0xD7, 0x71, 0xBF}};
// IEventSubscription {4A6B0E15-2E38-11D1-9965-00C04FBBB345}
inline constexpr IID event_subscription_interface = {
    0x4A6B0E15, 0x2E38, 0x11D1, {0x99, 0x65, 0x00, 0xC0, 0x4F, 0xBB, 0xB3, 0x45}};
// SENSGUID_EVENTCLASS_LOGON {D5978630-5B9F-11D1-8DD2-00AA004ABD5E}
inline constexpr GUID logon_event_class = {
    0xD5978630, 0x5B9F, 0x11D1, {0x8D, 0xD2, 0x00, 0xAA, 0x00, 0x4A, 0xBD, 0x5E}};

inline constexpr const wchar_t* subscription_prog_id = L"EventSystem.EventSubscription";

// The subscriptions, in the order in which they are made and removed. Each id is also the
// subscription's name; the texts are part of the system's interface, letter case included.
struct subscription {
    const wchar_t* method;
    const wchar_t* id;
};
inline constexpr subscription table[] = {
    {L"DisplayLock", L"{B012505F-A6B5-48bb-862F-939B59AA18E3}"},
    {L"DisplayUnlock", L"{7B871E2F-BF93-4458-8AEF-C8D6B6F77CFF}"},
    {L"Logoff", L"{2069705C-BC0C-4e59-98C9-90BF565D7ADA}"},
    {L"Logon", L"{8AC70A89-DF13-4f37-AB84-9757C4A864C4}"},
    {L"StartScreenSaver", L"{9E278116-2834-4d1a-AD20-000A1BDEE17B}"},
    {L"StartShell", L"{32D6E43E-8621-491a-9065-9C35B07C276F}"},
    {L"StopScreenSaver", L"{7C6DB194-17BC-4a2e-A1CB-2D6489DD4548}"},
};

// Stores one subscription of `subscriber` to `method_name` of the logon event class under
// `subscription_id` (trace scope "CRxCoreServiceModule::subscribe"). The first failing step
// is traced with its HRESULT, which is returned; S_OK on success. Throws std::bad_alloc when
// a BSTR cannot be allocated.
HRESULT subscribe(IEventSystem* event_system, IUnknown* subscriber, const wchar_t* subscription_id,
                  const wchar_t* method_name);

// Removes the subscription with this id: Remove's HRESULT, or E_FAIL without an event
// system. Traces nothing. Throws std::bad_alloc when a BSTR cannot be allocated.
HRESULT unsubscribe(IEventSystem* event_system, const wchar_t* subscription_id);

// The start sequence of the service's message-loop preparation: creates the event system
// and subscribes a new RX_core_service_disp object to the seven methods in table order,
// then lets go of the object (the event system holds it). Failures are traced under
// "CRxCoreServiceModule::PreMessageLoop"; an exception ends the subscriptions silently.
// Returns the event system for the service to keep, null when it could not be created.
com_ptr<IEventSystem> start();
// The same, keeping the event system in `event_system` as soon as it exists: a caller whose
// start is cut short (an exception) can still remove what was stored.
void start(com_ptr<IEventSystem>& event_system);

// The stop sequence of the wind-up: removes the seven subscriptions in table order, results
// not looked at; an exception ends the removals silently.
void stop(IEventSystem* event_system) noexcept;

}  // namespace logon_subscriptions
