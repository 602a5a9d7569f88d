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
    std::vector<uint8_t> buffer(std::max<size_t>(std::max<size_t>(input.size(), output_length), 1));
    std::copy(input.begin(), input.end(), buffer.begin());
    DWORD returned = 0;
    exchange_result result;
    result.ok = DeviceIoControl(device, control_code, buffer.data(),
                                static_cast<DWORD>(input.size()), buffer.data(), output_length,
                                &returned, nullptr) != FALSE;
    result.error = result.ok ? 0 : GetLastError();
    buffer.resize(std::min<size_t>(returned, output_length));
    result.output = std::move(buffer);
    return result;
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
