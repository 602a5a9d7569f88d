#include "vault/driver_exchange.h"

#include <cstring>

#include "vault/driver_frame.h"
#include "vault/vault_status.h"

namespace driver_exchange {

frame_buffer allocate_frame(const protocol_buffers::buffer_functions& functions, std::uint32_t size) noexcept {
    void* block = (functions.allocate && size) ? functions.allocate(size) : nullptr;
    if (block) std::memset(block, 0, size);
    return {static_cast<std::uint8_t*>(block), size, functions.release};
}

std::int32_t exchange(ProtocolBuffersWriter& writer, const protocol_buffers::buffer_functions& frame_functions,
                      device_control& device, frame_buffer& frame, ProtocolBuffersReader& reader) noexcept {
    if (writer.failed()) return vault_status::insufficient_resources;
    const std::uint32_t len = writer.size();
    std::int32_t result = vault_status::fail;
    std::uint32_t cap = driver_frame::first_reply_capacity;
    for (std::uint32_t resends = 0;; ++resends) {
        const std::uint32_t size = driver_frame::buffer_size(len, cap);
        frame_buffer attempt = allocate_frame(frame_functions, size);
        if (!attempt) {
            result = vault_status::insufficient_resources;
            break;
        }
        driver_frame::write_request_header(attempt.data());
        if (len != 0) std::memcpy(attempt.data() + driver_frame::header_size, writer.data(), len);

        std::uint32_t returned = 0, error = 0;
        if (!device.call(attempt.data(), len + driver_frame::header_size, cap + driver_frame::header_size,
                         returned, error)) {
            result = vault_status::from_win32_failure(error);
            break;
        }
        const driver_frame::reply_verdict verdict = driver_frame::judge_reply(attempt.data(), returned, cap);
        if (verdict.kind == driver_frame::reply_verdict::grow) {
            if (resends == most_resends) {
                result = vault_status::insufficient_resources;
                break;
            }
            cap = verdict.value;  // this attempt's buffer is wiped and freed here
            continue;
        }
        if (verdict.kind == driver_frame::reply_verdict::accepted) {
            frame = std::move(attempt);
            const std::uint8_t* payload = frame.data() + driver_frame::header_size;
            reader = ProtocolBuffersReader(payload, payload + verdict.value);
            result = vault_status::ok;
        } else if (verdict.kind == driver_frame::reply_verdict::driver_failure) {
            result = static_cast<std::int32_t>(verdict.value);
        } else {
            result = vault_status::invalid_arg;
        }
        break;
    }
    writer.wipe(len);
    return result;
}

}  // namespace driver_exchange
