// The recording allocator through both of its seams: what it logs, wiped and unwiped
// releases, failure from a chosen allocation on, and blocks from before the recording.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>

#include "foundation/kv_memory.h"
#include "tests/support/recording_allocator.h"

namespace {
struct pair_table {
    void* (*allocate)(std::uint32_t) noexcept = nullptr;
    void (*release)(void*) noexcept = nullptr;
};

TEST(RecordingAllocator, LogsSizesAndWhetherEachReleasedBlockWasZero) {
    recording_allocator::reset();
    const pair_table functions = recording_allocator::functions();
    void* wiped = functions.allocate(16);
    void* dirty = functions.allocate(3);
    ASSERT_TRUE(wiped && dirty);
    EXPECT_EQ(static_cast<unsigned char*>(dirty)[0], 0xA5) << "new blocks are not zero";
    std::memset(wiped, 0, 16);
    functions.release(wiped);
    functions.release(dirty);
    const recording_allocator::log log = recording_allocator::current();
    EXPECT_EQ(log.allocations, (std::vector<std::size_t>{16, 3}));
    ASSERT_EQ(log.releases.size(), 2u);
    EXPECT_TRUE(log.releases[0].all_zero);
    EXPECT_FALSE(log.releases[1].all_zero);
    EXPECT_EQ(log.releases[1].size, 3u);
    EXPECT_EQ(log.live, 0u);
}

TEST(RecordingAllocator, AllocationsFailFromTheChosenIndexOn) {
    recording_allocator::reset(1);
    void* first = recording_allocator::allocate(8);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(recording_allocator::allocate(8), nullptr);
    EXPECT_EQ(recording_allocator::allocate(8), nullptr);
    recording_allocator::release(first);
    EXPECT_EQ(recording_allocator::current().allocations.size(), 3u) << "failed attempts are logged too";
    EXPECT_EQ(recording_allocator::current().live, 0u);
}

TEST(RecordingAllocator, RecordsKvMemoryWhileItLives) {
    void* before = kv_memory::allocate_zeroed(4);  // from the default pair
    {
        recording_allocator recorder;
        void* block = kv_memory::allocate_zeroed(10);
        static_cast<char*>(block)[9] = 'x';
        kv_memory::release(block);
        void* one = kv_memory::allocate_zeroed(1);
        *static_cast<char*>(one) = 'x';
        kv_memory::wipe_and_release(one, 1);
        {
            kv_memory::wiped_buffer<char16_t> text(3);  // wiped whole: 6 bytes
            text.data()[2] = u'x';
        }
        kv_memory::release(before);  // freed, not logged: it is not one of ours
        EXPECT_EQ(recorder.allocated_sizes(), (std::vector<std::size_t>{10, 1, 6}));
        EXPECT_EQ(recorder.unwiped_releases(), std::vector<std::size_t>{10});
        EXPECT_EQ(recorder.releases(), 3u);
        EXPECT_EQ(recorder.live_blocks(), 0u);
    }
    kv_memory::release(kv_memory::allocate_zeroed(4));  // the default pair is back
}

TEST(RecordingAllocator, AFailingKvMemoryAllocationThrowsBadAlloc) {
    // An allocator that fails, and the size an overflowing computation gives, which
    // never reaches the allocator.
    const struct { int fail_from; std::size_t bytes; std::size_t attempts; } rows[] = {
        {0, 8, 1}, {-1, kv_memory::size_max, 0}, {-1, kv_memory::multiply_sizes(kv_memory::size_max / 2, 3), 0},
    };
    for (const auto& row : rows) {
        recording_allocator recorder;
        recording_allocator::reset(row.fail_from);
        EXPECT_THROW(kv_memory::allocate_zeroed(row.bytes), std::bad_alloc) << row.bytes;
        EXPECT_EQ(recorder.allocated_sizes().size(), row.attempts) << row.bytes;
    }
}
}  // namespace
