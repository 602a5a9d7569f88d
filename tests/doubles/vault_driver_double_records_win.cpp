// The request records: the file the driver appends every request frame to.
#include "tests/doubles/vault_driver_double_win.h"

#include "tests/doubles/vault_driver_double_locations_win.h"

namespace vault_double {

std::vector<std::vector<uint8_t>> requests() {
    std::vector<std::vector<uint8_t>> frames;
    unique_file file(CreateFileW(detail::requests_file, GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return frames;
    std::vector<uint8_t> data;
    uint8_t chunk[16384];
    DWORD got = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got)
        data.insert(data.end(), chunk, chunk + got);
    // A record still being written at the end is left out.
    for (size_t at = 0; data.size() - at >= 4;) {
        const uint32_t length = uint32_t{data[at]} | uint32_t{data[at + 1]} << 8 |
                                uint32_t{data[at + 2]} << 16 | uint32_t{data[at + 3]} << 24;
        if (length > data.size() - at - 4) break;
        frames.emplace_back(data.begin() + at + 4, data.begin() + at + 4 + length);
        at += 4 + size_t{length};
    }
    return frames;
}

bool clear_requests() {
    return DeleteFileW(detail::requests_file) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace vault_double
