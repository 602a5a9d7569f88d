#pragma once
// Delivery of fired events: the hidden window each storing thread owns, through which a
// fired event reaches the subscriber on that thread, and the pipe server that receives
// firing requests from other processes.
#include <windows.h>


namespace event_system_double {

// A new delivery window owned by the calling thread; null on failure.
HWND create_delivery_window();
// Destroys the window, from its own thread or by asking that thread.
void close_delivery_window(HWND window, DWORD owner_thread);

// Starts (once per process) the thread serving this process's firing pipe: each request
// names a method and a user; every stored subscription of that method gets the call on its
// storing thread through that thread's delivery window. The DLL then stays loaded for the
// rest of the process, since the thread and the windows run its code.
void start_fire_server();

}  // namespace event_system_double
