// The exchange loop against a scripted device-control call. The input holds the request
// bytes and then, for each attempt, what the "driver" does: fail with an error code, or
// answer with a header (right or wrong magic, any status, a payload length that fits,
// grows, or is arbitrary) and payload bytes. Checked on every attempt: the frame carries
// the magic, zeros and the request; the input length is the request's plus 16; the reply
// room starts at 1024 bytes and grows only to what the driver asked for, on at most
// driver_exchange::most_resends resends after the first attempt; the buffer holds
// the whole reply room (AddressSanitizer watches the driver's writes). Checked at the end:
// the result is what the frame rules give for the last reply; the request bytes are wiped;
// every frame buffer is wiped before it is released; on success the reader spans exactly
// the payload the driver wrote.
#include <cstring>
#include <map>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "vault/driver_exchange.h"
#include "vault/driver_frame.h"
#include "vault/vault_status.h"

namespace {
constexpr std::uint32_t largest_block = (64u << 10) + 16;  // the fuzz heap refuses more

std::map<void*, std::uint32_t> live_blocks;
bool writer_heap_fails = false;

void* allocate_frame(std::uint32_t bytes) noexcept {
    if (bytes > largest_block) return nullptr;
    void* block = std::malloc(bytes);
    live_blocks[block] = bytes;
    return block;
}
void release_frame(void* block) noexcept {
    const auto found = live_blocks.find(block);
    FUZZ_CHECK(found != live_blocks.end());
    static const std::uint8_t zeros[largest_block] = {};
    FUZZ_CHECK(std::memcmp(block, zeros, found->second) == 0);
    live_blocks.erase(found);
    std::free(block);
}
void* allocate_request(std::uint32_t bytes) noexcept { return writer_heap_fails ? nullptr : std::malloc(bytes); }
void release_request(void* block) noexcept { std::free(block); }

void put_u32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

class scripted_device final : public driver_exchange::device_control {
public:
    scripted_device(fuzz_bytes& script, const std::string& request) : script_(script), request_(request) {}

    bool call(std::uint8_t* buffer, std::uint32_t input_length, std::uint32_t output_length,
              std::uint32_t& returned, std::uint32_t& error) noexcept override {
        FUZZ_CHECK(input_length == request_.size() + 16);
        FUZZ_CHECK(driver_frame::read_u32(buffer) == driver_frame::magic);
        for (int i = 4; i < 16; ++i) FUZZ_CHECK(buffer[i] == 0);
        FUZZ_CHECK(std::memcmp(buffer + 16, request_.data(), request_.size()) == 0);
        FUZZ_CHECK(output_length >= 16);
        const std::uint32_t cap = output_length - 16;
        FUZZ_CHECK(cap == expected_cap_);
        ++attempts_;
        FUZZ_CHECK(attempts_ <= 1 + static_cast<int>(driver_exchange::most_resends));

        const std::uint8_t op = script_.byte();
        if (op % 8 == 0) {
            error = script_.u32();
            outcome_ = vault_status::from_win32_failure(error);
            return false;
        }
        std::memset(buffer, 0xA5, output_length > input_length ? output_length : input_length);
        const std::uint32_t magic = (op & 8) ? script_.u32() : driver_frame::magic;
        const std::uint32_t status = (op & 16) ? script_.u32() : 0;
        std::uint32_t payload_length = 0;
        switch ((op >> 5) & 3) {
        case 0: payload_length = script_.byte(); returned = payload_length + 16; break;
        case 1: payload_length = cap + 1 + (script_.u32() % (2 * cap)); returned = 16; break;
        case 2: payload_length = script_.u32(); returned = script_.u32(); break;
        default: payload_length = script_.u32(); returned = script_.byte() % 16; break;
        }
        // The driver writes no more than the reply room.
        const std::uint32_t room = output_length;
        std::uint8_t header[16] = {};
        put_u32(header, magic);
        put_u32(header + 8, status);
        put_u32(header + 12, payload_length);
        std::memcpy(buffer, header, room < 16 ? room : 16);
        payload_ = script_.take(payload_length < room - 16 ? payload_length : room - 16);
        std::memcpy(buffer + 16, payload_.data(), payload_.size());
        payload_length_ = payload_length;

        // The frame rules for this reply.
        if (returned < 16 || magic != driver_frame::magic) {
            outcome_ = vault_status::invalid_arg;
        } else if (static_cast<std::int32_t>(status) < 0) {
            outcome_ = static_cast<std::int32_t>(status | vault_status::nt_facility_bit);
        } else if (std::uint64_t{payload_length} + 16 == returned && returned <= std::uint64_t{cap} + 16) {
            outcome_ = vault_status::ok;
        } else if (payload_length > cap) {
            // Room for more is made, or refused above 512 MiB, by the heap, or after the
            // last resend.
            outcome_ = vault_status::insufficient_resources;
            expected_cap_ = payload_length;
        } else {
            outcome_ = vault_status::invalid_arg;
        }
        return true;
    }

    std::int32_t outcome() const noexcept { return outcome_; }
    int attempts() const noexcept { return attempts_; }
    const std::string& payload() const noexcept { return payload_; }
    std::uint32_t payload_length() const noexcept { return payload_length_; }

private:
    fuzz_bytes& script_;
    const std::string& request_;
    std::uint32_t expected_cap_ = driver_frame::first_reply_capacity;
    std::int32_t outcome_ = vault_status::fail;
    int attempts_ = 0;
    std::string payload_;
    std::uint32_t payload_length_ = 0;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_bytes in(data, size);
    const std::uint8_t shape = in.byte();
    writer_heap_fails = (shape & 0x80) != 0;
    const std::string request_bytes = in.take(shape & 0x7F);

    ProtocolBuffersWriter writer({allocate_request, release_request});
    writer.writeVarint(1);
    writer.writeBytesField(8, reinterpret_cast<const std::uint8_t*>(request_bytes.data()),
                           static_cast<std::uint32_t>(request_bytes.size()));
    const std::string request = writer.failed()
        ? std::string()
        : std::string(reinterpret_cast<const char*>(writer.data()), writer.size());

    driver_exchange::frame_buffer frame;
    ProtocolBuffersReader reader;
    scripted_device device(in, request);
    const std::int32_t result =
        driver_exchange::exchange(writer, {allocate_frame, release_frame}, device, frame, reader);

    if (writer_heap_fails) {
        FUZZ_CHECK(result == vault_status::insufficient_resources && device.attempts() == 0 && !frame);
        return 0;
    }
    FUZZ_CHECK(device.attempts() >= 1);
    FUZZ_CHECK(result == device.outcome());
    for (std::uint32_t i = 0; i < writer.size(); ++i) FUZZ_CHECK(writer.data()[i] == 0);
    if (result == vault_status::ok) {
        FUZZ_CHECK(frame && live_blocks.size() == 1);
        FUZZ_CHECK(reader.start() == frame.data() + 16 && reader.position() == reader.start());
        FUZZ_CHECK(static_cast<std::uint32_t>(reader.end() - reader.start()) == device.payload_length());
        FUZZ_CHECK(std::memcmp(reader.start(), device.payload().data(), device.payload().size()) == 0);
        FUZZ_CHECK(frame.size() >= 16 + device.payload_length());
        (void)readStatus(reader);
        frame.reset();
    } else {
        FUZZ_CHECK(!frame);
    }
    FUZZ_CHECK(live_blocks.empty());
    return 0;
}
