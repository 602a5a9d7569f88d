#pragma once
// A per-thread cache of small freed heap blocks for documents, the tree's nodes and
// attributes, and fresh text arrays. A tree is thousands of small blocks made and freed together;
// reusing them keeps the heap from decommitting and recommitting its pages on every
// load (costly on Windows and Wine heaps). Every block is an ordinary malloc block, so
// realloc and free work on it; the cache only delays free(). It is per thread (no
// locks, nothing shared), holds at most kvxml_pool_limit bytes and is emptied when the
// thread ends (the platform layer installs kvxml_pool_thread_start for that). Blocks may be freed on another thread than the one that made them.
// Call envelopes and results may carry secrets: every block given back is overwritten
// with zeros before it goes to the cache or to the heap.
#include <cstddef>

// Bytes cached per thread: the blocks of a 1 MB envelope made only of the smallest
// elements ("<a/>", about 15 MB), so that even such a text is loaded from the cache.
// The cache only ever holds blocks of trees the thread has already built.
inline constexpr std::size_t kvxml_pool_limit = 16u << 20;

// A block of at least n bytes (malloc'ed); null when memory runs out.
void* kvxml_pool_alloc(std::size_t n) noexcept;
// The size a block of n bytes really gets, so a block reallocated to n bytes can later be
// cached in the class of n.
std::size_t kvxml_pool_round(std::size_t n) noexcept;
// Wipes and gives back a block obtained with kvxml_pool_alloc(n) (or malloc(n) rounded
// the same way).
void kvxml_pool_free(void* p, std::size_t n) noexcept;

// The parser's chunks (xml_arena.h): blocks of kvxml_chunk_bytes(k) bytes, k below
// kvxml_chunk_kinds, cached per thread like the small blocks. The arena wipes every piece
// of a chunk as it is taken back, so a chunk comes back already wiped (its header holds
// only counts) and is not wiped again here.
inline constexpr int kvxml_chunk_kinds = 7;
constexpr std::size_t kvxml_chunk_bytes(int kind) noexcept { return std::size_t{4096} << kind; }
// A block of kvxml_chunk_bytes(kind) bytes; null when memory runs out.
void* kvxml_pool_alloc_chunk(int kind) noexcept;
void kvxml_pool_free_chunk(void* p, int kind) noexcept;

// Called on a thread the first time it caches a block; the platform layer sets it to
// arrange for kvxml_pool_release_thread_cache at the end of the thread.
extern void (*kvxml_pool_thread_start)() noexcept;
// Frees every block cached by the calling thread; later frees on it bypass the cache.
void kvxml_pool_release_thread_cache() noexcept;
// Bytes the calling thread holds in its cache.
std::size_t kvxml_pool_cached_bytes() noexcept;
