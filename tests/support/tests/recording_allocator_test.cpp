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
        kv_memory::wipe_and_release(kv_memory::allocate_zeroed(5), 5);
        kv_memory::release(before);  // freed, not logged: it is not one of ours
        EXPECT_EQ(recorder.allocated_sizes(), (std::vector<std::size_t>{10, 5}));
        EXPECT_EQ(recorder.unwiped_releases(), std::vector<std::size_t>{10});
        EXPECT_EQ(recorder.releases(), 2u);
        EXPECT_EQ(recorder.live_blocks(), 0u);
    }
    kv_memory::release(kv_memory::allocate_zeroed(4));  // the default pair is back
}

TEST(RecordingAllocator, AFailingKvMemoryAllocationThrowsBadAlloc) {
    recording_allocator recorder;
    recording_allocator::reset(0);
    EXPECT_THROW(kv_memory::allocate_zeroed(8), std::bad_alloc);
}
}  // namespace
