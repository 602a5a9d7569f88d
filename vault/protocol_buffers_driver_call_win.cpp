#include "vault/protocol_buffers_driver_call_win.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "foundation/kv_memory.h"
#include "foundation/trace.h"
#include "foundation/unique_resource_win.h"
#include "vault/driver_exchange.h"
#include "vault/vault_status.h"
#include "vault/vault_driver_com_win.h"

namespace vault_driver {
namespace {
void* heap_allocate(std::uint32_t bytes) noexcept { return ::HeapAlloc(::GetProcessHeap(), 0, bytes); }
void heap_release(void* buffer) noexcept { ::HeapFree(::GetProcessHeap(), 0, buffer); }
}  // namespace

protocol_buffers::buffer_functions process_heap() noexcept { return {heap_allocate, heap_release}; }
}  // namespace vault_driver

namespace {
constexpr trace_name call_scope = L"ProtocolBuffersDriverCall::callUnchecked";

// One request in flight: the OVERLAPPED the driver completes, its event, and the buffer
// the driver reads the request from and writes its reply into. Each lives on the heap on
// its own, apart from the exchange's frame, so that a request the driver still holds after
// its cancel can be abandoned whole: never freed nor reused, so whatever the driver writes
// later lands in memory nobody else uses.
struct request_in_flight {
    OVERLAPPED overlapped{};
    unique_handle done;
    kv_memory::wiped_buffer<std::uint8_t> buffer;
};

// Waits for the driver to complete a request it pended: at most the driver's time, then
// the request is cancelled and waited for at most the cancel's time. False when the driver
// still holds it (or the wait itself failed, which is treated the same).
bool driver_completed(HANDLE device, request_in_flight& request) noexcept {
    const HANDLE done = request.done.get();
    if (::WaitForSingleObject(done, vault_driver::completion_wait_ms) == WAIT_OBJECT_0) return true;
    trace_message(call_scope, L"DeviceIoControl not completed within %u ms, cancelling the request\n",
                  vault_driver::completion_wait_ms);
    ::CancelIoEx(device, &request.overlapped);
    return ::WaitForSingleObject(done, vault_driver::cancel_wait_ms) == WAIT_OBJECT_0;
}

// Leaves a request the driver still holds to it: the request bytes are wiped (the driver
// took its copy when the call was made), and the block, its OVERLAPPED and its event are
// never released. A deliberate leak of a few hundred bytes, traced.
void abandon(std::unique_ptr<request_in_flight> request) noexcept {
    kv_memory::wipe(request->buffer.data(), request->buffer.size());
    const std::size_t bytes = sizeof(request_in_flight) + request->buffer.size();
    (void)request.release();
    trace_message(call_scope, L"Request abandoned to the driver after its cancel, %u bytes left to it\n",
                  static_cast<unsigned>(bytes));
}

// The device-control call of one attempt, on the channel's handle. The handle is opened
// for overlapped I/O, so a driver may pend the request and write its reply later: the call
// passes an OVERLAPPED of a request block of its own and waits, bounded, for the
// completion; the reply is copied into the exchange's frame only once the driver is done.
// A request the driver holds beyond its cancel is abandoned with its block, and the call
// fails with ERROR_TIMEOUT.
class device_io_control final : public driver_exchange::device_control {
public:
    explicit device_io_control(HANDLE device) noexcept : device_(device) {}
    bool call(std::uint8_t* buffer, std::uint32_t input_length, std::uint32_t output_length,
              std::uint32_t& returned, std::uint32_t& error) noexcept override {
        DWORD got = 0;
        error = completes(buffer, input_length, output_length, got);
        if (error == ERROR_SUCCESS) {
            returned = got;
            return true;
        }
        trace_message(call_scope, L"DeviceIoControl return error: %d\n", error);
        return false;
    }

private:
    // ERROR_SUCCESS with the reply in buffer and its length in got, or the error.
    DWORD completes(std::uint8_t* buffer, std::uint32_t input_length, std::uint32_t output_length,
                    DWORD& got) noexcept {
        std::unique_ptr<request_in_flight> request(new (std::nothrow) request_in_flight);
        if (!request) return ERROR_NOT_ENOUGH_MEMORY;
        request->done.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!request->done) return ::GetLastError();
        const std::uint32_t size = std::max(input_length, output_length);
        request->buffer = driver_exchange::allocate_frame(vault_driver::process_heap(), size);
        if (!request->buffer) return ERROR_NOT_ENOUGH_MEMORY;
        if (input_length != 0) std::memcpy(request->buffer.data(), buffer, input_length);
        request->overlapped.hEvent = request->done.get();
        std::uint8_t* const data = request->buffer.data();
        if (!::DeviceIoControl(device_, vault_driver::control_code, data, input_length, data, output_length, &got,
                               &request->overlapped)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING) return error;
            if (!driver_completed(device_, *request)) {
                abandon(std::move(request));
                return vault_status::timeout_error;
            }
            if (!::GetOverlappedResult(device_, &request->overlapped, &got, FALSE)) return ::GetLastError();
        }
        if (got > output_length) got = output_length;
        if (got != 0) std::memcpy(buffer, data, got);
        return ERROR_SUCCESS;
    }

    HANDLE device_;
};
}  // namespace

HRESULT ProtocolBuffersDriverCall::callUnchecked() noexcept {
    device_io_control device(channel_->handle());
    return driver_exchange::exchange(writer_, frame_functions_, device, frame_, reader_);
}
