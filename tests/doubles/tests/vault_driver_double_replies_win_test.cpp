// Each kind of scripted reply, held (pended) requests, the resend-with-more-room exchange,
// script changes between calls and the empty-queue default, all through CreateFileW +
// DeviceIoControl.
#include <gtest/gtest.h>

#include <thread>

#include "tests/doubles/tests/vault_double_support_win.h"

namespace vault_double::testing {
namespace {

using VaultDoubleReplies = double_test;

const std::vector<uint8_t> success_field = {0x00, 0x00};

TEST_F(VaultDoubleReplies, EmptyQueueAnswersTheSuccessStatusField) {
    for (int i = 0; i < 3; ++i) {
        const exchange_result r = call(request_frame({0x08, 0x05}));
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.output, reply_frame(0, 2, success_field));
    }
    EXPECT_EQ(pending_replies(), 0u);
}

struct answer_case {
    const char* name;
    int32_t status;
    size_t payload_size;
    uint32_t output;
    bool fits;
};

TEST_F(VaultDoubleReplies, AnswerWritesTheFrameWhenItFitsElseAsksForRoom) {
    const answer_case cases[] = {
        {"empty payload", 0, 0, client_output, true},
        {"small payload", 0, 2, client_output, true},
        {"payload fills the buffer exactly", 0, 1024, client_output, true},
        {"one byte too many", 0, 1025, client_output, false},
        {"large payload", 0, 3000, client_output, false},
        {"negative status with payload", static_cast<int32_t>(0xC0000022), 5, client_output, true},
        {"positive status", 0x103, 1, client_output, true},
        {"negative status too large: room asked with status 0", -1, 2000, client_output, false},
        {"header-only buffer", 0, 1, 16, false},
        {"empty payload, header-only buffer", 0, 0, 16, true},
    };
    for (const answer_case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> payload = counting(c.payload_size, 3);
        ASSERT_TRUE(script({reply::answer(c.status, payload)}));
        const exchange_result r = call(request_frame({}), c.output);
        ASSERT_TRUE(r.ok) << r.error;
        const uint32_t size = static_cast<uint32_t>(c.payload_size);
        if (c.fits) {
            EXPECT_EQ(r.output, reply_frame(c.status, size, payload));
            EXPECT_EQ(pending_replies(), 0u);
        } else {
            EXPECT_EQ(r.output, reply_frame(0, size));
            EXPECT_EQ(pending_replies(), 1u) << "the entry waits for the resend";
        }
    }
}

TEST_F(VaultDoubleReplies, ResendWithTheAskedRoomGetsTheWholeReply) {
    const std::vector<uint8_t> payload = counting(3000, 1);
    const std::vector<uint8_t> request = request_frame({0x0A, 0x01, 0x7F});
    ASSERT_TRUE(script({reply::answer(0x5, payload), reply::answer(0, {0x10})}));

    const exchange_result first = call(request);
    ASSERT_TRUE(first.ok) << first.error;
    ASSERT_EQ(first.output, reply_frame(0, 3000));

    const exchange_result second = call(request, 3000 + header_size);
    ASSERT_TRUE(second.ok) << second.error;
    EXPECT_EQ(second.output, reply_frame(0x5, 3000, payload));

    const exchange_result third = call(request);
    EXPECT_EQ(third.output, reply_frame(0, 1, {0x10}));
    EXPECT_EQ(requests(), (std::vector<std::vector<uint8_t>>{request, request, request}));
}

TEST_F(VaultDoubleReplies, OutputTooSmallForAHeaderFailsAndKeepsTheEntry) {
    ASSERT_TRUE(script({reply::answer(0, {1})}));
    const exchange_result r = call(request_frame({}), 8);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(pending_replies(), 1u);
}

struct raw_case {
    const char* name;
    std::vector<uint8_t> bytes;
    uint32_t output;
    size_t returned;
};

TEST_F(VaultDoubleReplies, RawWritesTheBytesVerbatimCutToTheOutput) {
    std::vector<uint8_t> wrong_magic = reply_frame(0, 2, success_field);
    wrong_magic[0] = 0xEE;
    const std::vector<uint8_t> lying_length = reply_frame(0, 500, counting(100));
    const std::vector<uint8_t> huge_length = reply_frame(0, 0xFFFFFFF0u);
    const std::vector<uint8_t> failed_header = reply_frame(static_cast<int32_t>(0xC0000022), 0);
    const std::vector<uint8_t> too_long = counting(2000);
    const raw_case cases[] = {
        {"nothing", {}, client_output, 0},
        {"short reply", {0xEF, 0xBE, 0xFE, 0xCA, 0}, client_output, 5},
        {"wrong magic", wrong_magic, client_output, wrong_magic.size()},
        {"length neither matching nor growing", lying_length, client_output, lying_length.size()},
        {"unrepresentable capacity", huge_length, client_output, 16},
        {"negative status header", failed_header, client_output, 16},
        {"longer than the output", too_long, client_output, client_output},
    };
    for (const raw_case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(script({reply::raw(c.bytes), reply::answer(0, {})}));
        const exchange_result r = call(request_frame({1}), c.output);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.output, std::vector<uint8_t>(c.bytes.begin(), c.bytes.begin() + c.returned));
        EXPECT_EQ(pending_replies(), 1u) << "raw replies are popped";
    }
}

