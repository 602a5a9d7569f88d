// The channel end to end through the vault-driver double: request frames as the driver
// sees them, reply checks, the resend and its bound, requests the driver pends, and the
// wiping of request and frame.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "tests/doubles/vault_driver_double_win.h"
#include "tests/support/bytes.h"
#include "tests/support/recording_allocator.h"
#include "vault/driver_exchange.h"
#include "vault/protocol_buffers_driver_call_win.h"
#include "vault/tests/reply_payloads.h"
#include "vault/tests/test_key_support.h"
#include "vault/vault_driver_com_win.h"
#include "vault/vault_requests.h"

namespace {
using vault_double::reply;

const GUID test_guid = {0x12345607, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};

bytes frame_header(std::uint32_t magic, std::uint32_t status, std::uint32_t payload_length) {
    bytes b;
    for (std::uint32_t v : {magic, 0u, status, payload_length})
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return b;
}

bytes payload_of(const bytes& frame) { return frame.size() < 16 ? bytes{} : bytes(frame.begin() + 16, frame.end()); }

std::uint32_t u(HRESULT hr) { return static_cast<std::uint32_t>(hr); }

bytes key32() {
    bytes k;
    for (int i = 0; i < 32; ++i) k.push_back(static_cast<std::uint8_t>(0xC0 + i));
    return k;
}

struct VaultChannelTest : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(vault_double::start());
        vault_double::script({});
        vault_double::clear_requests();
    }
};

TEST_F(VaultChannelTest, ChannelHoldsOnlyTheHandle) {
    static_assert(sizeof(VX_vault_driver_com) == 2 * sizeof(void*), "vtable pointer and device handle");
    VX_vault_driver_com channel;
    EXPECT_NE(channel.handle(), INVALID_HANDLE_VALUE);
}

