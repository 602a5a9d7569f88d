// Every start and stop path of the real service under the control manager: the service
// runs as kv_service_faults.exe, the product's program with a fault at one step of its
// start (service/start_fault_seam_win.h). Each row ends in SERVICE_STOPPED with its exit
// code, with what had started wound up, and with the process ended by itself.
#include <gtest/gtest.h>


#include <string>
#include <vector>

#include "foundation/kv_named_objects_win.h"
#include "foundation/unique_resource_win.h"
#include "service/tests/registration_support_win.h"
#include "service/tests/service_host_support_win.h"
#include "tests/doubles/event_system/event_system_double_win.h"
#include "tests/doubles/manager/manager_double_win.h"
#include "tests/support/child_process_win.h"

namespace {
using namespace service_host_test;
using registration_test::service_name;

std::wstring faults_exe() {
    wchar_t buffer[MAX_PATH * 2];
    const DWORD length = GetFullPathNameW(KV_SERVICE_FAULTS_EXE, MAX_PATH * 2, buffer, nullptr);
    return std::wstring(buffer, length);
}

// The service runs `faults` (the program's command line after its path) from now on.
bool run_service_with(const std::wstring& faults) {
    const unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const unique_sc_handle service(manager ? OpenServiceW(manager.get(), service_name, SERVICE_CHANGE_CONFIG) : nullptr);
    const std::wstring command = L"\"" + faults_exe() + L"\" " + faults;
    return service && ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                           command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

// A named moment of the service: it sets "<name>.reached" and waits for "<name>.go".
struct moment {
    std::wstring name = child_process::unique_name(L"KvFault");
    KV_event reached{(name + L".reached").c_str(), true, true};
    KV_event go{(name + L".go").c_str(), true, true};
};

// Runs the service with `faults` and an entry moment first, which lets the test hold the
// process before it can end: its exit code is the proof that it ended cleanly.
class faulty_service {
public:
    explicit faulty_service(const std::wstring& faults) {
        if (!run_service_with(L"service_entry pause " + entry_.name + L" " + faults) || !request_start()) return;
        if (!entry_.reached.wait(60000)) return;
        process_.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE,
                                   service_process_id()));
        started_ = static_cast<bool>(process_);
        entry_.go.set_event();
    }
    ~faulty_service() {
        // Only a failed row leaves it running: it must not hold the next one.
        if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.get(), 1);
            wait_for_state(SERVICE_STOPPED);
        }
    }
    bool started() const { return started_; }
    // True once the process has ended by itself; `code` is its exit code.
    bool ended(DWORD& code) {
        if (WaitForSingleObject(process_.get(), 60000) != WAIT_OBJECT_0) return false;
        return GetExitCodeProcess(process_.get(), &code) != FALSE;
    }

private:
    moment entry_;
    unique_handle process_;
    bool started_ = false;
};

class ServiceStartFaults : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(service_.ready()); }
    void reset_doubles() {
        manager_double::reset();
        event_system_double::reset();
    }
    registered_service service_;
};

// The manager double's records and the event system double's at the end of a row.
struct wound_up {
    DWORD manager_starts;  // start_manager calls
    DWORD manager_dones;   // done events set after the stop event
    std::size_t removals;  // Remove calls (the seven subscriptions)
};

