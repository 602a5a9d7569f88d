#pragma once
// A buffer_functions pair for tests: allocations come from malloc, are recorded, and every
// release records whether the whole block was zero at that moment. One global log, since
// the functions are plain function pointers.
#include <cstdint>
#include <vector>

#include "vault/protocol_buffers_writer.h"

namespace recording_allocator {
struct released_block {
    std::uint32_t size;
    bool all_zero;
};
struct log {
    std::vector<std::uint32_t> allocations;
    std::vector<released_block> releases;
    unsigned live = 0;
    // Allocations of this index (0-based) and later fail; -1 never.
    int fail_from = -1;
};

log& current() noexcept;
// Clears the log; allocations from fail_from on return null.
void reset(int fail_from = -1) noexcept;
protocol_buffers::buffer_functions functions() noexcept;
}  // namespace recording_allocator
