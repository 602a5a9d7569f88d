// Installing, starting and stopping the double through the service control manager.
#include <gtest/gtest.h>

#include "tests/doubles/vault_driver_double_win.h"

namespace vault_double {
namespace {

TEST(VaultDoubleLifecycle, DeviceOpensAfterStartAndVanishesAfterStop) {
    ASSERT_TRUE(start());
    EXPECT_TRUE(open_device());

    ASSERT_TRUE(stop());
    unique_file gone = open_device();
    EXPECT_FALSE(gone);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(stop()) << "stopping a stopped driver is not an error";

    ASSERT_TRUE(start());
    unique_file again = open_device();
    ASSERT_TRUE(again) << GetLastError();
    const exchange_result r = exchange(again.get(), request_frame({}), 1040);
    EXPECT_TRUE(r.ok) << r.error;
}

TEST(VaultDoubleLifecycle, StartIsIdempotentWhileRunning) {
    ASSERT_TRUE(start());
    unique_file held = open_device();
    ASSERT_TRUE(held);
    ASSERT_TRUE(start());
    // The driver was not restarted under the open handle.
    const exchange_result r = exchange(held.get(), request_frame({}), 1040);
    EXPECT_TRUE(r.ok) << r.error;
}

TEST(VaultDoubleLifecycle, StopEndsCallsOnHandlesOpenedBefore) {
    ASSERT_TRUE(start());
    unique_file held = open_device();
    ASSERT_TRUE(held);
    ASSERT_TRUE(stop());
    // Wine unloads at once (Windows would defer the unload until the handle closes); a
    // call on the stale handle must fail either way rather than be answered.
    const exchange_result r = exchange(held.get(), request_frame({}), 1040);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.output.empty());
    held.reset();
    ASSERT_TRUE(start());
}

TEST(VaultDoubleLifecycle, RoundTripFigureIsMeasurable) {
    ASSERT_TRUE(start());
    ASSERT_TRUE(script({}));
    EXPECT_GT(measure_round_trip_us(20), 0.0);
    EXPECT_GE(requests().size(), 20u);
    clear_requests();
}

}  // namespace
}  // namespace vault_double
