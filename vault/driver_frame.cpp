#include "vault/driver_frame.h"

#include "vault/vault_status.h"

namespace driver_frame {
std::uint32_t buffer_size(std::uint32_t request_length, std::uint32_t reply_capacity) noexcept {
    if (reply_capacity > largest_reply_capacity) return 0;
    const std::uint64_t larger = request_length > reply_capacity ? request_length : reply_capacity;
    const std::uint64_t size = larger + header_size;
    return size > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(size);
}

std::uint32_t read_u32(const std::uint8_t* bytes) noexcept {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void write_request_header(std::uint8_t* frame) noexcept {
    for (std::uint32_t i = 0; i < header_size; ++i) frame[i] = 0;
    for (int i = 0; i < 4; ++i) frame[i] = static_cast<std::uint8_t>(magic >> (8 * i));
}

reply_verdict judge_reply(const std::uint8_t* frame, std::uint32_t returned,
                          std::uint32_t reply_capacity) noexcept {
    if (returned < header_size || read_u32(frame) != magic) return {reply_verdict::invalid, 0};
    const std::uint32_t status = read_u32(frame + 8);
    if (static_cast<std::int32_t>(status) < 0)
        return {reply_verdict::driver_failure, static_cast<std::uint32_t>(vault_status::from_nt(status))};
    const std::uint32_t payload_length = read_u32(frame + 12);
    const std::uint64_t needed = static_cast<std::uint64_t>(payload_length) + header_size;
    const std::uint64_t output_length = static_cast<std::uint64_t>(reply_capacity) + header_size;
    if (needed == returned && returned <= output_length) return {reply_verdict::accepted, payload_length};
    if (payload_length > reply_capacity) return {reply_verdict::grow, payload_length};
    return {reply_verdict::invalid, 0};
}
}  // namespace driver_frame
