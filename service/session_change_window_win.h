#pragma once
// The session-change window: a thread owning the hidden window "QLNDXP" of class
// "DXPSessionChangeWnd", registered for the terminal-session notifications of all
// sessions. Each change becomes "screen_lock", "screen_unlock" or "user_logoff" for the
// session's domain\user through the notify function given at start.
#include <windows.h>

#include "foundation/unique_resource_win.h"

// Receives the user text (domain\user) and the notification name.
using session_notify = void (*)(const wchar_t* user, const wchar_t* notification);

// The window thread as its owner (the service module) keeps it; one at most.
struct session_change_thread {
    unique_handle handle;
    unsigned id = 0;
};

// Starts the window thread unless `thread` already holds one.
void start_session_change_window(session_change_thread& thread, session_notify notify);

// Ends the window thread: posts WM_QUIT to it, waits for it at most 500 ms, closes the
// handle and clears handle and id. Nothing when no thread is held.
void stop_session_change_window(session_change_thread& thread);
inline constexpr DWORD session_change_stop_wait_ms = 500;
