// The session-change window: its window and thread, and what each session change turns
// into. The platform never sends session notifications under test, so the tests send
// WM_WTSSESSION_CHANGE to the window and answer its session queries themselves.
#include "service/session_change_window_win.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "service/session_change_window_test_seam_win.h"

namespace {

using notifications = std::vector<std::pair<std::wstring, std::wstring>>;

// What the fake session queries answer: per session id, its domain and user name
// (nullopt: the query fails).
struct session_answer {
    std::optional<std::wstring> domain, user;
    bool no_buffer = false;  // the domain query succeeds without a buffer
};
std::map<DWORD, session_answer> sessions;
int buffers_out = 0;

BOOL WINAPI fake_query(HANDLE, DWORD session_id, WTS_INFO_CLASS what, LPWSTR* buffer, DWORD* bytes) {
    const auto found = sessions.find(session_id);
    if (found == sessions.end()) return FALSE;
    if (what == WTSDomainName && found->second.no_buffer) return TRUE;
    const std::optional<std::wstring>& text = what == WTSDomainName ? found->second.domain : found->second.user;
    if (!text) return FALSE;
    *buffer = new wchar_t[text->size() + 1];
    std::copy(text->c_str(), text->c_str() + text->size() + 1, *buffer);
    *bytes = static_cast<DWORD>((text->size() + 1) * sizeof(wchar_t));
    ++buffers_out;
    return TRUE;
}

void WINAPI fake_release(PVOID buffer) {
    delete[] static_cast<wchar_t*>(buffer);
    --buffers_out;
}

std::mutex received_lock;
notifications received;

void record(const wchar_t* user, const wchar_t* notification) {
    std::lock_guard<std::mutex> guard(received_lock);
    received.emplace_back(user, notification);
}

notifications take_received() {
    std::lock_guard<std::mutex> guard(received_lock);
    return std::exchange(received, {});
}

// The platform may give the thread windows of its own (an input-method window): look
// for the class.
BOOL CALLBACK find_session_window(HWND window, LPARAM found) {
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    if (std::wstring(name) != L"DXPSessionChangeWnd") return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The session-change window of the thread, once it has created it.
HWND window_of(unsigned thread_id) {
    HWND window = nullptr;
    for (int tries = 0; tries < 500 && !window; ++tries) {
        EnumThreadWindows(thread_id, find_session_window, reinterpret_cast<LPARAM>(&window));
        if (!window) Sleep(10);
    }
    return window;
}

// A handle of our own to wait on the thread after its owner has closed its handle.
unique_handle watch(const session_change_thread& thread) {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), thread.handle.get(), GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0);
    return unique_handle(copy);
}

class SessionChangeWindow : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = install_session_queries({fake_query, fake_release});
        forget_last_session_user();
        take_received();
        sessions = {
            {1, {L"VM", L"alice"}},
            {2, {L"VM", L"bob"}},
            {3, {L"", L"carol"}},                  // no domain: ignored
            {4, {L"VM", L""}},                     // a domain without user name
            {5, {std::nullopt, L"dave"}},          // domain query fails
            {6, {L"VM", std::nullopt}},            // user query fails
            {7, {L"VM", L"Bob"}},                  // differs from bob by case only
            {8, {L"VM", L"erin", true}},           // domain query yields no buffer
        };
        start_session_change_window(thread_, record);
        ASSERT_TRUE(thread_.handle);
        window_ = window_of(thread_.id);
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        stop_session_change_window(thread_);
        install_session_queries(previous_);
        EXPECT_EQ(buffers_out, 0) << "every session buffer is released";
    }
    notifications change(WPARAM code, DWORD session_id) {
        EXPECT_EQ(SendMessageW(window_, WM_WTSSESSION_CHANGE, code, session_id), 0);
        return take_received();
    }
    session_queries previous_{};
    session_change_thread thread_;
    HWND window_ = nullptr;
};

