// event_message_probe SOURCE INSERTION: writes message 0 of the message file registered for
// the Application-log source SOURCE, formatted with INSERTION, as UTF-8 bytes exactly (line
// end included) to standard output. Exit code 0, or the error of the step that failed.
#include "foundation/event_message_win.h"

#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return ERROR_BAD_ARGUMENTS;
    const event_message_text message = application_event_message(argv[1], 0, argv[2]);
    if (message.error != ERROR_SUCCESS) return static_cast<int>(message.error);
    const int units = static_cast<int>(message.text.size());
    std::string utf8(static_cast<size_t>(units) * 3, '\0');
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, message.text.data(), units, utf8.data(),
                                            static_cast<int>(utf8.size()), nullptr, nullptr);
    DWORD written = 0;
    return ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(bytes), &written, nullptr)
               ? 0 : static_cast<int>(::GetLastError());
}
