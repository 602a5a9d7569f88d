// kv_fire_event METHOD USER
// kv_fire_event METHOD --null-user
// Fires one ISensLogon event (Logon, Logoff, DisplayLock, ...) with the user name at every
// subscriber stored in the event system double, the way the event notification service would,
// and prints the outcome. Exit code 0 when at least one subscriber was called and every
// handler returned a success; 1 otherwise; 2 on a usage error.
#include <cstdio>
#include <cwchar>

#include "tests/doubles/event_system/event_system_double_win.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: kv_fire_event METHOD USER | kv_fire_event METHOD --null-user\n", stderr);
        return 2;
    }
    const wchar_t* user = std::wcscmp(argv[2], L"--null-user") == 0 ? nullptr : argv[2];
    const event_system_double::fire_result result = event_system_double::fire(argv[1], user);
    std::printf("HRESULT 0x%08lX, delivered to %u subscriber(s)\n", static_cast<unsigned long>(result.status),
                result.delivered);
    return result.delivered > 0 && SUCCEEDED(result.status) ? 0 : 1;
}
