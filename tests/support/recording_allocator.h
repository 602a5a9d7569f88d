#pragma once
// The recording allocator of the tests: it logs the size of every block it hands out and,
// when a block comes back, whether all its bytes were already zero (the check runs inside
// the release call, before the block is freed: freed memory is never read). New blocks
// are filled with 0xA5, so that missing initialisation shows. From the allocation of a
// chosen index on, allocations fail.
//
// One log for the whole process, since the seams take plain function pointers:
//   - functions(): the allocate/release pair with 32-bit sizes (protocol-buffers writer,
//     driver frames); reset() clears the log, current() reads it;
//   - a recording_allocator object: kv_memory's allocator while it lives (the log cleared
//     when it is created), read through its members.
// Platform-free.
#include "foundation/kv_memory.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class recording_allocator {
public:
    struct released_block {
        std::size_t size;
        bool all_zero;
    };
    struct log {
        std::vector<std::size_t> allocations;  // sizes, in order
        std::vector<released_block> releases;  // in order
        std::size_t live = 0;                  // allocated, not yet released
        int fail_from = -1;                    // allocations of this index (0-based) and later fail; -1 never
    };

    // A pair of plain function pointers that converts to any table of them (for example
    // protocol_buffers::buffer_functions).
    struct function_pair {
        void* (*allocate)(std::uint32_t bytes) noexcept;
        void (*release)(void* block) noexcept;
        template <class Functions>
            requires requires(Functions f) { f.allocate = allocate; f.release = release; }
        operator Functions() const noexcept {
            Functions f{};
            f.allocate = allocate;
            f.release = release;
            return f;
        }
    };

    // A copy of the log, taken under its lock.
    static log current();
    // Clears the log; allocations from index fail_from on return null.
    static void reset(int fail_from = -1);
    static function_pair functions() noexcept;
    // Null once the failure index is reached.
    static void* allocate(std::size_t bytes) noexcept;
    static void release(void* block) noexcept;

    // kv_memory's allocator while the object lives; a failing allocation throws
    // std::bad_alloc there, as the default one does.
    recording_allocator();
    ~recording_allocator();
    recording_allocator(const recording_allocator&) = delete;
    recording_allocator& operator=(const recording_allocator&) = delete;

    std::vector<std::size_t> allocated_sizes() const { return current().allocations; }
    // Sizes of the released blocks that still held a non-zero byte.
    std::vector<std::size_t> unwiped_releases() const;
    std::size_t releases() const { return current().releases.size(); }
    std::size_t live_blocks() const { return current().live; }
    void clear_log() { reset(); }

private:
    kv_memory::allocator_hooks previous_{};
};
