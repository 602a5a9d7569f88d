#pragma once
// Waiting on a handle from a single-threaded apartment: COM delivers calls to such a thread
// as window messages, so a plain wait would keep them (and a reply the handle waits for)
// from ever arriving.
#include <windows.h>

namespace message_pump {
// Waits for `handle` while dispatching this thread's messages, as the service's loop does.
// WAIT_OBJECT_0 once it is signalled, WAIT_TIMEOUT after timeout_ms, or the failed wait's
// result.
DWORD wait_for(HANDLE handle, DWORD timeout_ms = 60000);
}  // namespace message_pump
