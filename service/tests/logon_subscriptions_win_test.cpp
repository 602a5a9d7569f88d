// Logon-event subscriptions through real COM against the event system double
// (kv_event_system_double.dll), with a stand-in dispatcher as subscriber.
#include "service/logon_subscriptions_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/tests/trace_capture_win.h"
#include "service/tests/expected_subscriptions.h"
#include "service/tests/stand_in_dispatcher_win.h"
#include "tests/doubles/common/com_double_locations_win.h"
#include "tests/doubles/event_system/event_system_double_win.h"
#include "tests/support/message_pump_win.h"

namespace {
namespace events = event_system_double;
using stand_in_dispatcher::handler_call;

const auto& expected = expected_subscriptions::all;
constexpr const wchar_t* logon_event_class = L"{D5978630-5B9F-11D1-8DD2-00AA004ABD5E}";

// True when every text appears in the lines, each in a later line than the one before.
bool in_order(const std::vector<std::wstring>& lines, const std::vector<std::wstring>& texts) {
    std::size_t next = 0;
    for (const std::wstring& line : lines)
        if (next < texts.size() && line.find(texts[next]) != std::wstring::npos) ++next;
    return next == texts.size();
}

using message_pump::wait_for;

// kv_fire_event.exe METHOD USER in another process; its exit code.
DWORD run_fire_tool(const std::wstring& method, const std::wstring& user) {
    const std::wstring tool = doubles::double_path(doubles::fire_event_tool);
    std::wstring command = L"\"" + tool + L"\" " + method + L" " + user;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(tool.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return ~0u;
    const unique_handle process(info.hProcess), thread(info.hThread);
    DWORD code = ~0u;
    if (wait_for(process.get()) == WAIT_OBJECT_0) GetExitCodeProcess(process.get(), &code);
    return code;
}

// events::fire from a worker thread while this thread serves the deliveries.
events::fire_result fire_from_worker(const wchar_t* method, const wchar_t* user) {
    struct job {
        const wchar_t* method;
        const wchar_t* user;
        events::fire_result result{E_FAIL, 0};
    } work{method, user};
    const unique_handle worker(CreateThread(
        nullptr, 0,
        [](void* parameter) -> DWORD {
            auto* w = static_cast<job*>(parameter);
            w->result = events::fire(w->method, w->user);
            return 0;
        },
        &work, 0, nullptr));
    if (!worker || wait_for(worker.get()) != WAIT_OBJECT_0) return {E_FAIL, 0};
    return work.result;
}

class LogonSubscriptions : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(events::register_double(), S_OK);
        ASSERT_TRUE(events::reset());
        ASSERT_TRUE(capture.ready());
    }
    void TearDown() override { events::reset(); }

    com_ptr<IEventSystem> create_event_system() {
        com_ptr<IEventSystem> event_system;
        EXPECT_EQ(CoCreateInstance(logon_subscriptions::event_system_class, nullptr, CLSCTX_SERVER,
                                   logon_subscriptions::event_system_interface, event_system.put_void()),
                  S_OK);
        return event_system;
    }

    struct apartment {
        apartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
        ~apartment() { CoUninitialize(); }
    } com;
    trace_test::trace_capture capture;
};

