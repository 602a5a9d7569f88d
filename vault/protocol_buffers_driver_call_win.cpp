#include "vault/protocol_buffers_driver_call_win.h"

#include <cstring>

#include "foundation/trace.h"
#include "vault/driver_frame.h"
#include "vault/vault_driver_com_win.h"
#include "vault/vault_status.h"

namespace vault_driver {
namespace {
void* heap_allocate(std::uint32_t bytes) noexcept { return ::HeapAlloc(::GetProcessHeap(), 0, bytes); }
void heap_release(void* buffer) noexcept { ::HeapFree(::GetProcessHeap(), 0, buffer); }
}  // namespace

protocol_buffers::buffer_functions process_heap() noexcept { return {heap_allocate, heap_release}; }
}  // namespace vault_driver

namespace {
// size zero-filled bytes from the pair, wiped before they go back; empty on failure.
kv_memory::wiped_buffer<std::uint8_t> allocate_frame(const protocol_buffers::buffer_functions& functions,
                                                     std::uint32_t size) noexcept {
    void* block = (functions.allocate && size) ? functions.allocate(size) : nullptr;
    if (block) std::memset(block, 0, size);
    return {static_cast<std::uint8_t*>(block), size, functions.release};
}
}  // namespace

HRESULT ProtocolBuffersDriverCall::callUnchecked() noexcept {
    if (writer_.failed()) return vault_status::insufficient_resources;
    const std::uint32_t len = writer_.size();
    HRESULT result = E_FAIL;
    std::uint32_t cap = driver_frame::first_reply_capacity;
    for (;;) {
        const std::uint32_t size = driver_frame::buffer_size(len, cap);
        kv_memory::wiped_buffer<std::uint8_t> attempt = allocate_frame(frame_functions_, size);
        if (!attempt) {
            result = vault_status::insufficient_resources;
            break;
        }
        driver_frame::write_request_header(attempt.data());
        if (len != 0) std::memcpy(attempt.data() + driver_frame::header_size, writer_.data(), len);

        DWORD returned = 0;
        if (!::DeviceIoControl(channel_->handle(), vault_driver::control_code, attempt.data(),
                               len + driver_frame::header_size, attempt.data(),
                               cap + driver_frame::header_size, &returned, nullptr)) {
            const DWORD error = ::GetLastError();
            trace_message(L"ProtocolBuffersDriverCall::callUnchecked", L"DeviceIoControl return error: %d\n", error);
            // A failure without an error code must not read as success.
            result = error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
            break;
        }
        const driver_frame::reply_verdict verdict = driver_frame::judge_reply(attempt.data(), returned, cap);
        if (verdict.kind == driver_frame::reply_verdict::grow) {
            cap = verdict.value;  // this attempt's buffer is wiped and freed here
            continue;
        }
        if (verdict.kind == driver_frame::reply_verdict::accepted) {
            frame_ = std::move(attempt);
            const std::uint8_t* payload = frame_.data() + driver_frame::header_size;
            reader_ = ProtocolBuffersReader(payload, payload + verdict.value);
            result = S_OK;
        } else if (verdict.kind == driver_frame::reply_verdict::driver_failure) {
            result = static_cast<HRESULT>(verdict.value);
        } else {
            result = E_INVALIDARG;
        }
        break;
    }
    writer_.wipe(len);
    return result;
}
