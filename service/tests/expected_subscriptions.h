#pragma once
// The seven logon-event subscriptions as the system's event store keeps them, written out
// here independently of the service's own table (letter case included), in the order the
// service makes them.

namespace expected_subscriptions {
struct subscription {
    const wchar_t* method;
    const wchar_t* id;
};
inline constexpr subscription all[] = {
    {L"DisplayLock", L"{B012505F-A6B5-48bb-862F-939B59AA18E3}"},
    {L"DisplayUnlock", L"{7B871E2F-BF93-4458-8AEF-C8D6B6F77CFF}"},
    {L"Logoff", L"{2069705C-BC0C-4e59-98C9-90BF565D7ADA}"},
    {L"Logon", L"{8AC70A89-DF13-4f37-AB84-9757C4A864C4}"},
    {L"StartScreenSaver", L"{9E278116-2834-4d1a-AD20-000A1BDEE17B}"},
    {L"StartShell", L"{32D6E43E-8621-491a-9065-9C35B07C276F}"},
    {L"StopScreenSaver", L"{7C6DB194-17BC-4a2e-A1CB-2D6489DD4548}"},
};
}  // namespace expected_subscriptions
