#include "xml/xml_pool.h"

#include <cstdlib>

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
    if (free_block* b = c.lists[cls]) {
        c.lists[cls] = b->next;
        c.cached -= cls * granule;
        return b;
    }
    return std::malloc(cls * granule);
}

void kvxml_pool_free(void* p, std::size_t n) noexcept {
    if (!p) return;
    const std::size_t cls = class_of(n);
    thread_cache& c = cache;
    if (cls == 0 || cls > classes || c.closed || c.cached + cls * granule > kvxml_pool_limit) {
        std::free(p);
        return;
    }
    if (!c.started) {
        c.started = true;
        if (kvxml_pool_thread_start) kvxml_pool_thread_start();
    }
    auto* b = static_cast<free_block*>(p);
    b->next = c.lists[cls];
    c.lists[cls] = b;
    c.cached += cls * granule;
}

void kvxml_pool_release_thread_cache() noexcept {
    thread_cache& c = cache;
    c.closed = true;
    for (free_block*& head : c.lists) {
        while (head) {
            free_block* next = head->next;
            std::free(head);
            head = next;
        }
    }
    c.cached = 0;
}

std::size_t kvxml_pool_cached_bytes() noexcept { return cache.cached; }
