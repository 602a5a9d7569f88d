#pragma once
// A recording allocator for the kv_memory seam: it logs every block's size and, when a
// block comes back, checks whether all its bytes were already zero. Freed memory is
// never read: the check happens inside the release call, before the block is freed.
#include "foundation/kv_memory.h"

#include <cstddef>
#include <map>
#include <mutex>
#include <new>
#include <vector>

class recording_allocator {
public:
    recording_allocator() { previous_ = kv_memory::install_allocator({&allocate, &release}); active() = this; }
    ~recording_allocator() {
        kv_memory::install_allocator(previous_);
        active() = nullptr;
    }
    recording_allocator(const recording_allocator&) = delete;
    recording_allocator& operator=(const recording_allocator&) = delete;

    // Sizes of the blocks allocated so far, in order.
    std::vector<std::size_t> allocated_sizes() const { std::lock_guard lock(mutex_); return allocated_; }
    // Sizes of the released blocks that still held a non-zero byte.
    std::vector<std::size_t> unwiped_releases() const { std::lock_guard lock(mutex_); return unwiped_; }
    std::size_t releases() const { std::lock_guard lock(mutex_); return releases_; }
    std::size_t live_blocks() const { std::lock_guard lock(mutex_); return live_.size(); }
    void clear_log() { std::lock_guard lock(mutex_); allocated_.clear(); unwiped_.clear(); releases_ = 0; }

private:
    static recording_allocator*& active() { static recording_allocator* instance = nullptr; return instance; }

    static void* allocate(std::size_t bytes) {
        // operator new, like the default pair, so a block may cross the installation.
        void* block = ::operator new(bytes);
        recording_allocator* self = active();
        std::lock_guard lock(self->mutex_);
        self->allocated_.push_back(bytes);
        self->live_[block] = bytes;
        return block;
    }
    static void release(void* block) noexcept {
        recording_allocator* self = active();
        {
            std::lock_guard lock(self->mutex_);
            ++self->releases_;
            auto it = self->live_.find(block);
            if (it != self->live_.end()) {
                const unsigned char* bytes = static_cast<const unsigned char*>(block);
                for (std::size_t i = 0; i < it->second; ++i) {
                    if (bytes[i] != 0) { self->unwiped_.push_back(it->second); break; }
                }
                self->live_.erase(it);
            }
        }
        ::operator delete(block);
    }

    kv_memory::allocator_hooks previous_{};
    mutable std::mutex mutex_;
    std::vector<std::size_t> allocated_;
    std::vector<std::size_t> unwiped_;
    std::size_t releases_ = 0;
    std::map<void*, std::size_t> live_;
};
