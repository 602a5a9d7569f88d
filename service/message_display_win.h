#pragma once
// Messages of the registration verbs. They go through a replaceable display: by default
// a message box, which tests replace by a recorder so that no box ever waits for a
// click in a headless run.
#include <windows.h>

// Shows one message (`text`) with its caption.
using message_display = void (*)(const wchar_t* text, const wchar_t* caption);

// Puts `display` in place (null restores the message box) and returns the one before.
message_display set_message_display(message_display display) noexcept;

// Shows string resource `text_id` of the executable, or `fallback` when it holds none.
void show_message(UINT text_id, const wchar_t* fallback, const wchar_t* caption);

// The default display: a message box without owner (MB_OK). A process whose window
// station nobody can see (a service, an installer running as a service) gets no box,
// only a debugger line; a box that nobody answers closes itself after `close_after_ms`.
void show_message_box(const wchar_t* text, const wchar_t* caption, DWORD close_after_ms = 30000);
