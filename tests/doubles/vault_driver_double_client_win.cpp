// Client-side helpers: open the device and run one exchange the way the vault channel does.
#include "tests/doubles/vault_driver_double_win.h"

#include <algorithm>

namespace vault_double {

std::vector<uint8_t> request_frame(const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame(header_size + payload.size(), 0);
    for (int i = 0; i < 4; ++i) frame[i] = static_cast<uint8_t>(frame_magic >> (8 * i));
    std::copy(payload.begin(), payload.end(), frame.begin() + header_size);
    return frame;
}

unique_file open_device() {
    return unique_file(CreateFileW(device_path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
}

exchange_result exchange(HANDLE device, const std::vector<uint8_t>& input,
                         uint32_t output_length) {
    return overlapped_exchange(device, input, output_length).finish();
}

overlapped_exchange::overlapped_exchange(HANDLE device, const std::vector<uint8_t>& input,
                                         uint32_t output_length, uint32_t code)
    : device_(device),
      event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      buffer_(std::max<size_t>(std::max<size_t>(input.size(), output_length), 1)),
      output_length_(output_length) {
    std::copy(input.begin(), input.end(), buffer_.begin());
    overlapped_.hEvent = event_.get();
    DWORD returned = 0;
    if (DeviceIoControl(device, code, buffer_.data(), static_cast<DWORD>(input.size()),
                        buffer_.data(), output_length, &returned, &overlapped_)) {
        result_.ok = true;
        buffer_.resize(std::min<size_t>(returned, output_length));
        finished_ = true;
        return;
    }
    result_.error = GetLastError();
    pending_ = result_.error == ERROR_IO_PENDING;
    finished_ = !pending_;
    if (finished_) buffer_.clear();
}

overlapped_exchange::~overlapped_exchange() {
    // The driver writes into the buffer until the call is complete.
    if (!finished_) finish();
}

exchange_result overlapped_exchange::finish() {
    if (!finished_) {
        DWORD returned = 0;
        result_.ok = GetOverlappedResult(device_, &overlapped_, &returned, TRUE) != FALSE;
        result_.error = result_.ok ? 0 : GetLastError();
        buffer_.resize(result_.ok ? std::min<size_t>(returned, output_length_) : 0);
        finished_ = true;
    }
    result_.output = buffer_;
    return result_;
}

bool complete_held_request(HANDLE give_up) {
    unique_file device = open_device();
    if (!device) return false;
    overlapped_exchange wait(device.get(), {}, 0, hold_wait_code);
    if (wait.pending()) {
        const HANDLE events[] = {wait.completion_event(), give_up};
        if (WaitForMultipleObjects(give_up ? 2 : 1, events, FALSE, INFINITE) != WAIT_OBJECT_0)
            CancelIoEx(device.get(), nullptr);
    }
    return wait.finish().ok && overlapped_exchange(device.get(), {}, 0, hold_release_code).finish().ok;
}

double measure_round_trip_us(unsigned calls, size_t payload_size) {
    unique_file device = open_device();
    if (!device || calls == 0) return -1;
    const std::vector<uint8_t> frame = request_frame(std::vector<uint8_t>(payload_size, 0x5A));
    const DWORD output_length = 1024 + header_size;
    std::vector<uint8_t> buffer(std::max<size_t>(frame.size(), output_length));
    LARGE_INTEGER frequency, begin, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    for (unsigned i = 0; i < calls; ++i) {
        std::copy(frame.begin(), frame.end(), buffer.begin());
        DWORD returned = 0;
        if (!DeviceIoControl(device.get(), control_code, buffer.data(),
                             static_cast<DWORD>(frame.size()), buffer.data(), output_length,
                             &returned, nullptr))
            return -1;
    }
    QueryPerformanceCounter(&end);
    return 1e6 * static_cast<double>(end.QuadPart - begin.QuadPart) /
           static_cast<double>(frequency.QuadPart) / calls;
}

}  // namespace vault_double