// Itanium C++ ABI: a pointer to a virtual member holds 1 + the slot's byte offset. The
// destructor takes slots 0 and 1 (complete and deleting).
template <typename F>
std::ptrdiff_t slot_of(F member) {
    std::ptrdiff_t raw;
    std::memcpy(&raw, &member, sizeof raw);
    return (raw - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

TEST_F(VaultChannelTest, VirtualSlotsFollowTheDestructor) {
    EXPECT_EQ(slot_of(&VX_vault_driver_com::load_lkey), 2);
    EXPECT_EQ(slot_of(&VX_vault_driver_com::unload_lkey), 3);
    EXPECT_EQ(slot_of(&VX_vault_driver_com::send_operation_5), 4);
    // The key interfaces: only the relative order is fixed.
    EXPECT_LT(slot_of(&lkey_source::get_flag), slot_of(&lkey_source::get_descriptor));
    EXPECT_LT(slot_of(&lkey_source::get_descriptor), slot_of(&lkey_source::get_kind));
    EXPECT_LT(slot_of(&lkey_source::get_kind), slot_of(&lkey_source::get_key_text));
    EXPECT_LT(slot_of(&lkey_source::get_key_text), slot_of(&lkey_source::get_key_data));
    EXPECT_LT(slot_of(&lkey_descriptor::get_id), slot_of(&lkey_descriptor::get_descriptor_text1));
    EXPECT_LT(slot_of(&lkey_descriptor::get_descriptor_text1), slot_of(&lkey_descriptor::get_descriptor_text2));
}

TEST_F(VaultChannelTest, CallsThroughTheVirtualSlots) {
    VX_vault_driver_com channel;
    using slot_function = HRESULT (*)(VX_vault_driver_com*);
    void** vtable = *reinterpret_cast<void***>(&channel);
    EXPECT_EQ(u(reinterpret_cast<slot_function>(vtable[4])(&channel)), 0x10000000u);
    ASSERT_EQ(vault_double::requests().size(), 1u);
    EXPECT_EQ(payload_of(vault_double::requests()[0]), hex("08 05"));
}

TEST_F(VaultChannelTest, RequestFramesOfEveryOperation) {
    test_key plain;
    plain.key_data = key32();
    test_key texts;
    fill_with_every_field(texts);
    const struct { const char* name; HRESULT (*run)(VX_vault_driver_com&, test_key&, test_key&); bytes payload; } rows[] = {
        {"send_operation_5", [](VX_vault_driver_com& c, test_key&, test_key&) { return c.send_operation_5(); }, hex("08 05")},
        {"unload_user_bkeys(null)", [](VX_vault_driver_com& c, test_key&, test_key&) { return c.unload_user_bkeys(nullptr); }, hex("08 09")},
        {"remove_sso_data(null)", [](VX_vault_driver_com& c, test_key&, test_key&) { return c.remove_sso_data(nullptr); }, hex("08 0F")},
        {"unload_user_bkeys(S-1-5-18)", [](VX_vault_driver_com& c, test_key&, test_key&) { return c.unload_user_bkeys("S-1-5-18"); },
         hex("08 09 4A 08") + text_bytes("S-1-5-18")},
        {"remove_sso_data(S-1-5-18)", [](VX_vault_driver_com& c, test_key&, test_key&) { return c.remove_sso_data("S-1-5-18"); },
         hex("08 0F 4A 08") + text_bytes("S-1-5-18")},
        {"unload_lkey", [](VX_vault_driver_com& c, test_key&, test_key&) { return c.unload_lkey(&test_guid); },
         hex("08 06 12 10") + test_key_id_bytes},
        {"load_lkey", [](VX_vault_driver_com& c, test_key& k, test_key&) { return c.load_lkey(&k); },
         hex("08 07 18 01 42 20") + key32() + hex("12 10") + test_key_id_bytes + hex("38 01")},
        {"load_lkey with texts", [](VX_vault_driver_com& c, test_key&, test_key& k) { return c.load_lkey(&k); },
         hex("08 07 18 C8 01 42 02 00 FF 12 10") + test_key_id_bytes +
             hex("22 02 64 31 2A 06 ED A0 BD ED B8 80 32 03 E2 82 AC 38 00")},
    };
    VX_vault_driver_com channel;
    for (const auto& row : rows) {
        vault_double::clear_requests();
        EXPECT_EQ(u(row.run(channel, plain, texts)), 0x10000000u) << row.name;
        const auto frames = vault_double::requests();
        ASSERT_EQ(frames.size(), 1u) << row.name;
        EXPECT_EQ(frames[0], frame_header(0xCAFEBEEF, 0, 0) + row.payload) << row.name;
    }
}

TEST_F(VaultChannelTest, LoadLkeyRequestIsFiftyEightBytes) {
    test_key key;
    key.key_data = key32();
    VX_vault_driver_com channel;
    channel.load_lkey(&key);
    ASSERT_EQ(vault_double::requests().size(), 1u);
    EXPECT_EQ(vault_double::requests()[0].size(), 16u + 58u);
}

TEST_F(VaultChannelTest, InvalidArgumentsNeverReachTheDriver) {
    VX_vault_driver_com channel;
    test_key broken;
    broken.id_fails = true;
    EXPECT_EQ(u(channel.load_lkey(nullptr)), 0x80070057u);
    EXPECT_EQ(u(channel.load_lkey(&broken)), 0x80070057u);
    EXPECT_EQ(u(channel.unload_lkey(nullptr)), 0x80070057u);
    EXPECT_TRUE(vault_double::requests().empty());
}

TEST_F(VaultChannelTest, ReplyOutcomes) {
    const struct { const char* name; std::vector<reply> script; std::uint32_t expected; } rows[] = {
        {"status 0 in the payload", {reply::answer(0, {0x00, 0x00})}, 0x10000000},
        {"empty payload", {reply::answer(0, {})}, 0x00000000},
        {"payload status 0xC0000034", {reply::answer(0, hex("00 B4 80 80 80 0C"))}, 0xD0000034},
        {"header status access denied", {reply::answer(static_cast<std::int32_t>(0xC0000022), {0x00, 0x00})}, 0xD0000022},
        {"header status 0x80000005", {reply::answer(static_cast<std::int32_t>(0x80000005), {})}, 0x90000005},
        {"malformed payload", {reply::answer(0, hex("0A 05 01"))}, 0xD000A083},
        {"field 0 with wire type 1", {reply::answer(0, hex("01 00"))}, 0xD000A083},
        {"wrong magic", {reply::raw(frame_header(0xCAFEBEEE, 0, 2) + hex("00 00"))}, 0x80070057},
        {"short reply", {reply::raw(hex("EF BE FE CA 00 00 00 00"))}, 0x80070057},
        {"no bytes", {reply::raw({})}, 0x80070057},
        {"length neither matches nor grows", {reply::raw(frame_header(0xCAFEBEEF, 0, 500) + repeat(0, 100))}, 0x80070057},
        {"length equal to the capacity", {reply::raw(frame_header(0xCAFEBEEF, 0, 1024))}, 0x80070057},
        {"capacity beyond 32 bits", {reply::raw(frame_header(0xCAFEBEEF, 0, 0xFFFFFFFF))}, 0xD000009A},
        {"capacity just fitting 32 bits", {reply::raw(frame_header(0xCAFEBEEF, 0, 0xFFFFFFEF))}, 0xD000009A},
        {"capacity above 512 MiB", {reply::raw(frame_header(0xCAFEBEEF, 0, 0x20000001))}, 0xD000009A},
        {"device call fails", {reply::fail(static_cast<std::int32_t>(0xC0000022))}, 0x80070005},
        {"garbage over the whole reply room", {reply::garbage(1)}, 0x80070057},
        {"garbage of a header's size", {reply::garbage(2, 16)}, 0x80070057},
        {"garbage shorter than a header", {reply::garbage(3, 5)}, 0x80070057},
        {"a driver that always asks for one byte more", {reply::grow()}, 0xD000009A},
    };
    VX_vault_driver_com channel;
    for (const auto& row : rows) {
        vault_double::script(row.script);
        EXPECT_EQ(u(channel.remove_sso_data("S-1-5-18")), row.expected) << row.name;
    }
}

TEST_F(VaultChannelTest, RepliesBuiltByAProtocolBuffersLibrary) {
    VX_vault_driver_com channel;
    for (const auto& generated : generated_replies) {
        vault_double::script({reply::answer(0, generated.payload)});
        EXPECT_EQ(u(channel.unload_user_bkeys("S-1-5-18")), generated.expected) << generated.name;
        ProtocolBuffersReader reader(generated.payload.data(), generated.payload.data() + generated.payload.size());
        EXPECT_EQ(u(readStatus(reader)), generated.expected) << generated.name;
    }
}

TEST_F(VaultChannelTest, LargeReplyIsFetchedWithALargerBuffer) {
    VX_vault_driver_com channel;
    bytes payload = hex("00 00") + repeat(0x33, 2998);
    vault_double::script({reply::answer(0, payload)});
    {
        ProtocolBuffersDriverCall call(&channel);
        vault_request::write_user_operation(call.writer(), vault_request::op_unload_user_bkeys, "S-1-5-18");
        ASSERT_EQ(u(call.callUnchecked()), 0u);
        EXPECT_EQ(call.frame().size(), 3016u) << "second attempt's output length";
        EXPECT_EQ(call.reader().end() - call.reader().start(), 3000);
        EXPECT_EQ(u(call.readStatus()), 0x10000000u);
    }
    const auto frames = vault_double::requests();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], frames[1]) << "the request must be resent unchanged";
    EXPECT_EQ(payload_of(frames[1]), hex("08 09 4A 08") + text_bytes("S-1-5-18"));
    EXPECT_EQ(vault_double::pending_replies(), 0u);
}

