#pragma once
// Heap buffers for texts that must not linger in memory: every block comes from one
// process-wide allocator pair and is overwritten with zeros by its owner before it is
// released. Tests install a recording pair to check the bytes at release time.
#include <cstddef>

namespace kv_memory {

// The allocator pair behind every text buffer of the foundation. `allocate` returns a
// block of at least `bytes` bytes or throws std::bad_alloc; `release` takes it back.
struct allocator_hooks {
    void* (*allocate)(std::size_t bytes);
    void (*release)(void* block) noexcept;
};

// Installs a pair (for tests only) and returns the previous one. Passing a pair with a
// null member restores the default (operator new / operator delete).
allocator_hooks install_allocator(allocator_hooks hooks) noexcept;

// A zero-filled block of `bytes` bytes. A request of SIZE_MAX (the result of an
// overflowing size computation) always fails with std::bad_alloc.
void* allocate_zeroed(std::size_t bytes);

// Overwrites `bytes` bytes with zeros in a way the optimiser cannot drop.
void wipe(void* block, std::size_t bytes) noexcept;

// Returns a block to the allocator without touching it (null is ignored).
void release(void* block) noexcept;

// Wipes the first `bytes` bytes of the block, then releases it (null is ignored).
void wipe_and_release(void* block, std::size_t bytes) noexcept;

// Size arithmetic that saturates at SIZE_MAX instead of wrapping, so an overflowing
// computation turns into a request that fails with std::bad_alloc.
constexpr std::size_t size_max = static_cast<std::size_t>(-1);
constexpr std::size_t add_sizes(std::size_t a, std::size_t b) noexcept {
    return a > size_max - b ? size_max : a + b;
}
constexpr std::size_t multiply_sizes(std::size_t a, std::size_t b) noexcept {
    return b != 0 && a > size_max / b ? size_max : a * b;
}

// A scratch array of `count` zero-filled elements, wiped over its whole size and
// released when it goes out of scope.
template <typename T>
class wiped_buffer {
public:
    explicit wiped_buffer(std::size_t count)
        : count_(count), data_(static_cast<T*>(allocate_zeroed(multiply_sizes(count, sizeof(T))))) {}
    ~wiped_buffer() { wipe_and_release(data_, count_ * sizeof(T)); }
    wiped_buffer(const wiped_buffer&) = delete;
    wiped_buffer& operator=(const wiped_buffer&) = delete;
    T* data() const noexcept { return data_; }
    std::size_t count() const noexcept { return count_; }
private:
    std::size_t count_;
    T* data_;
};

}  // namespace kv_memory
