#pragma once
// One request/reply exchange with the vault driver, apart from the device call itself:
// the frame around the request, the checks of the reply frame, the resend with a larger
// reply buffer when the driver asks for more room, and the wiping of the request bytes.
// Platform-free: the synchronous device-control call comes in through device_control.
#include <cstdint>

#include "vault/protocol_buffers_reader.h"
#include "vault/protocol_buffers_writer.h"
#include "foundation/kv_memory.h"

namespace driver_exchange {

// Resends with a larger reply buffer after the first attempt. A driver whose reply grows
// between attempts gets a few, each with at least the room it asked for; one that keeps
// asking is refused with 0xD000009A instead of keeping the caller (a logoff) in a loop
// of up to hundreds of millions of attempts.
inline constexpr std::uint32_t most_resends = 3;

// The owner of a frame buffer: zero-filled when made, wiped over its whole size before it
// goes back to its release function.
using frame_buffer = kv_memory::wiped_buffer<std::uint8_t>;
// size bytes from the pair; an empty owner when size is 0 or the allocation fails.
frame_buffer allocate_frame(const protocol_buffers::buffer_functions& functions, std::uint32_t size) noexcept;

// The device-control call of one attempt. It returns once the driver is done with the
// buffer (also when the driver completes the request later than the call itself).
class device_control {
public:
    // Sends the first input_length bytes of buffer and lets the driver write up to
    // output_length bytes of its reply into the same buffer (which holds the larger of
    // the two). True with the count of bytes returned, or false with the error code.
    virtual bool call(std::uint8_t* buffer, std::uint32_t input_length, std::uint32_t output_length,
                      std::uint32_t& returned, std::uint32_t& error) noexcept = 0;

protected:
    ~device_control() = default;
};

// Sends the writer's request and checks the reply; frames come from frame_functions.
// 0 (S_OK): frame holds the reply frame and reader spans its payload. Otherwise frame
// and reader are left alone and the result is
// 0xD000009A the writer failed, or a reply asked for more room than can be made (above
//   512 MiB) or allocated, or for more room again after most_resends resends;
// HRESULT_FROM_WIN32 of the device-control error (E_FAIL if it reported none);
// E_INVALIDARG a short reply, wrong magic, or a length that neither matches nor grows;
// status OR 0x10000000 for a negative status in the reply header.
// Every run that gets past the writer check wipes the request bytes in the writer; each
// attempt's frame is wiped over its whole size before it is released.
std::int32_t exchange(ProtocolBuffersWriter& writer, const protocol_buffers::buffer_functions& frame_functions,
                      device_control& device, frame_buffer& frame, ProtocolBuffersReader& reader) noexcept;

}  // namespace driver_exchange