TEST_F(VaultChannelTest, ResendsEndWhenTheDriverStopsGrowingOrAfterAFew) {
    const struct { const char* name; std::vector<reply> script; std::uint32_t result; std::size_t requests; } rows[] = {
        {"growth that stops", {reply::raw(frame_header(0xCAFEBEEF, 0, 3000)), reply::raw(frame_header(0xCAFEBEEF, 0, 2000))},
         0x80070057, 2},
        {"growth that never stops", {reply::grow()}, 0xD000009A, 1 + driver_exchange::most_resends},
    };
    VX_vault_driver_com channel;
    for (const auto& row : rows) {
        vault_double::script(row.script);
        vault_double::clear_requests();
        EXPECT_EQ(u(channel.send_operation_5()), row.result) << row.name;
        const auto frames = vault_double::requests();
        EXPECT_EQ(frames.size(), row.requests) << row.name;
        for (const auto& frame : frames) EXPECT_EQ(frame, frame_header(0xCAFEBEEF, 0, 0) + hex("08 05")) << row.name;
    }
}

// The driver pends each request and completes it only after the channel's call has
// returned ERROR_IO_PENDING: the reply must land in a frame that still lives, and the
// result and payload must be those of the completed reply.
TEST_F(VaultChannelTest, PendedRequestsCompleteIntoALiveFrame) {
    const bytes large = hex("00 00") + repeat(0x33, 2998);
    const struct {
        const char* name;
        std::vector<reply> script;
        std::size_t holds;
        std::uint32_t result, status;
        bytes payload;
    } rows[] = {
        {"status reply", {reply::pended(reply::answer(0, {0x00, 0x00}))}, 1, 0, 0x10000000, hex("00 00")},
        {"large reply, both attempts pended", {reply::pended(reply::answer(0, large))}, 2, 0, 0x10000000, large},
        {"failure status", {reply::pended(reply::answer(static_cast<std::int32_t>(0xC0000022), {}))}, 1, 0xD0000022, 0, {}},
        {"failed request", {reply::pended(reply::fail(static_cast<std::int32_t>(0xC0000022)))}, 1, 0x80070005, 0, {}},
        {"garbage", {reply::pended(reply::garbage(4))}, 1, 0x80070057, 0, {}},
    };
    VX_vault_driver_com channel;
    unique_handle give_up(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(give_up);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(vault_double::script(row.script));
        vault_double::clear_requests();
        ResetEvent(give_up.get());
        std::size_t released = 0;
        std::thread releaser([&] {
            while (released < row.holds && vault_double::complete_held_request(give_up.get())) ++released;
        });
        recording_allocator::reset();
        {
            ProtocolBuffersDriverCall call(&channel, recording_allocator::functions(), recording_allocator::functions());
            vault_request::write_user_operation(call.writer(), vault_request::op_remove_sso_data, "S-1-5-18");
            const std::uint32_t len = call.writer().size();
            const std::uint32_t result = u(call.callUnchecked());
            SetEvent(give_up.get());  // a releaser still waiting for a request stops
            releaser.join();
            EXPECT_EQ(released, row.holds);
            EXPECT_EQ(result, row.result);
            EXPECT_EQ(bytes(call.writer().data(), call.writer().data() + len), repeat(0, len));
            if (result == 0) {
                EXPECT_EQ(bytes(call.reader().start(), call.reader().end()), row.payload);
                EXPECT_EQ(u(call.readStatus()), row.status);
            }
        }
        EXPECT_EQ(vault_double::requests().size(), row.holds);
        const auto& log = recording_allocator::current();
        EXPECT_EQ(log.live, 0u);
        for (const auto& r : log.releases) EXPECT_TRUE(r.all_zero) << "released " << r.size << " bytes unwiped";
    }
}

