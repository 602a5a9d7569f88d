#pragma once
// ProtocolBuffersDriverCall: one request/reply exchange with the vault driver. The request
// is encoded into the writer, framed, sent in one device-control call that returns once
// the driver has completed it (a driver that pends the request is waited for 5 s, then
// the request is cancelled and waited for 1 s more, then abandoned to the driver), the
// reply frame is checked (and the call repeated with a larger buffer when the driver asks
// for more room, a few times at most), and the reader is left spanning the reply payload.
//
// The call owns the writer's data and the frame buffer of a successful exchange; both are
// wiped and released when the call is destroyed, on every path.
#include <windows.h>

#include <cstdint>

#include "vault/protocol_buffers_reader.h"
#include "vault/protocol_buffers_writer.h"
#include "foundation/kv_memory.h"

class VX_vault_driver_com;

namespace vault_driver {
inline constexpr DWORD control_code = 0x00222EEC;  // CTL_CODE(0x22, 0xBBB, METHOD_BUFFERED, FILE_ANY_ACCESS)
// How long a request may stay with the driver before it is cancelled, and how long its
// cancel may take before the request is abandoned to the driver.
inline constexpr DWORD completion_wait_ms = 5000;
inline constexpr DWORD cancel_wait_ms = 1000;
// The general-purpose heap's allocate and free, for the request and the frame.
protocol_buffers::buffer_functions process_heap() noexcept;
}  // namespace vault_driver

class ProtocolBuffersDriverCall {
public:
    explicit ProtocolBuffersDriverCall(
        const VX_vault_driver_com* channel,
        protocol_buffers::buffer_functions request_functions = vault_driver::process_heap(),
        protocol_buffers::buffer_functions frame_functions = vault_driver::process_heap()) noexcept
        : channel_(channel), writer_(request_functions), frame_functions_(frame_functions) {}
    ProtocolBuffersDriverCall(const ProtocolBuffersDriverCall&) = delete;
    ProtocolBuffersDriverCall& operator=(const ProtocolBuffersDriverCall&) = delete;

    ProtocolBuffersWriter& writer() noexcept { return writer_; }
    ProtocolBuffersReader& reader() noexcept { return reader_; }
    const kv_memory::wiped_buffer<std::uint8_t>& frame() const noexcept { return frame_; }

    // Sends the writer's request and checks the reply. S_OK: the reader spans the reply
    // payload and the call holds the frame. Otherwise (no frame held):
    // 0xD000009A the writer failed, or a reply asked for more room than can be made
    //   (above 512 MiB) or allocated, or for more room again after the last resend
    //   (driver_exchange::most_resends);
    // HRESULT_FROM_WIN32 of the device-control error (E_FAIL if it reported none), among
    //   them 0x800703E3 for a request cancelled after its time and 0x800705B4
    //   (vault_status::request_abandoned) for one the driver kept after its cancel;
    // E_INVALIDARG a short reply, wrong magic, or a length that neither matches nor grows;
    // status OR 0x10000000 for a negative status in the reply header.
    // Every run that gets past the writer check wipes the request bytes in the writer.
    HRESULT callUnchecked() noexcept;

    // readStatus of the reply payload (see protocol_buffers_reader.h).
    HRESULT readStatus() noexcept { return ::readStatus(reader_); }

private:
    const VX_vault_driver_com* channel_;
    ProtocolBuffersWriter writer_;
    ProtocolBuffersReader reader_;
    kv_memory::wiped_buffer<std::uint8_t> frame_;
    protocol_buffers::buffer_functions frame_functions_;
};