TEST_F(ServiceStartFaults, EveryFailedOrThrowingStepEndsInStoppedWithWhatStartedWoundUp) {
    constexpr DWORD out_of_memory = static_cast<DWORD>(E_OUTOFMEMORY);
    constexpr DWORD exception = static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_EXCEPTION_IN_SERVICE));
    struct row {
        const char* what;
        const wchar_t* faults;
        bool runs_on;  // the service runs without that part until it is stopped
        DWORD exit_code;
        wound_up expected;
    };
    const row rows[] = {
        // The class object fails: the rest of the preparation still runs, then all of it is
        // wound up again, and the failure is the exit code.
        {"class registration fails", L"class_registration fail 80004005", false, 0x80004005, {1, 1, 7}},
        {"class resumption fails", L"class_resumption fail 8000FFFF", false, 0x8000FFFF, {1, 1, 7}},
        // The other parts are optional: traced, and the service runs on without them.
        {"manager creation fails", L"manager_creation fail 80040154", true, 0, {0, 0, 7}},
        {"manager start fails", L"manager_start fail 80070005", true, 0, {0, 0, 7}},
        {"event system fails", L"event_system fail 80040154", true, 0, {1, 1, 0}},
        {"subscriber fails", L"subscriptions fail 80004005", true, 0, {1, 1, 7}},
        {"window thread fails", L"window_thread fail 80004005", true, 0, {1, 1, 7}},
        // A step that throws (an exhausted heap) ends the start: what started before it is
        // stopped in the stop order, and the service stops with E_OUTOFMEMORY.
        {"class registration throws", L"class_registration throw", false, out_of_memory, {0, 0, 0}},
        {"class resumption throws", L"class_resumption throw", false, out_of_memory, {0, 0, 0}},
        {"manager creation throws", L"manager_creation throw", false, out_of_memory, {0, 0, 0}},
        {"manager start throws", L"manager_start throw", false, out_of_memory, {0, 0, 0}},
        {"event system throws", L"event_system throw", false, out_of_memory, {1, 1, 0}},
        {"subscriber throws", L"subscriptions throw", false, out_of_memory, {1, 1, 7}},
        {"window thread throws", L"window_thread throw", false, out_of_memory, {1, 1, 7}},
        // Any other exception ends the start the same way, with its own exit code.
        {"manager start throws another exception", L"manager_start throw_other", false, exception, {0, 0, 0}},
        {"window thread throws another exception", L"window_thread throw_other", false, exception, {1, 1, 7}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        reset_doubles();
        faulty_service service(r.faults);
        ASSERT_TRUE(service.started());
        if (r.runs_on) {
            ASSERT_TRUE(wait_for_state(SERVICE_RUNNING));
            ASSERT_TRUE(control(SERVICE_CONTROL_STOP));
        }
        EXPECT_TRUE(wait_for_state(SERVICE_STOPPED, 120000));
        EXPECT_EQ(exit_code(), r.exit_code);
        DWORD process_exit = 0;
        EXPECT_TRUE(service.ended(process_exit)) << "no process is left";
        EXPECT_EQ(process_exit, r.exit_code) << "the process ended without a crash";

        const manager_double::state manager = manager_double::read_state();
        EXPECT_EQ(manager.start_count, r.expected.manager_starts);
        EXPECT_EQ(manager.done_count, r.expected.manager_dones) << "stopped through its stop and done events";
        EXPECT_EQ(event_system_double::remove_queries().size(), r.expected.removals);
        EXPECT_TRUE(event_system_double::stored_subscriptions().empty()) << "no subscription is left";
    }
}