struct fail_case {
    uint32_t ntstatus;
    DWORD error;
};

TEST_F(VaultDoubleReplies, FailCompletesWithTheStatusAndNoBytes) {
    const fail_case cases[] = {
        {0xC0000022, ERROR_ACCESS_DENIED},
        {0xC000000D, ERROR_INVALID_PARAMETER},
        {0xC0000001, ERROR_GEN_FAILURE},
        {0xC000009A, ERROR_NO_SYSTEM_RESOURCES},
    };
    for (const fail_case& c : cases) {
        SCOPED_TRACE(c.ntstatus);
        ASSERT_TRUE(script({reply::fail(static_cast<int32_t>(c.ntstatus))}));
        const exchange_result r = call(request_frame({}));
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, c.error);
        EXPECT_TRUE(r.output.empty());
        EXPECT_EQ(pending_replies(), 0u);
    }
}

TEST_F(VaultDoubleReplies, GrowAsksForOneByteMoreThanEachOutputAndStays) {
    ASSERT_TRUE(script({reply::grow()}));
    for (const uint32_t output : {client_output, 1041u, 5000u, 16u}) {
        SCOPED_TRACE(output);
        const exchange_result r = call(request_frame({}), output);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.output, reply_frame(0, output - header_size + 1));
        EXPECT_EQ(pending_replies(), 1u);
    }
    EXPECT_EQ(requests().size(), 4u);
}

TEST_F(VaultDoubleReplies, GarbageFillsTheOutputWithoutTheMagic) {
    const struct { uint32_t seed, count, output; size_t returned; } cases[] = {
        {1, 0xFFFFFFFFu, client_output, client_output},
        {2, 16, client_output, 16},
        {3, 7, client_output, 7},
        {4, 0, client_output, 0},
        {5, 5000, 100, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seed);
        ASSERT_TRUE(script({reply::garbage(c.seed, c.count), reply::garbage(c.seed, c.count)}));
        const exchange_result r = call(request_frame({}), c.output);
        ASSERT_TRUE(r.ok) << r.error;
        ASSERT_EQ(r.output.size(), c.returned);
        if (c.returned >= 4) {
            EXPECT_NE(std::vector<uint8_t>(r.output.begin(), r.output.begin() + 4),
                      std::vector<uint8_t>({0xEF, 0xBE, 0xFE, 0xCA}));
        }
        EXPECT_EQ(call(request_frame({}), c.output).output, r.output) << "the seed decides the bytes";
        EXPECT_EQ(pending_replies(), 0u);
    }
}

