// Logon events become notifications that other processes wait on; a logoff first makes
// the vault driver forget the user. Names of users come from outside and are never used
// as formats.
#include <gtest/gtest.h>

#include "dispatcher/notifications_win.h"
#include "dispatcher/rx_core_service_disp_win.h"
#include "dispatcher/tests/dispatcher_support_win.h"
#include "foundation/kv_memory.h"
#include "foundation/tests/trace_capture_win.h"
#include "foundation/trace_test_seam_win.h"
#include "tests/doubles/vault_driver_double_win.h"
#include "tests/support/child_process_win.h"
#include "tests/support/process_handles_win.h"

#include <cstdio>

#include <atomic>
#include <new>
#include <optional>

namespace {
using namespace dispatcher_test;

std::wstring event_text(const std::wstring& sid, const std::wstring& notification) {
    return L"{DB186164-5C92-42ad-A10E-D342FABB7EC6}[" + sid + L"](" + notification + L")";
}

// The second process, "listen:<names>": waits on every "Global\" event named in its
// argument ('|'-separated) and exits 0 only when each was signalled within 30 s.
int listen_role(const std::wstring& names) {
    const std::wstring list = names + L"|";
    for (std::size_t start = 0, end; (end = list.find(L'|', start)) != std::wstring::npos; start = end + 1) {
        KV_event event(list.substr(start, end - start).c_str(), true, false);
        if (!event.wait(30000)) return child_process::fail("an event was not signalled");
    }
    return 0;
}
const child_process::role listener_child{L"listen", listen_role};

class SessionEvents : public ::testing::Test {
protected:
    void SetUp() override {
        dispatcher_ = new_dispatcher();
        ASSERT_TRUE(dispatcher_);
        logon_ = static_cast<RX_core_service_disp*>(dispatcher_.get());
    }
    main_thread_apartment apartment_;
    com_ptr<RX_core_service_disp_i> dispatcher_;
    RX_core_service_disp* logon_ = nullptr;
};

TEST_F(SessionEvents, AnotherProcessReceivesEveryNotificationByName) {
    const unique_bstr system(SysAllocString(L"SYSTEM"));
    const struct { HRESULT (RX_core_service_disp::*handler)(BSTR); const wchar_t* notification; } rows[] = {
        {&RX_core_service_disp::Logon, L"user_logon"},
        {&RX_core_service_disp::DisplayLock, L"screen_lock"},
        {&RX_core_service_disp::DisplayUnlock, L"screen_unlock"},
        {&RX_core_service_disp::StartScreenSaver, L"screen_saver_activated"},
        {&RX_core_service_disp::StopScreenSaver, L"screen_saver_deactivated"},
        {&RX_core_service_disp::Logoff, L"user_logoff"},
    };
    std::wstring names;
    for (const auto& row : rows) names += (names.empty() ? L"" : L"|") + event_text(L"S-1-5-18", row.notification);
    const unique_handle listener = child_process::start(L"listen", names);
    ASSERT_TRUE(listener);
    for (const auto& row : rows) EXPECT_EQ((logon_->*row.handler)(system.get()), S_OK);
    EXPECT_EQ(child_process::wait_for_exit(listener.get()), 0u);
}

TEST_F(SessionEvents, AccountsResolveToTheirSidWhateverTheSpelling) {
    EXPECT_STREQ(account_sid_text(L"SYSTEM").text(), L"S-1-5-18");
    EXPECT_STREQ(account_sid_text(L"system").text(), L"S-1-5-18");
    EXPECT_STREQ(account_sid_text(L"NT AUTHORITY\\SYSTEM").text(), L"S-1-5-18");
    EXPECT_EQ(account_sid_text(L"no-such-account-kv").text(), nullptr);
    EXPECT_EQ(account_sid_text(nullptr).text(), nullptr);
    EXPECT_STREQ(notification_event_text(nullptr, L"user_logoff").text(), event_text(L"(null)", L"user_logoff").c_str());
}

TEST_F(SessionEvents, OneEventPerUserAndNotification) {
    notification_map map;
    for (const wchar_t* user : {L"SYSTEM", L"system", L"NT AUTHORITY\\SYSTEM"}) notify(map, L"X::notify", user, L"screen_lock");
    EXPECT_EQ(map.size(), 1u);
    notify(map, L"X::notify", L"no-such-account-kv", L"screen_lock");
    notify(map, L"X::notify", L"SYSTEM", L"screen_unlock");
    EXPECT_EQ(map.size(), 3u);
    // A second owner makes its own object for the same kernel event.
    KV_event listener(event_text(L"S-1-5-18", L"screen_lock").c_str(), true, false);
    notification_map other;
    notify(other, L"X::notify", L"SYSTEM", L"screen_lock");
    EXPECT_TRUE(listener.wait(0));
    // A name held by another kind of object makes no entry; once it is free, the next
    // notification makes the event.
    unique_handle squatter(CreateMutexW(nullptr, FALSE, (L"Global\\" + event_text(L"S-1-5-18", L"x")).c_str()));
    notify(map, L"X::notify", L"SYSTEM", L"x");
    EXPECT_EQ(map.size(), 3u);
    squatter.reset();
    notify(map, L"X::notify", L"SYSTEM", L"x");
    EXPECT_EQ(map.size(), 4u);
}

TEST_F(SessionEvents, StartShellIsNotImplementedAndSignalsNothing) {
    const unique_bstr system(SysAllocString(L"SYSTEM"));
    KV_event listener(event_text(L"S-1-5-18", L"user_logon").c_str(), true, false);
    EXPECT_EQ(logon_->StartShell(system.get()), E_NOTIMPL);
    EXPECT_FALSE(listener.wait(0));
}

TEST_F(SessionEvents, LogoffAsksTheVaultDriverToForgetTheUser) {
    ASSERT_TRUE(vault_double::start());
    ASSERT_TRUE(vault_double::script({}));
    ASSERT_TRUE(vault_double::clear_requests());
    const auto with_user = [](std::uint8_t operation) {
        std::vector<std::uint8_t> payload{0x08, operation, 0x4A, 0x08};
        for (char c : std::string("S-1-5-18")) payload.push_back(static_cast<std::uint8_t>(c));
        return vault_double::request_frame(payload);
    };
    KV_event logged_off(event_text(L"S-1-5-18", L"user_logoff").c_str(), true, false);
    const unique_bstr system(SysAllocString(L"SYSTEM"));
    EXPECT_EQ(logon_->Logoff(system.get()), S_OK);
    EXPECT_EQ(vault_double::requests(), (std::vector<std::vector<std::uint8_t>>{with_user(0x09), with_user(0x0F)}));
    EXPECT_TRUE(logged_off.wait(0));

    // Without a user name: no requests, and the notification goes out under "(null)".
    ASSERT_TRUE(vault_double::clear_requests());
    KV_event nobody(event_text(L"(null)", L"user_logoff").c_str(), true, false);
    EXPECT_EQ(logon_->Logoff(nullptr), S_OK);
    EXPECT_TRUE(vault_double::requests().empty());
    EXPECT_TRUE(nobody.wait(0));
    vault_double::clear_requests();
}

void* failing_allocate(std::size_t) { throw std::bad_alloc(); }
void plain_release(void* block) noexcept { ::operator delete(block); }

TEST_F(SessionEvents, ExhaustedMemoryIsTheHandlersResult) {
    const unique_bstr system(SysAllocString(L"SYSTEM"));
    const auto previous = kv_memory::install_allocator({failing_allocate, plain_release});
    const HRESULT locked = logon_->DisplayLock(system.get());
    const HRESULT logged_off = logon_->Logoff(system.get());
    kv_memory::install_allocator(previous);
    EXPECT_EQ(locked, E_OUTOFMEMORY);
    EXPECT_EQ(logged_off, E_OUTOFMEMORY);
    EXPECT_EQ(logon_->DisplayLock(system.get()), S_OK) << "the object serves on";
}

// Once armed, fails the first allocation of SYSTEM's SID text ("S-1-5-18" and its NUL in
// UTF-16: 18 bytes), the first text the logoff's driver step makes.
std::atomic<bool> fail_sid_text{false};
void* fail_sid_text_allocate(std::size_t bytes) {
    if (bytes == 9 * sizeof(wchar_t) && fail_sid_text.exchange(false)) throw std::bad_alloc();
    return ::operator new(bytes);
}

const auto pended_for_good = vault_double::reply::pended(vault_double::reply::answer(0, {}));  // until cancelled
const auto never_completed = vault_double::reply::never_completed();

TEST_F(SessionEvents, ALogoffThatCannotReachTheDriverSaysWhyAndStillNotifies) {
    ASSERT_TRUE(vault_double::start());
    const struct {
        const char* what;
        void (*arrange)();
        std::vector<std::wstring> traced;
    } rows[] = {
        {"out of memory", [] { fail_sid_text = true; },
         {L"Logoff could not send its driver requests, out of memory!", L"Error: 0x8007000e"}},
        {"driver error", [] {
             const std::int32_t status = static_cast<std::int32_t>(0xC0000022);  // access denied
             vault_double::script({vault_double::reply::answer(status, {0x00, 0x00}),
                                   vault_double::reply::answer(status, {0x00, 0x00})});
         },
         {L"Logoff could not unload_user_bkeys for the user!", L"Error: 0xd0000022",
          L"Logoff could not remove_sso_data for the user!", L"Error: 0xd0000022"}},
        {"driver answers only when cancelled", [] { vault_double::script({pended_for_good, pended_for_good}); },
         {L"unload_user_bkeys for the user!", L"Error: 0x800703e3", L"remove_sso_data for the user!", L"Error: 0x800703e3"}},
        {"driver never completes", [] { vault_double::script({never_completed, never_completed}); },
         {L"unload_user_bkeys for the user!", L"Error: 0x800705b4", L"does not send remove_sso_data"}},
        {"no driver", [] { vault_double::stop(); },
         {L"Logoff could not unload_user_bkeys for the user!", L"Error: 0x80070006",
          L"Logoff could not remove_sso_data for the user!", L"Error: 0x80070006"}},
    };
    const unique_bstr system(SysAllocString(L"SYSTEM"));
    // The trace switch is read once per row, before the failing allocation is armed.
    trace_set_switch_lifetime(0xFFFFFFFFu);
    for (const auto& row : rows) {
        trace_test::trace_capture capture;
        ASSERT_TRUE(capture.ready());
        trace_message(L"SessionEvents::logoff_failures", L"%S\n", row.what);
        ASSERT_TRUE(vault_double::script({}));
        KV_event logged_off(event_text(L"S-1-5-18", L"user_logoff").c_str(), true, false);
        row.arrange();
        const auto previous = kv_memory::install_allocator({fail_sid_text_allocate, plain_release});
        const HRESULT result = logon_->Logoff(system.get());
        kv_memory::install_allocator(previous);
        fail_sid_text = false;
        EXPECT_EQ(result, S_OK) << row.what;
        EXPECT_TRUE(logged_off.wait(0)) << row.what << ": user_logoff still signalled";
        std::vector<std::wstring> traced = trace_messages(L"RX_core_service_disp::Logoff");
        std::size_t next = 0;
        for (const std::wstring& text : traced)
            if (next < row.traced.size() && text.find(row.traced[next]) != std::wstring::npos) ++next;
        std::wstring all;
        for (const std::wstring& text : traced) all += text + L"\n";
        EXPECT_EQ(next, row.traced.size()) << row.what << ": the step and its status are traced in\n"
                                           << testing::PrintToString(all);
    }
    trace_set_switch_lifetime(trace_default_switch_lifetime);
    ASSERT_TRUE(vault_double::start());
    vault_double::script({});
}

TEST_F(SessionEvents, AThousandObjectsShareOneEventPerName) {
    const unique_bstr system(SysAllocString(L"SYSTEM"));
    logon_->Logon(system.get());  // what the platform opens on the first lookups stays open
    const std::size_t names_before = notification_events_made();
    const std::optional<DWORD> before = process_handles::count(GetCurrentProcessId());
    ASSERT_TRUE(before);
    for (int i = 0; i < 1000; ++i) {
        const com_ptr<RX_core_service_disp_i> object = new_dispatcher();
        ASSERT_TRUE(object);
        auto* each = static_cast<RX_core_service_disp*>(object.get());
        EXPECT_EQ(each->DisplayLock(system.get()), S_OK);
        EXPECT_EQ(each->DisplayUnlock(system.get()), S_OK);
    }
    const std::optional<DWORD> after = process_handles::count(GetCurrentProcessId());
    ASSERT_TRUE(after);
    const std::size_t names = notification_events_made() - names_before;
    std::printf("handles before %lu, after 1000 objects each signalling 2 names: %lu (%zu new names)\n",
                static_cast<unsigned long>(*before), static_cast<unsigned long>(*after), names);
    EXPECT_EQ(names, 2u);
    EXPECT_LE(*after, *before + names);
}

TEST_F(SessionEvents, ClientTextIsWrittenAsItStands) {
    trace_test::trace_capture capture;
    ASSERT_TRUE(capture.ready());
    const unique_bstr hostile(SysAllocString(L"%n%n%s%S"));
    EXPECT_EQ(logon_->DisplayLock(hostile.get()), S_OK);
    EXPECT_EQ(call(dispatcher_.get(), L"<function name=\"core_%n%n%s\"/>").ret_code, E_INVALIDARG);
    std::size_t found = 0;
    for (const std::wstring& line : trace_test::read_trace_lines())
        if (line.find(L"RX_core_service_disp::DisplayLock[0](%n%n%s%S)") != std::wstring::npos ||
            line.find(L"RX_core_service_disp::core_perform_operation[0](core_%n%n%s)") != std::wstring::npos)
            ++found;
    EXPECT_EQ(found, 2u);
}

}  // namespace