TEST_F(SessionChangeWindow, IsTheHiddenWindowOfItsClass) {
    wchar_t text[64] = {};
    ASSERT_GT(GetWindowTextW(window_, text, 64), 0);
    EXPECT_STREQ(text, L"QLNDXP");
    EXPECT_FALSE(IsWindowVisible(window_));
    EXPECT_EQ(GetWindowLongPtrW(window_, GWL_STYLE) & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
    EXPECT_EQ(GetClassLongPtrW(window_, GCL_STYLE), static_cast<ULONG_PTR>(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(GetClassLongPtrW(window_, GCLP_HBRBACKGROUND), static_cast<ULONG_PTR>(COLOR_WINDOW + 1));
    EXPECT_EQ(GetWindowThreadProcessId(window_, nullptr), thread_.id);
}

TEST_F(SessionChangeWindow, ChangesTurnIntoNotifications) {
    // One sequence: the last session user carries from row to row.
    struct Row {
        const char* what;
        WPARAM code;
        DWORD session;
        notifications expected;
    };
    const Row rows[] = {
        {"first logon: nobody logged off", WTS_SESSION_LOGON, 1, {}},
        {"lock", WTS_SESSION_LOCK, 1, {{L"VM\\alice", L"screen_lock"}}},
        {"unlock by the same user", WTS_SESSION_UNLOCK, 1, {{L"VM\\alice", L"screen_unlock"}}},
        {"console disconnect", WTS_CONSOLE_DISCONNECT, 1, {{L"VM\\alice", L"screen_lock"}}},
        {"remote disconnect", WTS_REMOTE_DISCONNECT, 1, {{L"VM\\alice", L"screen_lock"}}},
        {"console connect of another user", WTS_CONSOLE_CONNECT, 2,
         {{L"VM\\bob", L"screen_unlock"}, {L"VM\\alice", L"user_logoff"}}},
        {"remote connect of another user", WTS_REMOTE_CONNECT, 1,
         {{L"VM\\alice", L"screen_unlock"}, {L"VM\\bob", L"user_logoff"}}},
        {"session logoff: nothing here", WTS_SESSION_LOGOFF, 1, {}},
        {"logon of another user", WTS_SESSION_LOGON, 2, {{L"VM\\alice", L"user_logoff"}}},
        {"logon of the same user", WTS_SESSION_LOGON, 2, {}},
        {"users compare case-sensitively", WTS_SESSION_UNLOCK, 7,
         {{L"VM\\Bob", L"screen_unlock"}, {L"VM\\bob", L"user_logoff"}}},
        {"remote control: not a change of ours", 9, 1, {}},
        {"code 0", 0, 1, {}},
        {"code 0x7FFFFFFF", 0x7FFFFFFF, 1, {}},
        {"empty domain: ignored", WTS_SESSION_UNLOCK, 3, {}},
        {"failed domain query: ignored", WTS_SESSION_LOCK, 5, {}},
        {"failed user query: ignored", WTS_SESSION_LOCK, 6, {}},
        {"domain query without buffer: ignored", WTS_SESSION_LOCK, 8, {}},
        {"unknown session: ignored", WTS_SESSION_LOGON, 99, {}},
        {"ignored changes left the last user alone", WTS_SESSION_LOGON, 2,
         {{L"VM\\Bob", L"user_logoff"}}},
        {"a domain with an empty user name", WTS_SESSION_LOCK, 4, {{L"VM\\", L"screen_lock"}}},
        {"which logs on like any user", WTS_SESSION_LOGON, 4, {{L"VM\\bob", L"user_logoff"}}},
    };
    for (const Row& row : rows) EXPECT_EQ(change(row.code, row.session), row.expected) << row.what;
}

TEST_F(SessionChangeWindow, StopEndsTheThreadWindowAndClass) {
    const unique_handle thread = watch(thread_);
    stop_session_change_window(thread_);
    EXPECT_FALSE(thread_.handle);
    EXPECT_EQ(thread_.id, 0u);
    EXPECT_EQ(WaitForSingleObject(thread.get(), 0), WAIT_OBJECT_0) << "ended within the wait";
    EXPECT_FALSE(IsWindow(window_));
    WNDCLASSEXW info{};
    info.cbSize = sizeof info;
    EXPECT_FALSE(GetClassInfoExW(GetModuleHandleW(nullptr), L"DXPSessionChangeWnd", &info));
}

TEST_F(SessionChangeWindow, AStopRightAfterTheStartEndsTheThread) {
    stop_session_change_window(thread_);
    for (int round = 0; round < 20; ++round) {
        start_session_change_window(thread_, record);
        const unique_handle thread = watch(thread_);
        stop_session_change_window(thread_);
        EXPECT_EQ(WaitForSingleObject(thread.get(), 0), WAIT_OBJECT_0) << "round " << round;
    }
}

// The notify function blocks, so the thread cannot take its WM_QUIT: the stop gives up
// after its wait and leaves the thread to end on its own.
HANDLE notify_entered = nullptr;
HANDLE release_notify = nullptr;
void blocking_notify(const wchar_t*, const wchar_t*) {
    SetEvent(notify_entered);
    WaitForSingleObject(release_notify, 30000);
}

TEST_F(SessionChangeWindow, StopGivesUpOnABusyThreadWhichEndsOnceFree) {
    stop_session_change_window(thread_);
    unique_handle entered(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    unique_handle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    notify_entered = entered.get();
    release_notify = release.get();
    start_session_change_window(thread_, blocking_notify);
    const unique_handle thread = watch(thread_);
    ASSERT_TRUE(PostMessageW(window_of(thread_.id), WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 1));
    ASSERT_EQ(WaitForSingleObject(entered.get(), 10000), WAIT_OBJECT_0) << "the thread is inside notify";

    stop_session_change_window(thread_);
    EXPECT_FALSE(thread_.handle) << "the stop returned and let go of the thread";
    EXPECT_EQ(thread_.id, 0u);
    EXPECT_EQ(WaitForSingleObject(thread.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "still inside notify: it cannot end before the release below";

    SetEvent(release.get());
    EXPECT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0) << "ends once free";
}

// What a thread that outlived its stop reaches stays valid until it ends, though its owner
// has gone: the thread holds its own copy of the notify function and what that holds.
struct notify_target_state {
    HANDLE entered = nullptr;
    HANDLE release = nullptr;
    int calls_finished = 0;
    ~notify_target_state() { finished_when_destroyed = calls_finished; }
    static inline int finished_when_destroyed = -1;
};

TEST_F(SessionChangeWindow, AThreadOutlivingItsStopStillReachesWhatItWasGiven) {
    stop_session_change_window(thread_);
    unique_handle entered(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    unique_handle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto target = std::make_shared<notify_target_state>();
    target->entered = entered.get();
    target->release = release.get();
    notify_target_state::finished_when_destroyed = -1;
    start_session_change_window(thread_, [target](const wchar_t*, const wchar_t*) {
        SetEvent(target->entered);
        WaitForSingleObject(target->release, 30000);
        ++target->calls_finished;  // after its owner let go
    });
    const unique_handle thread = watch(thread_);
    ASSERT_TRUE(PostMessageW(window_of(thread_.id), WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 1));
    ASSERT_EQ(WaitForSingleObject(entered.get(), 10000), WAIT_OBJECT_0);

    stop_session_change_window(thread_);
    target.reset();  // the owner is gone
    EXPECT_EQ(notify_target_state::finished_when_destroyed, -1) << "the thread still holds it";
    SetEvent(release.get());
    ASSERT_EQ(WaitForSingleObject(thread.get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(notify_target_state::finished_when_destroyed, 1) << "released by the thread, after its call";
}

}  // namespace
