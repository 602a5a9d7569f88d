// Frame sizes and the judgement of reply frames, apart from the device.
#include <gtest/gtest.h>

#include "vault/driver_frame.h"
#include "tests/support/bytes.h"

namespace {
bytes header(std::uint32_t magic, std::uint32_t status, std::uint32_t payload_length) {
    bytes b;
    for (std::uint32_t v : {magic, 0u, status, payload_length})
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return b;
}

TEST(DriverFrameTest, BufferSize) {
    const struct { std::uint32_t len, cap, expected; } rows[] = {
        {2, 1024, 1040}, {2000, 1024, 2016}, {20, 3000, 3016}, {0, 0, 16},
        {0x20000000u, 1024, 0x20000010u},
        {20, 0x20000000u, 0x20000010u},
        {20, 0x20000001u, 0},               // a driver asking for too much room
        {20, 0xFFFFFFF0u, 0}, {20, 0xFFFFFFFFu, 0},
        {0xFFFFFFF0u, 1024, 0},             // the sum does not fit 32 bits
        {0xFFFFFFEFu, 1024, 0xFFFFFFFFu},
    };
    for (const auto& row : rows)
        EXPECT_EQ(driver_frame::buffer_size(row.len, row.cap), row.expected) << row.len << " " << row.cap;
}

TEST(DriverFrameTest, RequestHeader) {
    bytes frame = repeat(0x77, 20);
    driver_frame::write_request_header(frame.data());
    EXPECT_EQ(frame, hex("EF BE FE CA 00000000 00000000 00000000 77777777"));
}

TEST(DriverFrameTest, JudgeReply) {
    using v = driver_frame::reply_verdict;
    const struct { bytes frame; std::uint32_t returned; std::uint32_t cap; v::kind_type kind; std::uint32_t value; } rows[] = {
        {header(0xCAFEBEEF, 0, 2) + hex("00 00"), 18, 1024, v::accepted, 2},
        {header(0xCAFEBEEF, 0, 0), 16, 1024, v::accepted, 0},
        {header(0xCAFEBEEF, 0x40000000, 0), 16, 1024, v::accepted, 0},       // positive status: informational
        {header(0xCAFEBEEF, 0xC0000022, 2) + hex("00 00"), 18, 1024, v::driver_failure, 0xD0000022},
        {header(0xCAFEBEEF, 0x80000005, 0), 16, 1024, v::driver_failure, 0x90000005},
        {header(0xCAFEBEEE, 0, 0), 16, 1024, v::invalid, 0},
        {header(0xCAFEBEEF, 0, 0), 15, 1024, v::invalid, 0},
        {header(0xCAFEBEEF, 0, 0), 0, 1024, v::invalid, 0},
        {header(0xCAFEBEEF, 0, 3000), 16, 1024, v::grow, 3000},
        {header(0xCAFEBEEF, 0, 500) + repeat(0, 100), 116, 1024, v::invalid, 0},   // neither matches nor grows
        {header(0xCAFEBEEF, 0, 2) + hex("00 00 00"), 19, 1024, v::invalid, 0},    // more than the header says
        {header(0xCAFEBEEF, 0, 1024), 16, 1024, v::invalid, 0},              // equal is no growth
        {header(0xCAFEBEEF, 0, 0xFFFFFFF0u), 0, 1024, v::invalid, 0},
        {header(0xCAFEBEEF, 0, 0xFFFFFFF0u), 16, 1024, v::grow, 0xFFFFFFF0u}, // refused later by buffer_size
        {header(0xCAFEBEEF, 0, 0xFFFFFFFFu), 15, 1024, v::invalid, 0},
        {header(0xCAFEBEEF, 0, 2000) + repeat(0, 2000), 2016, 1024, v::grow, 2000},  // more than the output buffer
    };
    for (const auto& row : rows) {
        const v verdict = driver_frame::judge_reply(row.frame.data(), row.returned, row.cap);
        EXPECT_EQ(verdict.kind, row.kind) << to_hex(row.frame) << " returned " << row.returned;
        EXPECT_EQ(verdict.value, row.value) << to_hex(row.frame);
    }
}
}  // namespace
