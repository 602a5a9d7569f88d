#include "vault/tests/recording_allocator_support.h"

#include <cstdlib>
#include <cstring>
#include <map>

namespace recording_allocator {
namespace {
std::map<void*, std::uint32_t>& sizes() {
    static std::map<void*, std::uint32_t> map;
    return map;
}

void* allocate(std::uint32_t bytes) noexcept {
    log& l = current();
    const int index = static_cast<int>(l.allocations.size());
    l.allocations.push_back(bytes);
    if (l.fail_from >= 0 && index >= l.fail_from) return nullptr;
    void* block = std::malloc(bytes);
    std::memset(block, 0xA5, bytes);  // garbage, so that missing initialisation shows
    sizes()[block] = bytes;
    ++l.live;
    return block;
}

void release(void* block) noexcept {
    log& l = current();
    const std::uint32_t size = sizes()[block];
    const auto* p = static_cast<const std::uint8_t*>(block);
    bool zero = true;
    for (std::uint32_t i = 0; i < size; ++i) zero = zero && p[i] == 0;
    l.releases.push_back({size, zero});
    sizes().erase(block);
    --l.live;
    std::free(block);
}
}  // namespace

log& current() noexcept {
    static log l;
    return l;
}

void reset(int fail_from) noexcept {
    current() = log{};
    current().fail_from = fail_from;
}

protocol_buffers::buffer_functions functions() noexcept { return {allocate, release}; }
}  // namespace recording_allocator