TEST_F(LogonSubscriptions, StartStoresTheSevenSubscriptionsAndStopRemovesThemInOrder) {
    const stand_in_dispatcher::class_registration dispatcher_class;
    ASSERT_EQ(dispatcher_class.status(), S_OK);
    com_ptr<IEventSystem> event_system = logon_subscriptions::start();
    ASSERT_TRUE(event_system);

    const std::vector<events::subscription_record> stored = events::stored_subscriptions();
    ASSERT_EQ(stored.size(), std::size(expected));
    for (std::size_t i = 0; i < stored.size(); ++i) {
        EXPECT_EQ(stored[i].method, expected[i].method);
        EXPECT_EQ(stored[i].id, expected[i].id);
        EXPECT_EQ(stored[i].name, expected[i].id);
        EXPECT_EQ(stored[i].event_class, logon_event_class);
        EXPECT_EQ(stored[i].prog_id, L"EventSystem.EventSubscription");
        EXPECT_TRUE(stored[i].has_subscriber);
        EXPECT_EQ(stored[i].thread_id, GetCurrentThreadId());
    }
    EXPECT_EQ(events::live_subscription_objects(), 0u) << "every subscription object released";
    EXPECT_EQ(stand_in_dispatcher::live_objects(), 1) << "one dispatcher, held by the event system only";
    std::vector<std::wstring> trace = {L"CRxCoreServiceModule::PreMessageLoop: About to start subscriptions..."};
    for (const auto& one : expected) trace.push_back(std::wstring(L"CRxCoreServiceModule::subscribe[0](") + one.method + L")");
    EXPECT_TRUE(in_order(capture.lines(), trace));

    logon_subscriptions::stop(event_system.get());
    EXPECT_TRUE(events::stored_subscriptions().empty());
    std::vector<std::wstring> queries;
    for (const auto& one : expected) queries.push_back(std::wstring(L"SubscriptionID=") + one.id);
    EXPECT_EQ(events::remove_queries(), queries);
    EXPECT_EQ(stand_in_dispatcher::live_objects(), 0);
}

TEST_F(LogonSubscriptions, FiredEventsReachTheSubscriberOnTheStoringThread) {
    const stand_in_dispatcher::class_registration dispatcher_class;
    com_ptr<IEventSystem> event_system = logon_subscriptions::start();
    ASSERT_TRUE(event_system);

    EXPECT_EQ(run_fire_tool(L"DisplayLock", L"VM\\root"), 0u);
    EXPECT_EQ(run_fire_tool(L"StartShell", L"VM\\root"), 1u) << "the handler's E_NOTIMPL";
    const events::fire_result logoff = fire_from_worker(L"Logoff", nullptr);
    EXPECT_EQ(logoff.status, S_OK);
    EXPECT_EQ(logoff.delivered, 1u);
    const events::fire_result shell = fire_from_worker(L"StartShell", L"x");
    EXPECT_EQ(shell.status, E_NOTIMPL);
    EXPECT_EQ(shell.delivered, 1u);

    const std::vector<handler_call> calls = stand_in_dispatcher::calls();
    ASSERT_EQ(calls.size(), 4u);
    const std::optional<std::wstring> root = L"VM\\root";
    const handler_call wanted[] = {{L"DisplayLock", root, GetCurrentThreadId()},
                                   {L"StartShell", root, GetCurrentThreadId()},
                                   {L"Logoff", std::nullopt, GetCurrentThreadId()},
                                   {L"StartShell", L"x", GetCurrentThreadId()}};
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].method, wanted[i].method);
        EXPECT_EQ(calls[i].user, wanted[i].user) << i;
        EXPECT_EQ(calls[i].thread_id, wanted[i].thread_id);
    }

    logon_subscriptions::stop(event_system.get());
    EXPECT_EQ(run_fire_tool(L"Logon", L"VM\\root"), 1u) << "no subscriber left";
    EXPECT_EQ(fire_from_worker(L"Logon", L"VM\\root").status, EVENT_S_NOSUBSCRIBERS);
}

