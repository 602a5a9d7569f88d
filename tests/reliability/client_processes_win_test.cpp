// Several client processes against the one service: they call at once and each gets its own
// answers; a client killed in the middle of its calls leaves the service serving the others.
// The service process itself is never killed (a killed COM server poisons the prefix).
#include <gtest/gtest.h>

#include "foundation/kv_named_objects_win.h"
#include "tests/doubles/manager/manager_double_win.h"
#include "tests/reliability/reliability_support_win.h"
#include "tests/support/child_process_win.h"

#include <optional>
#include <vector>

namespace {
using namespace reliability;

constexpr unsigned calls_per_client = 500;

std::vector<std::wstring> split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(separator, start)) != std::wstring::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
}

// Call `number` of client `client`: every fourth the core command, the others the echoing
// manager with envelopes of 64 bytes to about 2 KB.
const wchar_t* function_of(unsigned number) { return number % 4 == 3 ? core_command : manager_double::echo; }
std::wstring call_of(unsigned client, unsigned number) {
    return envelope(function_of(number), client, number, number % 4 == 3 ? 64 : 64 + (number % 7) * 300);
}

// "caller:<client>:<calls>:<go event>[:<stop event>]": connects, waits for the go event,
// makes the calls and checks every answer; with a stop event, goes on calling until it is set.
int run_caller(const std::vector<std::wstring>& fields) {
    if (fields.size() != 3 && fields.size() != 4) return child_process::fail("caller: wrong argument");
    const unsigned client = std::stoul(fields[0]), calls = std::stoul(fields[1]);
    const auto dispatcher = service_host_test::connect();
    if (!dispatcher) return child_process::fail("caller: cannot connect");
    KV_event go(fields[2].c_str(), true, true);
    if (!go.wait(60000)) return child_process::fail("caller: no go");
    std::optional<KV_event> stop;
    if (fields.size() == 4) stop.emplace(fields[3].c_str(), true, true);
    // Bounded even when the test that started it fails: two minutes, or ten wrong answers.
    const ULONGLONG deadline = GetTickCount64() + 120000;
    unsigned wrong = 0, number = 0;
    for (; (number < calls || (stop && !stop->wait(0))) && GetTickCount64() < deadline && wrong < 10; ++number) {
        const ::testing::AssertionResult right = call_and_check(dispatcher.get(), function_of(number), call_of(client, number));
        if (!right && wrong++ == 0) std::fprintf(stderr, "client %u, call %u: %s\n", client, number, right.message());
    }
    std::printf("client %u: %u calls, %u wrong answers\n", client, number, wrong);
    return wrong == 0 ? 0 : child_process::fail("caller: wrong answers");
}

// "looper:<ready event>": 64 KB echoes without end (until killed, at most two minutes);
// signals the ready event after its tenth call.
int run_looper(const std::vector<std::wstring>& fields) {
    if (fields.size() != 1) return child_process::fail("looper: wrong argument");
    const auto dispatcher = service_host_test::connect();
    if (!dispatcher) return child_process::fail("looper: cannot connect");
    KV_event ready(fields[0].c_str(), true, true);
    const ULONGLONG deadline = GetTickCount64() + 120000;
    for (unsigned number = 0; GetTickCount64() < deadline; ++number) {
        if (!call_and_check(dispatcher.get(), manager_double::echo, envelope(manager_double::echo, 99, number, 64 * 1024)))
            return child_process::fail("looper: wrong answer");
        if (number == 10) ready.set_event();
    }
    return 0;
}

// The client roles run in a single-threaded apartment of their own.
int in_apartment(int (*run)(const std::vector<std::wstring>&), const std::wstring& argument) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return child_process::fail("CoInitializeEx");
    const int result = run(split(argument, L':'));
    CoUninitialize();
    return result;
}
int caller_role(const std::wstring& argument) { return in_apartment(run_caller, argument); }
int looper_role(const std::wstring& argument) { return in_apartment(run_looper, argument); }
const child_process::role caller_child{L"caller", caller_role};
const child_process::role looper_child{L"looper", looper_role};

class ClientProcesses : public RunningService {
protected:
    unique_handle start_caller(unsigned client, unsigned calls, const std::wstring& stop_name = L"") {
        return child_process::start(L"caller", std::to_wstring(client) + L":" + std::to_wstring(calls) + L":" +
                                                   go_name_ + (stop_name.empty() ? L"" : L":" + stop_name));
    }
    const std::wstring go_name_ = child_process::unique_name(L"go");
    KV_event go_{go_name_.c_str(), true, true};
};

TEST_F(ClientProcesses, FourClientsCallingAtOnceEachGetTheirOwnAnswers) {
    std::vector<unique_handle> clients;
    for (unsigned client = 1; client <= 4; ++client) {
        clients.push_back(start_caller(client, calls_per_client));
        ASSERT_TRUE(clients.back());
    }
    const ULONGLONG started = GetTickCount64();
    ASSERT_TRUE(go_.set_event());
    for (unique_handle& client : clients) EXPECT_EQ(child_process::wait_for_exit(client.get(), 150000), 0u);
    const double seconds = static_cast<double>(GetTickCount64() - started) / 1000;
    std::printf("4 clients x %u calls: %.1f s, %.0f calls/s\n", calls_per_client, seconds,
                4 * calls_per_client / seconds);
    EXPECT_EQ(manager_double::read_state().call_count, 4 * calls_per_client * 3 / 4)
        << "every echo reached the manager once";
    EXPECT_TRUE(still_serving());
}

TEST_F(ClientProcesses, AClientKilledInTheMiddleOfItsCallsLeavesTheOthersServed) {
    // Two clients call from before the first kill until after the last.
    const std::wstring stop_name = child_process::unique_name(L"stop");
    KV_event stop(stop_name.c_str(), true, true);
    std::vector<unique_handle> callers;
    for (unsigned client = 1; client <= 2; ++client) callers.push_back(start_caller(client, 100, stop_name));
    ASSERT_TRUE(go_.set_event());
    for (int victim = 0; victim < 3; ++victim) {
        const std::wstring ready_name = child_process::unique_name(L"ready");
        KV_event ready(ready_name.c_str(), true, true);
        const unique_handle looper = child_process::start(L"looper", ready_name);
        ASSERT_TRUE(looper);
        const bool calling = ready.wait(60000);
        if (!calling) TerminateProcess(looper.get(), 1);
        ASSERT_TRUE(calling) << "the looping client got no answers";
        Sleep(37 * (victim + 1));  // somewhere in a stream of 64 KB calls
        ASSERT_TRUE(TerminateProcess(looper.get(), 9));
        EXPECT_EQ(child_process::wait_for_exit(looper.get(), 10000), 9u);
        EXPECT_TRUE(call_and_check(dispatcher_.get(), manager_double::echo, envelope(manager_double::echo, 0, victim)))
            << "after killed client " << victim;
    }
    ASSERT_TRUE(stop.set_event());
    for (unique_handle& caller : callers) EXPECT_EQ(child_process::wait_for_exit(caller.get(), 150000), 0u);
    EXPECT_TRUE(still_serving());
}

}  // namespace
