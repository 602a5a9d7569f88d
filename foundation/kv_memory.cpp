#include "foundation/kv_memory.h"

#include <atomic>
#include <cstring>
#include <new>

namespace kv_memory {
namespace {
void* default_allocate(std::size_t bytes) { return ::operator new(bytes); }
void default_release(void* block) noexcept { ::operator delete(block); }

std::atomic<void* (*)(std::size_t)> current_allocate{&default_allocate};
std::atomic<void (*)(void*) noexcept> current_release{&default_release};
}  // namespace

allocator_hooks install_allocator(allocator_hooks hooks) noexcept {
    if (!hooks.allocate || !hooks.release) hooks = {&default_allocate, &default_release};
    allocator_hooks previous{current_allocate.load(), current_release.load()};
    current_allocate.store(hooks.allocate);
    current_release.store(hooks.release);
    return previous;
}

void* allocate_zeroed(std::size_t bytes) {
    if (bytes == size_max) throw std::bad_alloc();
    void* block = current_allocate.load()(bytes);
    std::memset(block, 0, bytes);
    return block;
}

void wipe(void* block, std::size_t bytes) noexcept {
    if (!block || bytes == 0) return;
    std::memset(block, 0, bytes);
    // The block is usually released or leaves scope right after; the barrier makes the
    // compiler assume the zeros are read, so the stores are never dropped as dead.
#if defined(__GNUC__) || defined(__clang__)
    __asm__ __volatile__("" : : "r"(block) : "memory");
#else
    volatile unsigned char* p = static_cast<volatile unsigned char*>(block);
    for (std::size_t i = 0; i < bytes; ++i) p[i] = 0;
#endif
}

void release(void* block) noexcept {
    if (block) current_release.load()(block);
}

void wipe_and_release(void* block, std::size_t bytes) noexcept {
    if (!block) return;
    wipe(block, bytes);
    release(block);
}

}  // namespace kv_memory
