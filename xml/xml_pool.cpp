#include "xml/xml_pool.h"

#include <cstdlib>

#include "foundation/kv_memory.h"

// Under AddressSanitizer the cache marks what nobody may touch: a cached block whole, and
// the rounding slack past the bytes a user asked for. So a read or write after release,
// or past the end of a node, attribute or text array, is reported as it would be without
// the cache.
#if defined(__SANITIZE_ADDRESS__)
#define KVXML_POOL_POISONS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KVXML_POOL_POISONS 1
#endif
#endif
#if defined(KVXML_POOL_POISONS)
#include <sanitizer/asan_interface.h>
#define KVXML_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define KVXML_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
// The cache links its blocks through their (poisoned) first bytes. LeakSanitizer skips
// pointers in poisoned memory unless told otherwise, and would then report every cached
// block after the first of each list as leaked.
extern "C" const char* __lsan_default_options() { return "use_poisoned=1"; }
#else
#define KVXML_POISON(p, n) static_cast<void>(0)
#define KVXML_UNPOISON(p, n) static_cast<void>(0)
#endif

namespace {
constexpr std::size_t granule = 16;
constexpr std::size_t classes = 16;  // blocks of up to 256 bytes are cached

struct free_block {
    free_block* next;
};

// Plain data, zero at thread start and never destroyed by the language runtime: the
// mingw-w64 runtime has been seen to run thread_local destructors after freeing the
// object's storage. The platform layer empties the cache at thread end instead.
struct thread_cache {
    free_block* lists[classes + 1];
    free_block* chunks[kvxml_chunk_kinds];
    std::size_t cached;  // bytes held
    bool started;        // the thread-end hook has been asked for
    bool closed;         // emptied at thread end: blocks go straight back to the heap
};
thread_local thread_cache cache;

inline std::size_t class_of(std::size_t n) noexcept { return (n + granule - 1) / granule; }
}  // namespace

void (*kvxml_pool_thread_start)() noexcept = nullptr;

std::size_t kvxml_pool_round(std::size_t n) noexcept {
    const std::size_t cls = class_of(n);
    return (cls == 0 || cls > classes) ? n : cls * granule;
}

void* kvxml_pool_alloc(std::size_t n) noexcept {
    const std::size_t cls = class_of(n);
    if (cls == 0 || cls > classes) return std::malloc(n ? n : 1);
    thread_cache& c = cache;
    void* block = c.lists[cls];
    if (block) {
        KVXML_UNPOISON(block, cls * granule);
        c.lists[cls] = static_cast<free_block*>(block)->next;
        static_cast<free_block*>(block)->next = nullptr;  // a reused block comes back all zero
        c.cached -= cls * granule;
    } else {
        block = std::malloc(cls * granule);
        if (!block) return nullptr;
    }
    KVXML_POISON(static_cast<char*>(block) + n, cls * granule - n);
    return block;
}

namespace {
// Whether a wiped block of `bytes` may go into the cache; starts the thread-end hook.
bool may_cache(thread_cache& c, std::size_t bytes) noexcept {
    if (c.closed || c.cached + bytes > kvxml_pool_limit) return false;
    if (!c.started) {
        c.started = true;
        if (kvxml_pool_thread_start) kvxml_pool_thread_start();
    }
    return true;
}
}  // namespace

void* kvxml_pool_alloc_chunk(int kind) noexcept {
    const std::size_t bytes = kvxml_chunk_bytes(kind);
    thread_cache& c = cache;
    void* block = c.chunks[kind];
    if (!block) return std::malloc(bytes);
    KVXML_UNPOISON(block, bytes);
    c.chunks[kind] = static_cast<free_block*>(block)->next;
    static_cast<free_block*>(block)->next = nullptr;
    c.cached -= bytes;
    return block;
}

void kvxml_pool_free_chunk(void* p, int kind) noexcept {
    if (!p) return;
    const std::size_t bytes = kvxml_chunk_bytes(kind);
    KVXML_UNPOISON(p, bytes);
    thread_cache& c = cache;
    if (!may_cache(c, bytes)) {
        std::free(p);
        return;
    }
    auto* b = static_cast<free_block*>(p);
    b->next = c.chunks[kind];
    c.chunks[kind] = b;
    c.cached += bytes;
    KVXML_POISON(p, bytes);
}

void kvxml_pool_free(void* p, std::size_t n) noexcept {
    if (!p) return;
    const std::size_t cls = class_of(n);
    thread_cache& c = cache;
    if (cls == 0 || cls > classes || !may_cache(c, cls * granule)) {
        KVXML_UNPOISON(p, kvxml_pool_round(n));
        kv_memory::wipe(p, kvxml_pool_round(n));
        std::free(p);
        return;
    }
    KVXML_UNPOISON(p, cls * granule);
    kv_memory::wipe(p, cls * granule);
    auto* b = static_cast<free_block*>(p);
    b->next = c.lists[cls];
    c.lists[cls] = b;
    c.cached += cls * granule;
    KVXML_POISON(p, cls * granule);
}

void kvxml_pool_release_thread_cache() noexcept {
    thread_cache& c = cache;
    c.closed = true;
    auto free_list = [](free_block*& head) {
        while (head) {
            KVXML_UNPOISON(head, sizeof(free_block));
            free_block* next = head->next;
            std::free(head);
            head = next;
        }
    };
    for (free_block*& head : c.lists) free_list(head);
    for (free_block*& head : c.chunks) free_list(head);
    c.cached = 0;
}

std::size_t kvxml_pool_cached_bytes() noexcept { return cache.cached; }