TEST_F(VaultChannelTest, FailedRequestGrowthNeverReachesTheDriver) {
    recording_allocator::reset(0);
    VX_vault_driver_com channel;
    {
        ProtocolBuffersDriverCall call(&channel, recording_allocator::functions(), recording_allocator::functions());
        vault_request::write_operation(call.writer(), 5);
        EXPECT_EQ(u(call.callUnchecked()), 0xD000009Au);
    }
    EXPECT_TRUE(vault_double::requests().empty());
}

TEST_F(VaultChannelTest, FailedFrameAllocationEndsTheExchange) {
    const struct { const char* name; int fail_from; std::vector<reply> script; std::size_t requests; } rows[] = {
        {"first frame", 1, {}, 0},
        {"frame of the resend", 2, {reply::raw(frame_header(0xCAFEBEEF, 0, 3000))}, 1},
    };
    VX_vault_driver_com channel;
    for (const auto& row : rows) {
        vault_double::script(row.script);
        vault_double::clear_requests();
        recording_allocator::reset(row.fail_from);
        {
            ProtocolBuffersDriverCall call(&channel, recording_allocator::functions(), recording_allocator::functions());
            vault_request::write_operation(call.writer(), 5);
            EXPECT_EQ(u(call.callUnchecked()), 0xD000009Au) << row.name;
            EXPECT_FALSE(call.frame()) << row.name;
        }
        EXPECT_EQ(vault_double::requests().size(), row.requests) << row.name;
        EXPECT_EQ(recording_allocator::current().live, 0u) << row.name;
    }
}

