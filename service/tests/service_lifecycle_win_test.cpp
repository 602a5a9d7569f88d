// The service through the real service control manager: its start and stop order, the
// controls, the manager's contract, logon events fired by the event system double, the
// page-file flag and the exit codes.
#include <gtest/gtest.h>

#include "foundation/kv_named_objects_win.h"
#include "foundation/tests/trace_capture_win.h"
#include "service/service_identity_win.h"
#include "service/service_module_win.h"
#include "service/tests/expected_subscriptions.h"
#include "service/tests/registration_support_win.h"
#include "service/tests/service_host_support_win.h"
#include "tests/doubles/event_system/event_system_double_win.h"
#include "tests/doubles/manager/manager_double_win.h"
#include "tests/doubles/vault_driver_double_win.h"

#include <algorithm>
#include <iterator>
#include <utility>
#include <cstdio>

namespace {
using namespace service_host_test;

constexpr wchar_t memory_management[] = L"System\\CurrentControlSet\\Control\\Session Manager\\Memory Management";
constexpr wchar_t product_key[] = L"SOFTWARE\\Quillon\\Vessaro";
constexpr wchar_t volatile_key[] = L"SOFTWARE\\Quillon\\Vessaro\\Volatile";

// True when every text of `expected` is found, in this order, each in a later trace line.
::testing::AssertionResult in_order(const std::vector<std::wstring>& expected) {
    const std::vector<std::wstring> texts = trace_texts();
    auto at = texts.begin();
    for (const std::wstring& wanted : expected) {
        at = std::find_if(at, texts.end(), [&](const std::wstring& text) { return text.find(wanted) != std::wstring::npos; });
        if (at == texts.end()) return ::testing::AssertionFailure() << "missing, or out of order: " << testing::PrintToString(wanted);
        ++at;
    }
    return ::testing::AssertionSuccess();
}

DWORD page_file_flag() {
    DWORD value = ~0u, size = sizeof value;
    RegGetValueW(HKEY_LOCAL_MACHINE, memory_management, L"ClearPageFileAtShutdown", RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}
void set_page_file_flag(DWORD value) {
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, memory_management, L"ClearPageFileAtShutdown", REG_DWORD, &value, sizeof value);
}

// The start event is set once the manager runs, before the subscriptions are made. The
// double writes a record's key before its values: wait for the last value too.
bool wait_for_subscriptions() {
    for (int tries = 0; tries < 500; ++tries) {
        const auto stored = event_system_double::stored_subscriptions();
        if (stored.size() == 7 && stored.back().thread_id != 0) return true;
        Sleep(20);
    }
    return false;
}

class ServiceHost : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.ready());
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }
    void TearDown() override { CoUninitialize(); }
    registered_service service_;
};

TEST_F(ServiceHost, StartsAndStopsEverythingInOrder) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, volatile_key);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, volatile_key);
    set_page_file_flag(1);
    ASSERT_TRUE(start_service());
    ASSERT_TRUE(wait_for_start_event(30000));
    EXPECT_EQ(page_file_flag(), 0u) << "the first start after a restart clears the flag";

    ASSERT_TRUE(wait_for_subscriptions());
    const DWORD pid = service_process_id();
    const auto& expected = expected_subscriptions::all;
    const auto stored = event_system_double::stored_subscriptions();
    ASSERT_EQ(stored.size(), std::size(expected));
    for (std::size_t i = 0; i < stored.size(); ++i) {
        EXPECT_EQ(stored[i].method, expected[i].method);
        EXPECT_EQ(stored[i].id, expected[i].id);
        EXPECT_EQ(stored[i].name, expected[i].id);
        EXPECT_EQ(stored[i].process_id, pid);
    }
    EXPECT_EQ(manager_double::read_state().mode, 1u);

    KV_event held_start_event(service_identity::start_event_name, true, true);  // a client's handle
    ASSERT_TRUE(held_start_event.wait(0));
    ASSERT_TRUE(stop_service());
    EXPECT_EQ(exit_code(), 0u);
    EXPECT_FALSE(held_start_event.wait(0)) << "a stopped service does not look started";
    EXPECT_TRUE(event_system_double::stored_subscriptions().empty());
    EXPECT_EQ(event_system_double::remove_queries().size(), 7u);
    EXPECT_EQ(manager_double::read_state().done_count, 1u);
    EXPECT_TRUE(in_order({L"CRxCoreServiceModule::PreMessageLoop[0](thread = ",
                          L"CRxCoreServiceModule::reset_pagefile_delete[0](Did not find the volatile registry key : "
                          L"SOFTWARE\\Quillon\\Vessaro\\Volatile, attempting to reset page file flag)",
                          L"CRxCoreServiceModule::LogEvent: Service started/resumed",
                          L"CRxCoreServiceModule::PreMessageLoop: About to start subscriptions...",
                          L"CRxCoreServiceModule::subscribe[0](DisplayLock)",
                          L"CRxCoreServiceModule::subscribe[0](StopScreenSaver)",
                          L"CRxCoreServiceModule::PostMessageLoop[0]",
                          L"CRxCoreServiceModule::LogEvent: Service stopped"}));
}

