#include "service/session_change_window_win.h"

#include <objbase.h>
#include <process.h>
#include <wtsapi32.h>

#include <cwchar>
#include <memory>
#include <string>

#include "service/session_change_window_test_seam_win.h"

namespace {

constexpr wchar_t window_class_name[] = L"DXPSessionChangeWnd";
constexpr wchar_t window_title[] = L"QLNDXP";

session_queries queries{WTSQuerySessionInformationW, WTSFreeMemory};

// domain\user of the last session logon, connect or unlock; only the window thread
// touches it while the thread runs. Never destroyed: a window thread that outlived its
// stop may still use it while the process ends.
std::wstring& last_session_user() {
    static std::wstring* const user = new std::wstring();
    return *user;
}

// What each change code does: its notification (if any), then whether the logon step
// follows. Codes not listed (WTS_SESSION_LOGOFF among them) do nothing.
struct session_change_action {
    WPARAM code;
    const wchar_t* notification;
    bool logon_step;
};
constexpr session_change_action session_change_actions[] = {
    {WTS_CONSOLE_CONNECT, L"screen_unlock", true},
    {WTS_CONSOLE_DISCONNECT, L"screen_lock", false},
    {WTS_REMOTE_CONNECT, L"screen_unlock", true},
    {WTS_REMOTE_DISCONNECT, L"screen_lock", false},
    {WTS_SESSION_LOGON, nullptr, true},
    {WTS_SESSION_LOCK, L"screen_lock", false},
    {WTS_SESSION_UNLOCK, L"screen_unlock", true},
};

// The thread's own copy of its notify function (the routine's argument); only the window
// thread reads it.
thread_local const session_notify* thread_notify = nullptr;

void notify(const wchar_t* user, const wchar_t* notification) {
    if (thread_notify != nullptr && *thread_notify) (*thread_notify)(user, notification);
}

// Appends one session text to `text`; false when the query fails or yields no buffer.
// The text ends at its terminator or at the reported size, whichever comes first.
bool append_session_text(DWORD session_id, WTS_INFO_CLASS what, std::wstring& text) {
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    if (!queries.query(WTS_CURRENT_SERVER_HANDLE, session_id, what, &buffer, &bytes) || buffer == nullptr)
        return false;
    const std::unique_ptr<wchar_t, decltype(queries.release)> owned(buffer, queries.release);
    text.append(owned.get(), wcsnlen(owned.get(), bytes / sizeof(wchar_t)));
    return true;
}

// A new session user: the previous one, if any and different, has logged off.
void logon_step(const std::wstring& user) {
    std::wstring& last = last_session_user();
    if (!last.empty() && last != user) notify(last.c_str(), L"user_logoff");
    last = user;
}

void on_session_change(WPARAM code, DWORD session_id) {
    std::wstring user;
    if (!append_session_text(session_id, WTSDomainName, user) || user.empty()) return;
    user += L'\\';
    if (!append_session_text(session_id, WTSUserName, user)) return;
    for (const session_change_action& action : session_change_actions) {
        if (action.code != code) continue;
        if (action.notification != nullptr) notify(user.c_str(), action.notification);
        if (action.logon_step) logon_step(user);
        return;
    }
}

LRESULT CALLBACK session_change_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_WTSSESSION_CHANGE:
        on_session_change(wparam, static_cast<DWORD>(lparam));
        return 0;
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

void destroy_window(HWND window) {
    DestroyWindow(window);
    UnregisterClassW(window_class_name, GetModuleHandleW(nullptr));
}

unsigned window_thread_body() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = session_change_window_procedure;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.lpszClassName = window_class_name;
    RegisterClassExW(&window_class);  // an earlier thread's registration serves as well

    const HWND window = CreateWindowExW(0, window_class_name, window_title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                        CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        UnregisterClassW(window_class_name, instance);
        return 0;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        destroy_window(window);
        return 0;
    }
    if (!WTSRegisterSessionNotification(window, NOTIFY_FOR_ALL_SESSIONS)) {
        CoUninitialize();
        destroy_window(window);
        return 0;
    }
    ShowWindow(window, SW_HIDE);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (TranslateAcceleratorW(message.hwnd, nullptr, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    CoUninitialize();
    WTSUnRegisterSessionNotification(window);
    destroy_window(window);
    return 0;
}

unsigned __stdcall session_change_thread_routine(void* parameter) {
    const std::unique_ptr<const session_notify> own(static_cast<const session_notify*>(parameter));
    thread_notify = own.get();
    const unsigned result = window_thread_body();
    thread_notify = nullptr;
    return result;
}

}  // namespace

bool start_session_change_window(session_change_thread& thread, session_notify notify) {
    if (thread.handle) return true;
    auto copy = std::make_unique<const session_notify>(std::move(notify));
    unsigned id = 0;
    thread.handle.reset(reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, session_change_thread_routine, const_cast<session_notify*>(copy.get()), 0, &id)));
    thread.id = thread.handle ? id : 0;
    if (!thread.handle) return false;
    copy.release();  // the thread's now; it deletes it as it ends
    return true;
}

void stop_session_change_window(session_change_thread& thread) {
    if (!thread.handle) return;
    // A thread that has only just started may have no message queue yet, and a message
    // posted then would be lost: post again until it is taken or the time is up.
    const ULONGLONG deadline = GetTickCount64() + session_change_stop_wait_ms;
    while (!PostThreadMessageW(thread.id, WM_QUIT, 0, 0) &&
           WaitForSingleObject(thread.handle.get(), 1) == WAIT_TIMEOUT && GetTickCount64() < deadline) {
    }
    const ULONGLONG now = GetTickCount64();
    WaitForSingleObject(thread.handle.get(), now < deadline ? static_cast<DWORD>(deadline - now) : 0);
    thread.handle.reset();
    thread.id = 0;
}

session_queries install_session_queries(session_queries replacement) noexcept {
    const session_queries previous = queries;
    queries = replacement.query != nullptr && replacement.release != nullptr
                  ? replacement
                  : session_queries{WTSQuerySessionInformationW, WTSFreeMemory};
    return previous;
}

void forget_last_session_user() { last_session_user().clear(); }
