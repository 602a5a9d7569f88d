#pragma once
// The session-change window: a thread owning the hidden window "QLNDXP" of class
// "DXPSessionChangeWnd", registered for the terminal-session notifications of all
// sessions. Each change becomes "screen_lock", "screen_unlock" or "user_logoff" for the
// session's domain\user through the notify function given at start.
#include <windows.h>

#include <functional>

#include "foundation/unique_resource_win.h"

// Receives the user text (domain\user) and the notification name. The window thread keeps
// its own copy until it ends: whatever the copy holds stays valid for a thread that
// outlives its stop, after its owner has gone.
using session_notify = std::function<void(const wchar_t* user, const wchar_t* notification)>;

// The window thread as its owner (the service module) keeps it; one at most.
struct session_change_thread {
    unique_handle handle;
    unsigned id = 0;
};

// Starts the window thread unless `thread` already holds one; false when a thread could
// not be started (the service then runs without session-change notifications).
bool start_session_change_window(session_change_thread& thread, session_notify notify);

// Ends the window thread: posts WM_QUIT to it, waits for it at most 500 ms, closes the
// handle and clears handle and id. Nothing when no thread is held. A thread still busy
// then ends on its own, reaching only its copy of the notify function.
void stop_session_change_window(session_change_thread& thread);
inline constexpr DWORD session_change_stop_wait_ms = 500;
