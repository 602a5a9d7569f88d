// Ten thousand calls: every answer right, and nothing in the service process grows with the
// number of calls. Caches may fill during the first thousand; after that the handle count
// must stay where it was and the private bytes within 5 MB.
#include <gtest/gtest.h>

#include "tests/doubles/manager/manager_double_win.h"
#include "tests/reliability/reliability_support_win.h"

#include <algorithm>

namespace {
using namespace reliability;

constexpr unsigned total_calls = 10000;
constexpr unsigned warm_up_calls = 1000;
constexpr SIZE_T allowed_growth = 5 * 1024 * 1024;

// The service's usage once it is idle: the lowest of a few readings, so that a handle the
// reply's last steps still hold is not counted.
process_usage settled_usage(DWORD process_id) {
    process_usage lowest;
    for (int reading = 0; reading < 3; ++reading) {
        Sleep(50);
        const process_usage now = usage_of(process_id);
        if (!now.valid) return now;
        if (!lowest.valid || now.handles < lowest.handles) lowest.handles = now.handles;
        if (!lowest.valid || now.private_bytes < lowest.private_bytes) lowest.private_bytes = now.private_bytes;
        lowest.reported_handles = now.reported_handles;
        lowest.reported_private_usage = now.reported_private_usage;
        lowest.valid = true;
    }
    return lowest;
}

void print(const char* when, const process_usage& usage) {
    std::printf("%-22s handles %5lu (GetProcessHandleCount %lu)  private bytes %9zu (PrivateUsage %zu)\n", when,
                usage.handles, usage.reported_handles, usage.private_bytes, usage.reported_private_usage);
}

using Soak = RunningService;

TEST_F(Soak, TenThousandCallsLeaveHandlesAndMemoryWhereTheFirstThousandPutThem) {
    process_usage warmed;
    unsigned wrong = 0;
    const ULONGLONG started = GetTickCount64();
    print("after the start", settled_usage(process_id_));
    for (unsigned number = 0; number < total_calls; ++number) {
        // Sizes from 64 bytes to about 16 KB, so that a leak of any size class shows.
        const bool core = number % 5 == 4;
        const wchar_t* function = core ? core_command : manager_double::echo;
        const std::wstring call = envelope(function, 1, number, core ? 64 : 64 + (number * 37) % 16384);
        const ::testing::AssertionResult right = call_and_check(dispatcher_.get(), function, call);
        if (!right && wrong++ < 10) ADD_FAILURE() << "call " << number << ": " << right.message();
        if (number + 1 == warm_up_calls) {
            warmed = settled_usage(process_id_);
            ASSERT_TRUE(warmed.valid) << "the service process cannot be measured";
            print("after 1,000 calls", warmed);
        }
    }
    const double seconds = static_cast<double>(GetTickCount64() - started) / 1000;
    const process_usage last = settled_usage(process_id_);
    ASSERT_TRUE(last.valid);
    print("after 10,000 calls", last);
    std::printf("%u calls in %.1f s (%.0f calls/s, answers checked)\n", total_calls, seconds, total_calls / seconds);
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(last.handles, warmed.handles);
    EXPECT_LE(last.private_bytes, warmed.private_bytes + allowed_growth);
    EXPECT_TRUE(still_serving());
}

}  // namespace