TEST_F(ServiceHost, ControlsOtherThanStopAndShutdownChangeNothing) {
    // Stable parents first: missing parents of a volatile key are made volatile too, and no
    // stable key (such as the core command's) could be made below them afterwards.
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, product_key, 0, nullptr, 0, KEY_READ, nullptr,
                              unique_hkey().put(), nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, volatile_key, 0, nullptr, REG_OPTION_VOLATILE, KEY_READ,
                              nullptr, unique_hkey().put(), nullptr), ERROR_SUCCESS);
    set_page_file_flag(1);
    ASSERT_TRUE(start_service());
    for (DWORD code : {DWORD{SERVICE_CONTROL_PAUSE}, DWORD{SERVICE_CONTROL_CONTINUE}, DWORD{SERVICE_CONTROL_INTERROGATE}, DWORD{200}})
        control(code);
    // The handler takes the controls in order: once the last one has written its entry,
    // the three before it have been handled too.
    bool handled = false;
    for (int tries = 0; tries < 1500 && !handled; ++tries) {
        handled = in_order({L"CRxCoreServiceModule::LogEvent: Bad service request"});
        if (!handled) Sleep(20);
    }
    ASSERT_TRUE(handled) << "the unknown control reached the handler";
    EXPECT_EQ(state(), static_cast<DWORD>(SERVICE_RUNNING));
    const auto dispatcher = connect();
    ASSERT_TRUE(dispatcher);
    EXPECT_EQ(call(dispatcher.get(), L"<function name=\"manager_echo\"/>").ret_code, S_OK) << "still serving";
    EXPECT_EQ(page_file_flag(), 1u) << "the volatile key is there: the flag stays";
    EXPECT_TRUE(in_order({L"CRxCoreServiceModule::LogEvent: Service started/resumed",
                          L"CRxCoreServiceModule::LogEvent: Bad service request"}));
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, product_key);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, product_key);
}

TEST_F(ServiceHost, FiredLogoffReachesTheVaultDriverAndWaitingProcesses) {
    ASSERT_TRUE(start_service());
    ASSERT_TRUE(wait_for_subscriptions());
    KV_event locked(system_notification(L"screen_lock").c_str(), true, false);
    KV_event logged_off(system_notification(L"user_logoff").c_str(), true, false);
    EXPECT_EQ(event_system_double::fire(L"DisplayLock", L"SYSTEM").status, S_OK);
    const auto fired = event_system_double::fire(L"Logoff", L"SYSTEM");
    EXPECT_EQ(fired.status, S_OK);
    EXPECT_EQ(fired.delivered, 1u);
    EXPECT_TRUE(locked.wait(10000));
    EXPECT_TRUE(logged_off.wait(10000));
    const auto requests = vault_double::requests();
    ASSERT_EQ(requests.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        std::vector<std::uint8_t> payload{0x08, static_cast<std::uint8_t>(i == 0 ? 0x09 : 0x0F), 0x4A, 0x08};
        for (char c : std::string("S-1-5-18")) payload.push_back(static_cast<std::uint8_t>(c));
        EXPECT_EQ(requests[i], vault_double::request_frame(payload)) << i;
    }
    EXPECT_EQ(event_system_double::fire(L"StartShell", L"SYSTEM").status, E_NOTIMPL);
    // Against a driver that pends its requests until they are cancelled, or for good, the
    // logoff ends and notifies, the next call is served, the service stops. A driver that
    // kept the first request gets no second one.
    using vault_double::reply;
    const struct { std::vector<reply> replies; std::size_t requests; } drivers[] = {
        {{reply::pended(reply::answer(0, {})), reply::pended(reply::answer(0, {}))}, 2},
        {{reply::never_completed(), reply::never_completed()}, 1}};
    for (const auto& driver : drivers) {
        ASSERT_TRUE(vault_double::script(driver.replies) && vault_double::clear_requests());
        EXPECT_EQ(event_system_double::fire(L"Logoff", L"SYSTEM").status, S_OK);
        EXPECT_TRUE(logged_off.wait(0));
        EXPECT_EQ(vault_double::requests().size(), driver.requests);
        EXPECT_EQ(call(connect().get(), L"<function name=\"manager_echo\"/>").ret_code, S_OK);
    }
    EXPECT_TRUE(stop_service());
    EXPECT_TRUE(vault_double::stop() && vault_double::start()) << "the driver ends what it still holds";
}

