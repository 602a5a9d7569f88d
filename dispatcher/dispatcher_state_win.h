#pragma once
// Process-wide values of the call dispatcher.
#include <windows.h>

// The id of the thread that prepares and runs the service's message loop; every COM call
// arrives there. 0 (no thread) until the service module records it.
DWORD main_thread_id() noexcept;
void set_main_thread_id(DWORD thread_id) noexcept;

// Set by the quit token and never cleared. Nothing acts on it: any client may send the
// token, and a service running as LocalSystem must not stop on a client's word.
bool quit_requested() noexcept;
void request_quit() noexcept;
