// Installing and uninstalling a service through the control manager of the test prefix,
// under names of the tests' own, with the messages recorded instead of shown.
#include "service/service_install_win.h"

#include <gtest/gtest.h>

#include "service/message_display_win.h"
#include "service/tests/registration_support_win.h"

namespace {
using namespace registration_test;

using messages = std::vector<std::pair<std::wstring, std::wstring>>;

std::wstring test_service_name(const wchar_t* tag) {
    return L"KvRegTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + tag;
}

std::wstring test_service_command(const wchar_t* mode, DWORD delay_ms) {
    return L"\"" + test_service_exe() + L"\" " + mode + L" " + std::to_wstring(delay_ms);
}

class ServiceInstall : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::wstring& name : created_) EXPECT_TRUE(remove_service(name.c_str())) << "left behind";
    }
    service_install_target target(const wchar_t* tag) {
        created_.push_back(test_service_name(tag));
        return {created_.back(), service_exe()};
    }
    std::vector<std::wstring> created_;
    recorded_messages recorded_;
};

TEST_F(ServiceInstall, AFailedCreationShowsItsMessage) {
    const service_install_target t{L"KvRegTest\\invalid", service_exe()};
    EXPECT_FALSE(install_service(t));
    EXPECT_EQ(recorded_.shown(), (messages{{L"Could not start service", L"KvRegTest\\invalid"}}));
}

TEST_F(ServiceInstall, AModulePathOf260CharactersFailsWithoutMessage) {
    service_install_target t = target(L"long");
    t.module_path.assign(MAX_PATH, L'x');
    EXPECT_FALSE(install_service(t));
    t.module_path.clear();
    EXPECT_FALSE(install_service(t));
    EXPECT_FALSE(service_exists(t.service_name.c_str()));
    EXPECT_TRUE(recorded_.shown().empty());
}

TEST_F(ServiceInstall, AServiceThatRefusesToStopIsStillDeleted) {
    const service_install_target t = target(L"nostop");
    ASSERT_TRUE(create_and_start(t.service_name.c_str(), test_service_command(L"no-stop", 1500)));
    EXPECT_TRUE(uninstall_service(t));
    EXPECT_EQ(recorded_.shown(), (messages{{L"Could not stop service", t.service_name}}));
    EXPECT_TRUE(wait_until_service_gone(t.service_name.c_str(), 20000)) << "gone once its process has ended";
}

TEST_F(ServiceInstall, AServiceStillStoppingAfterItsDeletionCannotBeDeletedAgain) {
    const service_install_target t = target(L"stopping");
    ASSERT_TRUE(create_and_start(t.service_name.c_str(), test_service_command(L"slow-stop", 3000)));
    ASSERT_TRUE(uninstall_service(t));
    ASSERT_EQ(service_state(t.service_name.c_str()), static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_FALSE(uninstall_service(t));
    EXPECT_EQ(recorded_.shown(), (messages{{L"Could not delete service", t.service_name}}))
        << "a second stop of a stopping service is no failure";
}

TEST(MessageDisplay, StringResourcesComeFirstAndTheFallbackOtherwise) {
    recorded_messages recorded;
    show_message(55306, L"Could not open Service Manager", L"caption");
    EXPECT_EQ(recorded.shown(), (messages{{L"Could not open Service Manager", L"caption"}}))
        << "this program holds no string 55306";
}

// The box really appears and is closed without an answer: a hook on this thread sees the
// dialog made and destroyed while nobody clicks.
struct dialog_events {
    int created = 0;
    int destroyed = 0;
};
dialog_events dialogs;

bool is_dialog(HWND window) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    return std::wstring(name) == L"#32770";
}

LRESULT CALLBACK watch_dialogs(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_CREATEWND) {
        const auto* create = reinterpret_cast<const CBT_CREATEWNDW*>(lparam);
        if (create->lpcs->lpszClass != nullptr && !IS_INTRESOURCE(create->lpcs->lpszClass)
                ? std::wstring(create->lpcs->lpszClass) == L"#32770"
                : create->lpcs->lpszClass == MAKEINTRESOURCEW(32770))
            ++dialogs.created;
    } else if (code == HCBT_DESTROYWND && is_dialog(reinterpret_cast<HWND>(wparam))) {
        ++dialogs.destroyed;
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

TEST(MessageDisplay, AnUnansweredMessageBoxClosesItself) {
    dialogs = {};
    const HHOOK hook = SetWindowsHookExW(WH_CBT, watch_dialogs, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    show_message_box(L"Nobody answers this box", L"kvservice_tests", 200);
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(dialogs.created, 1) << "a box was shown";
    EXPECT_EQ(dialogs.destroyed, 1) << "and closed, though nobody answered it";
}

}  // namespace
