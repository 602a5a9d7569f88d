#pragma once
// Test seam of the session-change window. Production code never calls these: the
// platform's session notifications never arrive under test, so tests send the window
// WM_WTSSESSION_CHANGE themselves and answer its session queries.
#include <windows.h>
#include <wtsapi32.h>

// The two session queries of the window procedure (WTSQuerySessionInformationW and
// WTSFreeMemory by default).
struct session_queries {
    BOOL(WINAPI* query)(HANDLE server, DWORD session_id, WTS_INFO_CLASS what, LPWSTR* buffer, DWORD* bytes);
    void(WINAPI* release)(PVOID buffer);
};

// Puts `queries` in place (a pair with a null member restores the platform's) and returns
// the pair before. Call it while no window thread runs.
session_queries install_session_queries(session_queries queries) noexcept;

// Empties the last session user. Call it while no window thread runs.
void forget_last_session_user();
