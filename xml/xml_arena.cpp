#include "xml/xml_arena.h"

#include <cstring>
#include <new>

#include "foundation/kv_memory.h"
#include "xml/xml_buffer.h"
#include "xml/xml_pool.h"

namespace {
// While the arena fills a chunk its count stands this high, so that pieces taken back
// meanwhile never bring it to zero; leaving the chunk trades the hold for the count of
// pieces handed out.
constexpr std::uint32_t filling_hold = 0x80000000u;
constexpr std::size_t header_bytes = (sizeof(kvxml_chunk) + 7) & ~std::size_t{7};

// The pieces were wiped as they were taken back; the chunk's header holds no text.
void chunk_drop(kvxml_chunk* chunk, std::uint32_t count) noexcept {
    if (chunk->live.fetch_sub(count, std::memory_order_acq_rel) != count) return;
    const int kind = chunk->kind;
    chunk->~kvxml_chunk();
    kvxml_pool_free_chunk(chunk, kind);
}
}  // namespace

void kvxml_arena_text_release(const xml_char* text) noexcept {
    const kvxml_piece piece = kvxml_piece_of(text);
    kv_memory::wipe(piece.begin, piece.bytes);
    chunk_drop(piece.chunk, 1);
}

void kvxml_release_batch::wipe_run() noexcept {
    if (run_end_ != run_begin_) kv_memory::wipe(run_begin_, static_cast<std::size_t>(run_end_ - run_begin_));
    run_begin_ = run_end_ = nullptr;
}

void kvxml_release_batch::flush() noexcept {
    // Wiped before the count falls: at zero the chunk may be reused at once.
    wipe_run();
    if (count_) chunk_drop(chunk_, count_);
    chunk_ = nullptr;
    count_ = 0;
}

void kvxml_release_batch::switch_to(kvxml_chunk* chunk) noexcept {
    flush();
    chunk_ = chunk;
}

void kvxml_arena::next_chunk(std::size_t n) {
    leave();
    // Chunks double from the first kind up to the largest, so a small envelope takes
    // one small chunk and a large one few large ones; a piece larger than the largest
    // chunk asks for nothing here (the caller keeps such pieces out of the arena).
    int kind = next_kind_;
    while (kind + 1 < kvxml_chunk_kinds && header_bytes + n > kvxml_chunk_bytes(kind)) ++kind;
    if (header_bytes + n > kvxml_chunk_bytes(kind)) throw std::bad_alloc();
    void* block = kvxml_pool_alloc_chunk(kind);
    if (!block) throw std::bad_alloc();
    current_ = new (block) kvxml_chunk{{filling_hold}, static_cast<std::uint32_t>(header_bytes), kind};
    top_ = static_cast<char*>(block) + header_bytes;
    limit_ = static_cast<char*>(block) + kvxml_chunk_bytes(kind);
    handed_ = 0;
    if (next_kind_ + 1 < kvxml_chunk_kinds) ++next_kind_;
}

void kvxml_arena::leave() noexcept {
    if (!current_) return;
    kvxml_chunk* chunk = current_;
    chunk->used = static_cast<std::uint32_t>(top_ - reinterpret_cast<char*>(chunk));
    current_ = nullptr;
    top_ = limit_ = nullptr;
    // Trade the hold for the pieces handed out, in one step: live becomes handed_ minus
    // those already taken back, and the chunk goes when that is zero. (handed_ is below
    // the hold, and the count's arithmetic wraps as the trade needs.)
    chunk_drop(chunk, filling_hold - handed_);
}
