#pragma once
// The text the event viewer shows for an entry of an Application-log source: the source's
// registered message file (EventMessageFile under
// HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\<source>), loaded as a data
// file, and one of its messages formatted with the entry's insertion string. What a viewer
// needs to show an entry's description, and so what an installation must have registered.
#include <windows.h>

#include <string>

struct event_message_text {
    // ERROR_SUCCESS, or the error of the step that failed: reading the registered file
    // (ERROR_FILE_NOT_FOUND: the source or its value is missing), loading it, formatting
    // (ERROR_MR_MID_NOT_FOUND: the file has no such message).
    DWORD error = ERROR_SUCCESS;
    std::wstring message_file;  // the registered file, environment variables expanded
    std::wstring text;          // the formatted message, its line end included
};

// Message `message_id` of the message file registered for `source`, with `insertion` as %1.
event_message_text application_event_message(const wchar_t* source, DWORD message_id,
                                             const wchar_t* insertion);