TEST_F(VaultDoubleReplies, HeldRequestIsPendingUntilReleasedThenCompletesWithItsReply) {
    const struct { const char* name; reply r; bool ok; DWORD error; std::vector<uint8_t> output; } cases[] = {
        {"answer", reply::pended(reply::answer(0, {0x00, 0x00})), true, 0, reply_frame(0, 2, success_field)},
        {"failure status", reply::pended(reply::answer(static_cast<int32_t>(0xC0000022), {})), true, 0,
         reply_frame(static_cast<int32_t>(0xC0000022), 0)},
        {"room asked", reply::pended(reply::answer(0, counting(3000))), true, 0, reply_frame(0, 3000)},
        {"failed request", reply::pended(reply::fail(static_cast<int32_t>(0xC0000022))), false, ERROR_ACCESS_DENIED, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(script({c.r}));
        overlapped_exchange held(device_.get(), request_frame({0x08, 0x05}), client_output);
        ASSERT_TRUE(held.pending()) << held.finish().error;
        // Nothing completes the request but the release below.
        EXPECT_EQ(WaitForSingleObject(held.completion_event(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
        ASSERT_TRUE(complete_held_request());
        const exchange_result r = held.finish();
        EXPECT_EQ(r.ok, c.ok);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.output, c.output);
    }
    EXPECT_EQ(requests().size(), 4u) << "only the vault requests are recorded";
}

TEST_F(VaultDoubleReplies, ReleaseWaitsForARequestToBeHeld) {
    ASSERT_TRUE(script({reply::pended(reply::answer(0, {0x7F}))}));
    bool released = false;
    std::thread releaser([&] { released = complete_held_request(); });
    const exchange_result r = call(request_frame({}));
    releaser.join();
    EXPECT_TRUE(released);
    EXPECT_EQ(r.output, reply_frame(0, 1, {0x7F}));
}

TEST_F(VaultDoubleReplies, CancelledHeldRequestEndsAborted) {
    ASSERT_TRUE(script({reply::pended(reply::answer(0, {}))}));
    overlapped_exchange held(device_.get(), request_frame({}), client_output);
    ASSERT_TRUE(held.pending());
    ASSERT_TRUE(CancelIoEx(device_.get(), nullptr)) << GetLastError();
    const exchange_result r = held.finish();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    // Nothing is held any more: the next held request is served as usual.
    ASSERT_TRUE(script({reply::pended(reply::answer(0, {0x01}))}));
    overlapped_exchange next(device_.get(), request_frame({}), client_output);
    ASSERT_TRUE(next.pending());
    ASSERT_TRUE(complete_held_request());
    EXPECT_EQ(next.finish().output, reply_frame(0, 1, {0x01}));
}

// A request never completed outlasts the cancel that ends a held one; the driver's stop ends it.
TEST_F(VaultDoubleReplies, NeverCompletedOutlastsItsCancelUntilTheDriverStops) {
    ASSERT_TRUE(script({reply::never_completed(), reply::pended(reply::answer(0, {}))}));
    overlapped_exchange stuck(device_.get(), request_frame({}), client_output), held(device_.get(), request_frame({}), client_output);
    ASSERT_TRUE(stuck.pending() && held.pending() && CancelIoEx(device_.get(), nullptr));
    EXPECT_EQ(held.finish().error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(WaitForSingleObject(stuck.completion_event(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_TRUE(stop() && start());
    EXPECT_EQ(stuck.finish().error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
}

TEST_F(VaultDoubleReplies, QueueIsAnsweredInOrderThenFallsBackToTheDefault) {
    ASSERT_TRUE(script({reply::answer(0, {0xA1}), reply::raw({1, 2, 3}),
                        reply::fail(static_cast<int32_t>(0xC0000022)), reply::answer(7, {})}));
    EXPECT_EQ(pending_replies(), 4u);
    EXPECT_EQ(call(request_frame({})).output, reply_frame(0, 1, {0xA1}));
    EXPECT_EQ(call(request_frame({})).output, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(call(request_frame({})).error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(pending_replies(), 1u);
    EXPECT_EQ(call(request_frame({})).output, reply_frame(7, 0));
    EXPECT_EQ(call(request_frame({})).output, reply_frame(0, 2, success_field));
}

TEST_F(VaultDoubleReplies, ScriptCanBeReplacedBetweenCalls) {
    ASSERT_TRUE(script({reply::answer(0, {1}), reply::answer(0, {2})}));
    EXPECT_EQ(call(request_frame({})).output, reply_frame(0, 1, {1}));
    ASSERT_TRUE(script({reply::answer(0, {3})}));  // drops the unused {2}
    EXPECT_EQ(call(request_frame({})).output, reply_frame(0, 1, {3}));
    ASSERT_TRUE(script({reply::answer(0, counting(2000))}));
    EXPECT_EQ(call(request_frame({})).output, reply_frame(0, 2000));
    ASSERT_TRUE(script({}));  // abandons the waiting entry
    EXPECT_EQ(call(request_frame({})).output, reply_frame(0, 2, success_field));
}

}  // namespace
}  // namespace vault_double::testing
