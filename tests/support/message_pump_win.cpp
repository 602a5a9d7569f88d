#include "tests/support/message_pump_win.h"

namespace message_pump {

DWORD wait_for(HANDLE handle, DWORD timeout_ms) {
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return WAIT_TIMEOUT;
        const DWORD woke = MsgWaitForMultipleObjects(1, &handle, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
        if (woke != WAIT_OBJECT_0 + 1) return woke;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

}  // namespace message_pump