// A stop or shutdown control at any moment ends in SERVICE_STOPPED. The control manager
// refuses controls while the service starts, and never sends a shutdown on request: the
// rows that need them call the service's own control handler at that moment, from a
// thread of its own as the control manager does.
TEST_F(ServiceStartFaults, AStopAtAnyMomentEndsInStopped) {
    KV_event shutdown(system_notification(L"system_shutdown").c_str(), true, false);
    struct row {
        const char* what;
        const wchar_t* faults;
        bool announces_shutdown;
    };
    const row rows[] = {
        {"stop before the loop's queue exists", L"service_entry controls 1", false},
        {"stop twice before the queue exists", L"service_entry controls 1,1", false},
        {"stop then shutdown before the queue exists", L"service_entry controls 1,5", true},
        {"stop while the class object is registered", L"class_resumption controls 1", false},
        {"stop while the manager starts", L"manager_start controls 1", false},
        {"stop twice while the manager starts", L"manager_start controls 1,1", false},
        {"stop then shutdown while the manager starts", L"manager_start controls 1,5", true},
        {"shutdown while the subscriptions are made", L"subscriptions controls 5", true},
        {"stop as the window thread starts", L"window_thread controls 1", false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        reset_doubles();
        shutdown.reset_event();
        faulty_service service(r.faults);
        ASSERT_TRUE(service.started());
        EXPECT_TRUE(wait_for_state(SERVICE_STOPPED, 120000));
        EXPECT_EQ(exit_code(), 0u);
        DWORD process_exit = ~0u;
        EXPECT_TRUE(service.ended(process_exit));
        EXPECT_EQ(process_exit, 0u);
        EXPECT_EQ(manager_double::read_state().done_count, 1u);
        EXPECT_EQ(shutdown.wait(0), r.announces_shutdown);
    }
}

// The same moments reached through the control manager itself: the service waits at the
// manager's start while the test sends its controls.
TEST_F(ServiceStartFaults, StopsFromTheControlManagerWhileTheManagerStarts) {
    const struct {
        const char* what;
        int stops;
    } rows[] = {{"one stop", 1}, {"two stops", 2}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        reset_doubles();
        moment manager_start;
        faulty_service service(L"manager_start pause " + manager_start.name);
        ASSERT_TRUE(service.started());
        ASSERT_TRUE(manager_start.reached.wait(60000));
        EXPECT_TRUE(control(SERVICE_CONTROL_STOP));
        for (int more = 1; more < r.stops; ++more) control(SERVICE_CONTROL_STOP);  // refused or taken: either is fine
        manager_start.go.set_event();
        EXPECT_TRUE(wait_for_state(SERVICE_STOPPED, 120000));
        EXPECT_EQ(exit_code(), 0u);
        DWORD process_exit = ~0u;
        EXPECT_TRUE(service.ended(process_exit));
        EXPECT_EQ(process_exit, 0u);
        EXPECT_EQ(manager_double::read_state().done_count, 1u);
    }
}

// Every start resets the start event: a client that kept it open across a failed start
// does not see it signalled.
TEST_F(ServiceStartFaults, TheStartEventIsSignalledOnlyByThisRunsManagerStart) {
    KV_event held(L"{10C9DE46-185B-4434-8E1B-E7567E1134F5}", true, true);
    ASSERT_TRUE(held.set_event());  // as an earlier run left it
    moment window;
    faulty_service service(L"manager_start fail 80070005 window_thread pause " + window.name);
    ASSERT_TRUE(service.started());
    ASSERT_TRUE(window.reached.wait(60000)) << "the manager step is over";
    EXPECT_FALSE(held.wait(0)) << "reset at the start, and not set by the failed manager";
    window.go.set_event();
    ASSERT_TRUE(wait_for_state(SERVICE_RUNNING));
    ASSERT_TRUE(control(SERVICE_CONTROL_STOP));
    EXPECT_TRUE(wait_for_state(SERVICE_STOPPED, 120000));
}

// Runs the program directly and gives its exit code; false when it did not end.
bool run_to_end(const std::wstring& arguments, DWORD& code) {
    std::wstring command = L"\"" + faults_exe() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    const unique_handle process(info.hProcess), thread(info.hThread);
    if (WaitForSingleObject(process.get(), 120000) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        return false;
    }
    return GetExitCodeProcess(process.get(), &code) != FALSE;
}

TEST(ServiceProgram, ExitsWithMinusOneWhenItsModuleCannotBeMade) {
    for (const wchar_t* fault : {L"module_construction fail 80004005", L"module_construction throw"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(fault)));
        DWORD code = 0;
        ASSERT_TRUE(run_to_end(fault, code));
        EXPECT_EQ(code, 0xFFFFFFFFu);
    }
}

// A local server that holds no object when its start ends (its client came and went while
// it started, or never came) ends by itself. No subscription may hold it: a stored one is a
// client, as on the platform.
TEST(LocalServerStart, EndsWhenNoClientIsLeftOnceItHasStarted) {
    ASSERT_EQ(registration_test::run(registration_test::service_exe(), L"-RegServer"), 0u);
    event_system_double::unregister_double();
    const struct {
        const char* what;
        const wchar_t* faults;
    } rows[] = {
        {"a client came and went while it started", L"manager_start client"},
        {"no client ever came", L""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        DWORD code = ~0u;
        EXPECT_TRUE(run_to_end(r.faults, code)) << "it ended";
        EXPECT_EQ(code, 0u);
    }
    event_system_double::register_double();
    registration_test::run(registration_test::service_exe(), L"-UnregServer");
}

}  // namespace
