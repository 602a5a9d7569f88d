#pragma once
// Heap buffers for texts, keys and requests that must not linger in memory: the one
// wipe primitive, the allocator pair behind the foundation's text buffers, and the one
// owner of a buffer that is wiped before it goes back. Tests install a recording pair to
// check the bytes at release time. Platform-free: the platform-free cores use it too.
#include <cstddef>
#include <utility>

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

// Overwrites `bytes` bytes with zeros in a way the optimiser cannot drop, even when the
// memory is released or goes out of scope right after. The only wipe of the system.
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

// The owner of an array of `size` elements that held a text, a key or a request: the
// whole array is overwritten with zeros (wipe) before it goes back to its release
// function, however the owner ends (reset, destruction, assignment over it).
template <typename T>
class wiped_buffer {
public:
    using release_function = void (*)(void* block) noexcept;

    wiped_buffer() noexcept = default;
    // `count` zero-filled elements from the foundation's allocator; std::bad_alloc when
    // the memory cannot be had or the size overflows.
    explicit wiped_buffer(std::size_t count)
        : data_(static_cast<T*>(allocate_zeroed(multiply_sizes(count, sizeof(T))))), size_(count),
          release_(&kv_memory::release) {}
    // Takes over `count` elements at `data` (null gives an empty owner), to be handed to
    // `release` after the wipe.
    wiped_buffer(T* data, std::size_t count, release_function release) noexcept
        : data_(data), size_(data ? count : 0), release_(release) {}
    wiped_buffer(wiped_buffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
          release_(other.release_) {}
    wiped_buffer& operator=(wiped_buffer&& other) noexcept {
        if (this != &other) {
            reset();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            release_ = other.release_;
        }
        return *this;
    }
    wiped_buffer(const wiped_buffer&) = delete;
    wiped_buffer& operator=(const wiped_buffer&) = delete;
    ~wiped_buffer() { reset(); }

    // Wipes all size() elements and gives the array back; the owner is empty afterwards.
    void reset() noexcept {
        if (data_) {
            wipe(data_, size_ * sizeof(T));
            if (release_) release_(data_);
        }
        data_ = nullptr;
        size_ = 0;
    }
    T* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    explicit operator bool() const noexcept { return data_ != nullptr; }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
    release_function release_ = nullptr;
};

}  // namespace kv_memory
