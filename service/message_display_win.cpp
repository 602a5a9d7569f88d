#include "service/message_display_win.h"

#include <atomic>
#include <string>
#include <string_view>

#include "foundation/unique_resource_win.h"

namespace {

void default_display(const wchar_t* text, const wchar_t* caption) { show_message_box(text, caption); }

std::atomic<message_display> current_display{default_display};

bool window_station_visible() {
    USEROBJECTFLAGS flags{};
    return GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, nullptr) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

// Closes the message boxes (dialog class "#32770") of the thread that shows them.
BOOL CALLBACK close_dialog(HWND window, LPARAM) {
    wchar_t class_name[16];
    if (GetClassNameW(window, class_name, static_cast<int>(std::size(class_name))) && std::wstring_view(class_name) == L"#32770")
        PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

struct box_closer {
    HANDLE answered;
    DWORD owner;
    DWORD close_after_ms;
};

// The box may not exist yet when the time is up: keep closing until it has returned.
DWORD WINAPI close_unanswered_box(void* parameter) {
    const box_closer& closer = *static_cast<const box_closer*>(parameter);
    constexpr DWORD close_again_after_ms = 100;
    for (DWORD wait = closer.close_after_ms; WaitForSingleObject(closer.answered, wait) == WAIT_TIMEOUT;
         wait = close_again_after_ms)
        EnumThreadWindows(closer.owner, close_dialog, 0);
    return 0;
}

}  // namespace

message_display set_message_display(message_display display) noexcept {
    return current_display.exchange(display != nullptr ? display : default_display);
}

void show_message(UINT text_id, const wchar_t* fallback, const wchar_t* caption) {
    const wchar_t* resource = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), text_id, reinterpret_cast<LPWSTR>(&resource), 0);
    const std::wstring text = length > 0 ? std::wstring(resource, length) : std::wstring(fallback);
    current_display.load()(text.c_str(), caption);
}

void show_message_box(const wchar_t* text, const wchar_t* caption, DWORD close_after_ms) {
    OutputDebugStringW(text);
    if (!window_station_visible()) return;
    unique_handle answered(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!answered) return;
    box_closer closer{answered.get(), GetCurrentThreadId(), close_after_ms};
    unique_handle closer_thread(CreateThread(nullptr, 0, close_unanswered_box, &closer, 0, nullptr));
    if (!closer_thread) return;  // without a way to close it, no box
    MessageBoxW(nullptr, text, caption, MB_OK);
    SetEvent(answered.get());
    WaitForSingleObject(closer_thread.get(), INFINITE);
}
