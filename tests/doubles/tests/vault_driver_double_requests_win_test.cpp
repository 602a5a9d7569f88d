// The double records every request byte-exact and rejects malformed frames as the vault
// driver does.
#include <gtest/gtest.h>

#include "tests/doubles/tests/vault_double_support_win.h"

namespace vault_double::testing {
namespace {

using VaultDoubleRecords = double_test;

TEST_F(VaultDoubleRecords, EveryRequestIsRecordedByteExactInOrder) {
    std::vector<uint8_t> odd_header = request_frame({0x08, 0x01});
    odd_header[4] = 0x11;   // reserved
    odd_header[8] = 0xFF;   // status
    odd_header[12] = 0x40;  // payload_length: the driver takes the length from the call
    const std::vector<std::vector<uint8_t>> sent = {
        request_frame({}),
        request_frame(counting(256)),
        odd_header,
        request_frame(counting(5000, 7)),  // longer than the output buffer
    };
    for (const auto& frame : sent) {
        const exchange_result r = call(frame);
        EXPECT_TRUE(r.ok) << r.error;
    }
    EXPECT_EQ(requests(), sent);
}

TEST_F(VaultDoubleRecords, ClearRequestsForgetsEarlierOnes) {
    ASSERT_TRUE(call(request_frame({1})).ok);
    ASSERT_TRUE(clear_requests());
    EXPECT_TRUE(requests().empty());
    ASSERT_TRUE(call(request_frame({2})).ok);
    EXPECT_EQ(requests(), std::vector<std::vector<uint8_t>>{request_frame({2})});
}

TEST_F(VaultDoubleRecords, ARequestTheDriverCannotAnswerIsRecordedToo) {
    ASSERT_TRUE(script({reply::fail(static_cast<int32_t>(0xC0000001))}));
    EXPECT_FALSE(call(request_frame({9, 9})).ok);
    EXPECT_EQ(requests(), std::vector<std::vector<uint8_t>>{request_frame({9, 9})});
}

struct malformed_case {
    const char* name;
    std::vector<uint8_t> input;
};

TEST_F(VaultDoubleRecords, MalformedFramesFailWithInvalidParameterAndKeepTheScript) {
    std::vector<uint8_t> swapped = request_frame({1, 2});
    swapped[0] = 0xCA, swapped[1] = 0xFE, swapped[2] = 0xBE, swapped[3] = 0xEF;
    std::vector<uint8_t> short_header = request_frame({});
    short_header.pop_back();
    std::vector<uint8_t> near_magic = request_frame({});
    near_magic[3] = 0xCB;
    const malformed_case cases[] = {
        {"empty input", {}},
        {"one byte", {0xEF}},
        {"15 bytes with magic", short_header},
        {"magic byte-swapped", swapped},
        {"magic off by one bit", near_magic},
        {"all zeros", std::vector<uint8_t>(40, 0)},
    };
    for (const malformed_case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(script({reply::answer(0, {0x42})}));
        ASSERT_TRUE(clear_requests());
        const exchange_result r = call(c.input);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(requests(), std::vector<std::vector<uint8_t>>{c.input});
        EXPECT_EQ(pending_replies(), 1u);
    }
}

TEST_F(VaultDoubleRecords, OtherControlCodesAreRefusedAndNotRecorded) {
    std::vector<uint8_t> buffer = request_frame({1});
    buffer.resize(64);
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(device_.get(), control_code + 4, buffer.data(), 17,
                                 buffer.data(), 64, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    EXPECT_TRUE(requests().empty());
}

}  // namespace
}  // namespace vault_double::testing
