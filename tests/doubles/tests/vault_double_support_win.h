#pragma once
// Shared by the double's own tests: a fixture that starts the driver with an empty script
// and no records, and builders for expected reply frames.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/doubles/vault_driver_double_win.h"
#include "tests/support/bytes.h"

namespace vault_double::testing {

constexpr uint32_t client_output = 1024 + header_size;  // the client's first attempt

// A reply frame as the driver writes it: header then payload.
std::vector<uint8_t> reply_frame(int32_t status, uint32_t payload_length,
                                 const std::vector<uint8_t>& payload = {});

class double_test : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // One exchange on the fixture's open device.
    exchange_result call(const std::vector<uint8_t>& input, uint32_t output = client_output);
    unique_file device_;
};

}  // namespace vault_double::testing
