// The exchange loop against scripted drivers: which reply ends the exchange with which
// result, how much reply room each attempt offers, what each attempt sends, and that the
// request and every frame are wiped, whatever the driver did.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "tests/support/bytes.h"
#include "tests/support/recording_allocator.h"
#include "vault/driver_exchange.h"

namespace {
bytes header(std::uint32_t magic, std::uint32_t status, std::uint32_t payload_length) {
    bytes b;
    for (std::uint32_t v : {magic, 0u, status, payload_length})
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return b;
}

// What the driver does on one attempt: fail the call with an error code, or write reply
// bytes into the buffer and report `returned` bytes.
struct step {
    bool fails;
    std::uint32_t error;
    bytes reply;
    std::uint32_t returned;
};
step answer(std::uint32_t status, const bytes& payload) {
    return {false, 0, header(0xCAFEBEEF, status, static_cast<std::uint32_t>(payload.size())) + payload,
            16 + static_cast<std::uint32_t>(payload.size())};
}
step asks_for(std::uint32_t payload_length) { return {false, 0, header(0xCAFEBEEF, 0, payload_length), 16}; }
step replies(const bytes& reply, std::uint32_t returned) { return {false, 0, reply, returned}; }
step fails_with(std::uint32_t error) { return {true, error, {}, 0}; }

class scripted_driver final : public driver_exchange::device_control {
public:
    explicit scripted_driver(std::vector<step> steps) : steps_(std::move(steps)) {}
    bool call(std::uint8_t* buffer, std::uint32_t input_length, std::uint32_t output_length,
              std::uint32_t& returned, std::uint32_t& error) noexcept override {
        inputs.emplace_back(buffer, buffer + input_length);
        output_lengths.push_back(output_length);
        // The reply room past the request holds zeros, not what the heap left there.
        if (output_length > input_length && !std::all_of(buffer + input_length, buffer + output_length,
                                                         [](std::uint8_t b) { return b == 0; }))
            dirty_room = true;
        if (next_ == steps_.size()) {  // called more often than scripted
            error = 0xE0E0;
            return false;
        }
        const step& s = steps_[next_++];
        if (s.fails) {
            error = s.error;
            return false;
        }
        std::copy_n(s.reply.begin(), std::min<std::size_t>(s.reply.size(), output_length), buffer);
        returned = s.returned;
        return true;
    }
    std::vector<bytes> inputs;
    std::vector<std::uint32_t> output_lengths;
    bool dirty_room = false;

private:
    std::vector<step> steps_;
    std::size_t next_ = 0;
};

void* plain_allocate(std::uint32_t n) noexcept { return std::malloc(n); }
void plain_release(void* block) noexcept { std::free(block); }

std::vector<step> ever_growing(std::uint32_t rounds) {
    std::vector<step> steps;
    for (std::uint32_t i = 0; i < rounds; ++i) steps.push_back(asks_for(1025 + i));  // one byte more each time
    return steps;
}

TEST(DriverExchangeTest, ScriptedDrivers) {
    constexpr std::uint32_t invalid = 0x80070057, no_room = 0xD000009A;
    const std::uint32_t last_resend = 1024 + driver_exchange::most_resends;
    std::vector<step> grows_to_the_bound = ever_growing(driver_exchange::most_resends);
    grows_to_the_bound.push_back(answer(0, repeat(0x44, last_resend)));
    const struct {
        const char* name;
        std::vector<step> driver;
        std::uint32_t result;
        std::vector<std::uint32_t> outputs;  // reply room + 16 of each attempt
        bytes payload;                       // on success
    } rows[] = {
        {"match", {answer(0, hex("00 00"))}, 0, {1040}, hex("00 00")},
        {"empty payload", {answer(0, {})}, 0, {1040}, {}},
        {"payload fills the room", {answer(0, repeat(7, 1024))}, 0, {1040}, repeat(7, 1024)},
        {"positive status", {answer(0x40000000, hex("08 01"))}, 0, {1040}, hex("08 01")},
        {"grow, then match", {asks_for(3000), answer(0, repeat(1, 3000))}, 0, {1040, 3016}, repeat(1, 3000)},
        {"grow twice, then match", {asks_for(3000), asks_for(5000), answer(0, repeat(2, 5000))}, 0,
         {1040, 3016, 5016}, repeat(2, 5000)},
        {"a match on the last resend", grows_to_the_bound, 0, {1040, 1041, 1042, 1043}, repeat(0x44, last_resend)},
        {"growth past the bound", ever_growing(driver_exchange::most_resends + 1), no_room, {1040, 1041, 1042, 1043}, {}},
        {"non-growing mismatch", {replies(header(0xCAFEBEEF, 0, 500) + repeat(0, 100), 116)}, invalid, {1040}, {}},
        {"length equal to the room", {asks_for(1024)}, invalid, {1040}, {}},
        {"growth that shrinks", {asks_for(3000), asks_for(2000)}, invalid, {1040, 3016}, {}},
        {"growth that stays", {asks_for(3000), asks_for(3000)}, invalid, {1040, 3016}, {}},
        {"failure status", {answer(0xC0000022, hex("00 00"))}, 0xD0000022, {1040}, {}},
        {"failure status asking for room", {replies(header(0xCAFEBEEF, 0x80000005, 3000), 16)}, 0x90000005, {1040}, {}},
        {"failure status after a grow", {asks_for(3000), answer(0xC0000001, {})}, 0xD0000001, {1040, 3016}, {}},
        {"short reply", {replies(header(0xCAFEBEEF, 0, 0), 15)}, invalid, {1040}, {}},
        {"nothing returned", {replies({}, 0)}, invalid, {1040}, {}},
        {"bad magic", {replies(header(0xCAFEBEEE, 0, 2) + hex("00 00"), 18)}, invalid, {1040}, {}},
        {"bad magic after a grow", {asks_for(3000), replies(header(0xBEEFCAFE, 0, 0), 16)}, invalid, {1040, 3016}, {}},
        {"more returned than the room", {replies(header(0xCAFEBEEF, 0, 1030) + repeat(0, 1030), 1046),
                                          answer(0, repeat(3, 1030))}, 0, {1040, 1046}, repeat(3, 1030)},
        {"room above 512 MiB", {asks_for(0x20000001)}, no_room, {1040}, {}},
        {"room of 512 MiB refused by the heap", {asks_for(0x20000000)}, no_room, {1040}, {}},
        {"device error", {fails_with(5)}, 0x80070005, {1040}, {}},
        {"device error without a code", {fails_with(0)}, 0x80004005, {1040}, {}},
        {"device error after a grow", {asks_for(3000), fails_with(0x3E5)}, 0x800703E5, {1040, 3016}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        // Frames above 64 KiB + 16 are refused, as an exhausted heap would.
        recording_allocator::reset();
        ProtocolBuffersWriter writer({plain_allocate, plain_release});
        writer.writeVarint(8);
        writer.writeVarint(9);
        writer.writeStringField(9, "S-1-5-18", -1);
        const bytes request(writer.data(), writer.data() + writer.size());
        scripted_driver driver(row.driver);
        driver_exchange::frame_buffer frame;
        ProtocolBuffersReader reader;
        const auto frames = recording_allocator::function_pair{
            [](std::uint32_t n) noexcept { return n > (64u << 10) + 16 ? nullptr : recording_allocator::allocate(n); },
            recording_allocator::release};

        EXPECT_EQ(static_cast<std::uint32_t>(driver_exchange::exchange(writer, frames, driver, frame, reader)),
                  row.result);

        EXPECT_EQ(driver.output_lengths, row.outputs);
        EXPECT_FALSE(driver.dirty_room);
        for (const bytes& input : driver.inputs) EXPECT_EQ(input, header(0xCAFEBEEF, 0, 0) + request);
        EXPECT_EQ(bytes(writer.data(), writer.data() + request.size()), repeat(0, request.size()))
            << "request bytes left in the writer";
        if (row.result == 0) {
            ASSERT_TRUE(frame);
            EXPECT_EQ(frame.size(), row.outputs.back());
            EXPECT_EQ(reader.start(), frame.data() + 16);
            EXPECT_EQ(reader.position(), reader.start());
            EXPECT_EQ(bytes(reader.start(), reader.end()), row.payload);
        } else {
            EXPECT_FALSE(frame);
        }
        frame.reset();
        const recording_allocator::log log = recording_allocator::current();
        EXPECT_EQ(log.live, 0u);
        for (const auto& released : log.releases) EXPECT_TRUE(released.all_zero) << released.size << " bytes unwiped";
    }
}

TEST(DriverExchangeTest, FailedWriterNeverReachesTheDriver) {
    ProtocolBuffersWriter writer({[](std::uint32_t) noexcept -> void* { return nullptr; }, plain_release});
    writer.writeVarint(8);
    ASSERT_TRUE(writer.failed());
    scripted_driver driver({answer(0, {})});
    driver_exchange::frame_buffer frame;
    ProtocolBuffersReader reader;
    EXPECT_EQ(static_cast<std::uint32_t>(
                  driver_exchange::exchange(writer, {plain_allocate, plain_release}, driver, frame, reader)),
              0xD000009Au);
    EXPECT_TRUE(driver.inputs.empty());
    EXPECT_FALSE(frame);
}
}  // namespace