TEST_F(ServiceHost, StopWaitsForAsLongAsTheManagerWorks) {
    ASSERT_TRUE(start_service());
    const auto dispatcher = connect();
    ASSERT_TRUE(dispatcher);
    EXPECT_EQ(call(dispatcher.get(), L"<function name=\"manager_never_done\"/>").ret_code, S_OK);
    ASSERT_TRUE(control(SERVICE_CONTROL_STOP));
    // The manager's stop thread sees the stop event before it could set its done event:
    // once it has, the service can only be waiting for the done event.
    bool stop_seen = false;
    for (int tries = 0; tries < 1500 && !stop_seen; ++tries) {
        stop_seen = manager_double::read_state().stop_count == 1;
        if (!stop_seen) Sleep(20);
    }
    ASSERT_TRUE(stop_seen) << "the service set the manager's stop event";
    EXPECT_EQ(manager_double::read_state().done_count, 0u);
    EXPECT_EQ(state(), static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_TRUE(manager_double::release_done());
    EXPECT_TRUE(wait_for_state(SERVICE_STOPPED));
}

TEST_F(ServiceHost, AManagerThatFailsToStartLeavesTheStartEventUnset) {
    ASSERT_TRUE(manager_double::set_start_failure(E_ACCESSDENIED));
    ASSERT_TRUE(start_service());
    EXPECT_FALSE(wait_for_start_event(1000));
    const auto dispatcher = connect();
    ASSERT_TRUE(dispatcher);
    EXPECT_EQ(call(dispatcher.get(), L"<function name=\"manager_echo\"/>").ret_code, S_OK)
        << "the manager is kept and still gets the calls";
    EXPECT_TRUE(stop_service()) << "the done event was set by the service itself";
    EXPECT_TRUE(in_order({L"CRxCoreServiceModule::PreMessageLoop: Failed to start manager!",
                          L"CRxCoreServiceModule::PreMessageLoop: Error: 0x80070005"}));
}

TEST_F(ServiceHost, ExitCodesOutsideTheControlManager) {
    EXPECT_EQ(registration_test::run(registration_test::service_exe(), L""), 1063u)
        << "a console start of the service fails to reach the control manager";
    EXPECT_FALSE(in_order({L"CRxCoreServiceModule::LogEvent: Service started/resumed"}));
    ASSERT_EQ(registration_test::run(registration_test::service_exe(), L"-UnregServer"), 0u);
    EXPECT_EQ(registration_test::run(registration_test::service_exe(), L""), static_cast<DWORD>(ERROR_FILE_NOT_FOUND))
        << "without the AppID the program does not start";
}

// Without "LocalService" COM starts the program as a local server, which ends about a
// second after its last client has gone. A stored logon subscription holds the server
// like a client does, so the rows leave the event system out, or make it refuse to store:
// the subscriber the server made for itself then goes before the first client came.
TEST(LocalServer, EndsSoonAfterItsLastClient) {
    const struct { const char* what; bool event_system; const wchar_t* traced; } rows[] = {
        {"no event system", false, L"CRxCoreServiceModule::PreMessageLoop: Failed to create event system!"},
        {"subscriptions refused", true, L"CRxCoreServiceModule::subscribe: Store"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        trace_test::trace_capture capture;
        ASSERT_TRUE(capture.ready());
        if (row.event_system) {
            ASSERT_EQ(event_system_double::register_double(), S_OK);
            ASSERT_TRUE(event_system_double::set_failure(L"Store", E_ACCESSDENIED));
        } else {
            event_system_double::unregister_double();  // E_INVALIDARG when it was not registered
        }
        ASSERT_EQ(registration_test::run(registration_test::service_exe(), L"-RegServer"), 0u);
        ASSERT_TRUE(add_type_library_alias());
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
            HRESULT created = E_FAIL;
            auto dispatcher = connect(&created);
            ASSERT_TRUE(dispatcher) << std::hex << created;
            EXPECT_EQ(call(dispatcher.get(), L"<function name=\"manager_echo\"/>").ret_code, S_OK);
            const DWORD server = server_process_id();
            ASSERT_NE(server, 0u);
            const unique_handle process(OpenProcess(SYNCHRONIZE, FALSE, server));
            ASSERT_TRUE(process);
            dispatcher.reset();
            const ULONGLONG released = GetTickCount64();
            EXPECT_EQ(WaitForSingleObject(process.get(), 15000), WAIT_OBJECT_0);
            std::printf("local server (%s) ended %llu ms after its last client\n", row.what,
                        GetTickCount64() - released);
        }
        CoUninitialize();
        EXPECT_FALSE(in_order({L"CRxCoreServiceModule::LogEvent"})) << "no service events";
        EXPECT_TRUE(in_order({row.traced, L"RX_core_service_disp::call_function[0]",
                              L"CRxCoreServiceModule::PostMessageLoop[0]"}));
        remove_type_library_alias();
        registration_test::run(registration_test::service_exe(), L"-UnregServer");
        event_system_double::clear_failure();
        event_system_double::register_double();
    }
}

// The control manager does not pass SERVICE_CONTROL_SHUTDOWN on request (and Wine's never
// sends one), so the handler is driven in process here.
TEST(ServiceControl, ShutdownAnnouncesSystemShutdownThenStops) {
    trace_test::trace_capture capture;
    ASSERT_TRUE(capture.ready());
    CRxCoreServiceModule module;
    KV_event shutdown(system_notification(L"system_shutdown").c_str(), true, false);
    CRxCoreServiceModule::control_handler(SERVICE_CONTROL_SHUTDOWN);
    EXPECT_TRUE(shutdown.wait(0));
    EXPECT_EQ(module.state(), static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_TRUE(in_order({L"CRxCoreServiceModule::OnShutdown[0]", L"CRxCoreServiceModule::notify[0](system_shutdown)"}));
}

}  // namespace