TEST_F(LogonSubscriptions, EachFailingStepIsTracedAndReleasesTheSubscription) {
    const com_ptr<IEventSystem> event_system = create_event_system();
    ASSERT_TRUE(event_system);
    const com_ptr<IUnknown> subscriber = stand_in_dispatcher::create();
    struct row { const wchar_t* call; const wchar_t* traced; };
    const row rows[] = {
        {L"CreateInstance", L"Failed to create an event subscription!"},
        {L"put_SubscriptionID", L"put_SubscriptionID"},
        {L"put_SubscriptionName", L"put_SubscriptionName"},
        {L"put_MethodName", L"put_MethodName"},
        {L"put_EventClassID", L"put_EventClassID"},
        {L"put_SubscriberInterface", L"put_SubscriberInterface"},
        {L"Store", L"Store"},
    };
    const HRESULT failure = static_cast<HRESULT>(0x80040D21);
    for (const row& r : rows) {
        ASSERT_TRUE(trace_test::delete_trace_file());
        ASSERT_TRUE(events::set_failure(r.call, failure));
        EXPECT_EQ(logon_subscriptions::subscribe(event_system.get(), subscriber.get(), expected[0].id, L"DisplayLock"),
                  failure)
            << r.call;
        EXPECT_TRUE(in_order(capture.lines(), {L"CRxCoreServiceModule::subscribe[0](DisplayLock)",
                                               std::wstring(L"CRxCoreServiceModule::subscribe: ") + r.traced,
                                               L"CRxCoreServiceModule::subscribe: Error: 0x80040d21"}))
            << r.call;
        EXPECT_TRUE(events::stored_subscriptions().empty()) << r.call;
        EXPECT_EQ(events::live_subscription_objects(), 0u) << r.call;
    }
}

TEST_F(LogonSubscriptions, AFailingMethodLeavesTheOtherSubscriptionsInPlace) {
    const stand_in_dispatcher::class_registration dispatcher_class;
    ASSERT_TRUE(events::set_failure(L"put_MethodName", static_cast<HRESULT>(0x80040D22), L"Logoff"));
    com_ptr<IEventSystem> event_system = logon_subscriptions::start();
    ASSERT_TRUE(event_system);

    std::vector<std::wstring> methods;
    for (const auto& record : events::stored_subscriptions()) methods.push_back(record.method);
    EXPECT_EQ(methods, (std::vector<std::wstring>{L"DisplayLock", L"DisplayUnlock", L"Logon", L"StartScreenSaver",
                                                  L"StartShell", L"StopScreenSaver"}));
    EXPECT_TRUE(in_order(capture.lines(), {L"CRxCoreServiceModule::subscribe[0](Logoff)",
                                           L"CRxCoreServiceModule::subscribe: put_MethodName",
                                           L"CRxCoreServiceModule::subscribe: Error: 0x80040d22",
                                           L"CRxCoreServiceModule::subscribe[0](Logon)"}));
    EXPECT_EQ(events::live_subscription_objects(), 0u);
    logon_subscriptions::stop(event_system.get());
}

TEST_F(LogonSubscriptions, WithoutEventSystemNothingIsSubscribedAndRemovalsFailSilently) {
    for (const auto& one : expected) EXPECT_EQ(logon_subscriptions::unsubscribe(nullptr, one.id), E_FAIL);
    logon_subscriptions::stop(nullptr);
    EXPECT_TRUE(capture.lines().empty());

    ASSERT_EQ(events::unregister_double(), S_OK);
    const com_ptr<IEventSystem> event_system = logon_subscriptions::start();
    EXPECT_EQ(events::register_double(), S_OK);
    EXPECT_FALSE(event_system);
    const std::vector<std::wstring> lines = capture.lines();
    EXPECT_TRUE(in_order(lines, {L"CRxCoreServiceModule::PreMessageLoop: Failed to create event system!",
                                 L"CRxCoreServiceModule::PreMessageLoop: Error: 0x80040154"}));
    EXPECT_FALSE(in_order(lines, {L"About to start subscriptions"}));
}

TEST_F(LogonSubscriptions, ADispatcherThatCannotBeCreatedIsTracedAndNothingIsStored) {
    const stand_in_dispatcher::class_registration refusing_class(E_ACCESSDENIED);
    const com_ptr<IEventSystem> event_system = logon_subscriptions::start();
    EXPECT_TRUE(event_system);
    EXPECT_TRUE(in_order(capture.lines(), {L"CRxCoreServiceModule::PreMessageLoop: About to start subscriptions...",
                                           L"CRxCoreServiceModule::PreMessageLoop: Failed to create a dispatcher!",
                                           L"CRxCoreServiceModule::PreMessageLoop: Error: 0x80070005"}));
    EXPECT_TRUE(events::stored_subscriptions().empty());
}

}  // namespace
