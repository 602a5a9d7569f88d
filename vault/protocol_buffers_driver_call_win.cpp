#include "vault/protocol_buffers_driver_call_win.h"

#include "foundation/trace.h"
#include "foundation/unique_resource_win.h"
#include "vault/driver_exchange.h"
#include "vault/vault_driver_com_win.h"

namespace vault_driver {
namespace {
void* heap_allocate(std::uint32_t bytes) noexcept { return ::HeapAlloc(::GetProcessHeap(), 0, bytes); }
void heap_release(void* buffer) noexcept { ::HeapFree(::GetProcessHeap(), 0, buffer); }
}  // namespace

protocol_buffers::buffer_functions process_heap() noexcept { return {heap_allocate, heap_release}; }
}  // namespace vault_driver

namespace {
// The device-control call of one attempt, on the channel's handle. The handle is opened
// for overlapped I/O, so a driver may pend the request and write its reply later: the
// call passes an OVERLAPPED and, when the driver pends, waits for the completion. Either
// way it returns only once the driver is done with the buffer, which the exchange then
// wipes and frees.
class device_io_control final : public driver_exchange::device_control {
public:
    explicit device_io_control(HANDLE device) noexcept : device_(device) {}
    bool call(std::uint8_t* buffer, std::uint32_t input_length, std::uint32_t output_length,
              std::uint32_t& returned, std::uint32_t& error) noexcept override {
        DWORD got = 0;
        if (completes(buffer, input_length, output_length, got)) {
            returned = got;
            return true;
        }
        error = ::GetLastError();
        trace_message(L"ProtocolBuffersDriverCall::callUnchecked", L"DeviceIoControl return error: %d\n", error);
        return false;
    }

private:
    bool completes(std::uint8_t* buffer, std::uint32_t input_length, std::uint32_t output_length,
                   DWORD& got) noexcept {
        unique_handle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!done) return false;
        OVERLAPPED overlapped{};
        overlapped.hEvent = done.get();
        if (::DeviceIoControl(device_, vault_driver::control_code, buffer, input_length, buffer, output_length,
                              &got, &overlapped))
            return true;
        return ::GetLastError() == ERROR_IO_PENDING && ::GetOverlappedResult(device_, &overlapped, &got, TRUE);
    }

    HANDLE device_;
};
}  // namespace

HRESULT ProtocolBuffersDriverCall::callUnchecked() noexcept {
    device_io_control device(channel_->handle());
    return driver_exchange::exchange(writer_, frame_functions_, device, frame_, reader_);
}
