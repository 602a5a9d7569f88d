#include "tests/support/recording_allocator.h"

#include <cstring>
#include <map>
#include <mutex>
#include <new>

namespace {
struct state {
    std::mutex mutex;
    recording_allocator::log log;
    std::map<void*, std::size_t> sizes;  // of the live blocks we handed out
};
state& shared() {
    static state s;
    return s;
}

void* allocate_32(std::uint32_t bytes) noexcept { return recording_allocator::allocate(bytes); }

void* allocate_or_throw(std::size_t bytes) {
    void* block = recording_allocator::allocate(bytes);
    if (!block) throw std::bad_alloc();
    return block;
}
}  // namespace

recording_allocator::log recording_allocator::current() {
    std::lock_guard lock(shared().mutex);
    return shared().log;
}

void recording_allocator::reset(int fail_from) {
    std::lock_guard lock(shared().mutex);
    shared().log = log{};
    shared().log.fail_from = fail_from;
}

recording_allocator::function_pair recording_allocator::functions() noexcept { return {&allocate_32, &release}; }

void* recording_allocator::allocate(std::size_t bytes) noexcept {
    state& s = shared();
    std::lock_guard lock(s.mutex);
    const int index = static_cast<int>(s.log.allocations.size());
    s.log.allocations.push_back(bytes);
    if (s.log.fail_from >= 0 && index >= s.log.fail_from) return nullptr;
    // operator new, like kv_memory's default pair, so a block may cross an installation.
    void* block = ::operator new(bytes, std::nothrow);
    if (!block) return nullptr;
    std::memset(block, 0xA5, bytes);
    s.sizes[block] = bytes;
    ++s.log.live;
    return block;
}

void recording_allocator::release(void* block) noexcept {
    if (!block) return;
    {
        state& s = shared();
        std::lock_guard lock(s.mutex);
        const auto it = s.sizes.find(block);
        if (it != s.sizes.end()) {  // blocks from before the recording are only freed
            const auto* p = static_cast<const unsigned char*>(block);
            bool zero = true;
            for (std::size_t i = 0; i < it->second && zero; ++i) zero = p[i] == 0;
            s.log.releases.push_back({it->second, zero});
            s.sizes.erase(it);
            --s.log.live;
        }
    }
    ::operator delete(block);
}

recording_allocator::recording_allocator() {
    reset();
    previous_ = kv_memory::install_allocator({&allocate_or_throw, &release});
}

recording_allocator::~recording_allocator() { kv_memory::install_allocator(previous_); }

std::vector<std::size_t> recording_allocator::unwiped_releases() const {
    std::vector<std::size_t> sizes;
    for (const released_block& block : current().releases)
        if (!block.all_zero) sizes.push_back(block.size);
    return sizes;
}
