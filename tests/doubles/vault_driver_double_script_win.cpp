// The reply script: encoded into the registry value the driver re-reads on every request.
#include "tests/doubles/vault_driver_double_win.h"

#include <utility>

#include "tests/doubles/vault_driver_double_locations_win.h"

namespace vault_double {
namespace {

void append_u32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t read_u32(const uint8_t* at) {
    return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

unique_hkey open_parameters(REGSAM access, bool create) {
    unique_hkey key;
    const LSTATUS status =
        create ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, detail::parameters_key, 0, nullptr, 0,
                                 access, nullptr, key.put(), nullptr)
               : RegOpenKeyExW(HKEY_LOCAL_MACHINE, detail::parameters_key, 0, access, key.put());
    if (status != ERROR_SUCCESS) key.release();
    return key;
}

}  // namespace

reply reply::answer(int32_t status, std::vector<uint8_t> payload) {
    return reply{kind::answer, status, std::move(payload)};
}

reply reply::raw(std::vector<uint8_t> bytes) {
    return reply{kind::raw, 0, std::move(bytes)};
}

reply reply::fail(int32_t ntstatus) {
    return reply{kind::fail, ntstatus, {}};
}

reply reply::grow() { return reply{kind::grow, 0, {}}; }

reply reply::garbage(uint32_t seed, uint32_t count) {
    reply r{kind::garbage, static_cast<int32_t>(seed), {}};
    append_u32(r.bytes, count);
    return r;
}

reply reply::pended(reply r) {
    r.held = true;
    return r;
}

reply reply::never_completed() {
    reply r = answer(0, {0x00, 0x00});
    return r.stuck = true, r;
}

bool script(const std::vector<reply>& replies) {
    constexpr uint8_t held_flag = 0x80;
    constexpr uint8_t stuck_flag = 0x40;
    std::vector<uint8_t> encoded;
    for (const reply& r : replies) {
        encoded.push_back(static_cast<uint8_t>(static_cast<uint8_t>(r.type) | (r.held ? held_flag : 0) |
                                               (r.stuck ? stuck_flag : 0)));
        encoded.insert(encoded.end(), 3, 0);
        append_u32(encoded, static_cast<uint32_t>(r.status));
        append_u32(encoded, static_cast<uint32_t>(r.bytes.size()));
        encoded.insert(encoded.end(), r.bytes.begin(), r.bytes.end());
    }
    unique_hkey key = open_parameters(KEY_SET_VALUE, true);
    if (!key) return false;
    static const BYTE nothing = 0;
    return RegSetValueExW(key.get(), detail::replies_value, 0, REG_BINARY,
                          encoded.empty() ? &nothing : encoded.data(),
                          static_cast<DWORD>(encoded.size())) == ERROR_SUCCESS;
}

size_t pending_replies() {
    unique_hkey key = open_parameters(KEY_QUERY_VALUE, false);
    if (!key) return 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), detail::replies_value, nullptr, nullptr, nullptr, &size) !=
        ERROR_SUCCESS)
        return 0;
    std::vector<uint8_t> data(size);
    if (size && RegQueryValueExW(key.get(), detail::replies_value, nullptr, nullptr, data.data(),
                                 &size) != ERROR_SUCCESS)
        return 0;
    data.resize(size);
    size_t count = 0;
    for (size_t at = 0; data.size() - at >= detail::entry_header_size; ++count) {
        const uint32_t length = read_u32(data.data() + at + 8);
        if (length > data.size() - at - detail::entry_header_size) break;
        at += detail::entry_header_size + length;
    }
    return count;
}

}  // namespace vault_double
