#include "tests/doubles/tests/vault_double_support_win.h"

namespace vault_double::testing {

std::vector<uint8_t> reply_frame(int32_t status, uint32_t payload_length,
                                 const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> out;
    for (uint32_t v : {frame_magic, 0u, static_cast<uint32_t>(status), payload_length})
        for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

void double_test::SetUp() {
    ASSERT_TRUE(start());
    ASSERT_TRUE(script({}));
    ASSERT_TRUE(clear_requests());
    device_ = open_device();
    ASSERT_TRUE(device_) << GetLastError();
}

void double_test::TearDown() {
    device_.reset();
    script({});
    clear_requests();
}

exchange_result double_test::call(const std::vector<uint8_t>& input, uint32_t output) {
    return exchange(device_.get(), input, output);
}

}  // namespace vault_double::testing