TEST_F(VaultChannelTest, RequestAndFrameAreWiped) {
    const struct { const char* name; std::vector<reply> script; std::uint32_t result; std::vector<std::uint32_t> frames; } rows[] = {
        {"success", {}, 0, {1040}},
        {"resend", {reply::answer(0, repeat(0, 3000))}, 0, {1040, 3016}},
        {"driver failure", {reply::answer(static_cast<std::int32_t>(0xC0000022), {})}, 0xD0000022, {1040}},
        {"wrong magic", {reply::raw(frame_header(1, 0, 0))}, 0x80070057, {1040}},
        {"ever-growing driver", {reply::grow()}, 0xD000009A, {1040, 1041, 1042, 1043}},
    };
    test_key key;
    key.key_data = key32();
    VX_vault_driver_com channel;
    for (const auto& row : rows) {
        vault_double::script(row.script);
        recording_allocator::reset();
        {
            ProtocolBuffersDriverCall call(&channel, recording_allocator::functions(), recording_allocator::functions());
            vault_request::write_load_lkey(call.writer(), key);
            const std::uint32_t len = call.writer().size();
            EXPECT_EQ(u(call.callUnchecked()), row.result) << row.name;
            EXPECT_EQ(bytes(call.writer().data(), call.writer().data() + len), repeat(0, len))
                << row.name << ": request bytes left in the writer";
        }
        const auto& log = recording_allocator::current();
        EXPECT_EQ(log.live, 0u) << row.name;
        std::vector<std::uint32_t> frames;
        for (std::uint32_t n : log.allocations)
            if (n > 1000) frames.push_back(n);
        EXPECT_EQ(frames, row.frames) << row.name;
        for (const auto& r : log.releases) EXPECT_TRUE(r.all_zero) << row.name << ": released " << r.size << " bytes unwiped";
    }
}

TEST_F(VaultChannelTest, AbsentDriver) {
    ASSERT_TRUE(vault_double::stop());
    VX_vault_driver_com channel;
    EXPECT_EQ(channel.handle(), INVALID_HANDLE_VALUE);
    test_key key;
    key.key_data = key32();
    EXPECT_EQ(u(channel.send_operation_5()), 0x80070006u);
    EXPECT_EQ(u(channel.unload_user_bkeys("S-1-5-18")), 0x80070006u);
    EXPECT_EQ(u(channel.remove_sso_data(nullptr)), 0x80070006u);
    EXPECT_EQ(u(channel.unload_lkey(&test_guid)), 0x80070006u);
    EXPECT_EQ(u(channel.load_lkey(&key)), 0x80070006u);
}
}  // namespace
