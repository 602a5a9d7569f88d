#pragma once
// The parser's allocator. A load makes thousands of small nodes, attributes and texts at
// once and usually frees them together; the arena carves them out of large chunks one
// after the other instead of taking a heap block for each.
//
// Every piece still lives and dies on its own: it is wiped when it is taken back, and a
// chunk counts the pieces it has handed out and not yet taken back, and goes back to the
// per-thread cache (xml_pool.h) when the count falls to zero. So a node that a client
// moves into another document, or keeps after releasing the rest, behaves as a heap
// block would: nothing released lingers unwiped, and a chunk lives until its last piece
// is gone. The count is atomic: pieces of one chunk may end up in documents used on
// different threads.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "xml/xml_char.h"

struct kvxml_chunk {
    std::atomic<std::uint32_t> live;  // pieces not taken back, plus a hold while filling
    std::uint32_t used;               // bytes handed out, header included (set when the
                                      // arena leaves the chunk)
    int kind;                         // the pool's chunk kind (its size)
};

// Every text array of the arena, and every name in a block with its node or attribute,
// carries in the 8 bytes before its first unit where it lies: the header's offset in
// its chunk, and the bytes of its piece before the header (the node or attribute) and
// from the header on (the text, its NUL and the rounding to 8 bytes).
struct kvxml_piece_header {
    std::uint32_t offset;
    std::uint16_t before;
    std::uint16_t after;
};
static_assert(sizeof(kvxml_piece_header) == 8);

struct kvxml_piece {
    kvxml_chunk* chunk;
    char* begin;
    std::size_t bytes;
};
inline kvxml_piece kvxml_piece_of(const xml_char* text) noexcept {
    char* at = reinterpret_cast<char*>(const_cast<xml_char*>(text)) - sizeof(kvxml_piece_header);
    kvxml_piece_header h;
    std::memcpy(&h, at, sizeof(h));
    return {reinterpret_cast<kvxml_chunk*>(at - h.offset), at - h.before, std::size_t{h.before} + h.after};
}

// Wipes one piece and takes it back from its chunk (its text, or its name in its block).
void kvxml_arena_text_release(const xml_char* text) noexcept;

// Pieces taken back one after the other mostly share a chunk and lie side by side (a
// tree is released in about the order it was built): the batch wipes each run of
// adjacent pieces at once, when the next piece does not join it, and takes the pieces
// back from each chunk at once, when the next piece is from another chunk and at its end.
// A piece is wiped no earlier than the next piece that does not join its run is given:
// its owner may still read it until then.
class kvxml_release_batch {
public:
    kvxml_release_batch() noexcept = default;
    ~kvxml_release_batch() { flush(); }
    kvxml_release_batch(const kvxml_release_batch&) = delete;
    kvxml_release_batch& operator=(const kvxml_release_batch&) = delete;
    // The piece of a text array, or a node's or attribute's block through its name
    // (which counts as two pieces, the block and the name).
    void release(const xml_char* text, std::uint32_t pieces = 1) noexcept {
        char* at = reinterpret_cast<char*>(const_cast<xml_char*>(text)) - sizeof(kvxml_piece_header);
        kvxml_piece_header h;
        std::memcpy(&h, at, sizeof(h));
        if (at - h.before == run_end_) {
            // It continues the run, so it lies in the run's chunk (no piece starts at a
            // chunk's first byte, which is the chunk's own header).
            run_end_ = at + h.after;
            count_ += pieces;
            return;
        }
        take({reinterpret_cast<kvxml_chunk*>(at - h.offset), at - h.before, std::size_t{h.before} + h.after},
             pieces);
    }
    // A block through its name (two pieces) and then a text (null: none). A text whose
    // header lies right at the block's end is in the block's chunk (no piece starts at a
    // chunk's first byte, which is the chunk's own header), so both go in one step.
    void release_block_and_text(const xml_char* name, const xml_char* text) noexcept {
        kvxml_piece piece = kvxml_piece_of(name);
        std::uint32_t pieces = 2;
        if (text) {
            const char* at = reinterpret_cast<const char*>(text) - sizeof(kvxml_piece_header);
            if (at == piece.begin + piece.bytes) {
                kvxml_piece_header h;
                std::memcpy(&h, at, sizeof(h));
                piece.bytes += h.after;
                pieces = 3;
                text = nullptr;
            }
        }
        if (piece.begin == run_end_) {
            run_end_ += piece.bytes;  // continues the run, in the run's chunk (see release)
            count_ += pieces;
        } else {
            take(piece, pieces);
        }
        if (text) release(text);
    }
    void flush() noexcept;

private:
    void take(const kvxml_piece& piece, std::uint32_t pieces) noexcept {
        if (piece.chunk != chunk_) switch_to(piece.chunk);
        count_ += pieces;
        if (piece.begin == run_end_) {
            run_end_ += piece.bytes;
        } else if (piece.begin + piece.bytes == run_begin_) {
            run_begin_ = piece.begin;
        } else {
            wipe_run();
            run_begin_ = piece.begin;
            run_end_ = piece.begin + piece.bytes;
        }
    }
    void switch_to(kvxml_chunk* chunk) noexcept;
    void wipe_run() noexcept;

    kvxml_chunk* chunk_ = nullptr;
    char* run_begin_ = nullptr;  // the run of adjacent pieces not yet wiped
    char* run_end_ = nullptr;
    std::uint32_t count_ = 0;
};

// Copies n units into an arena array (or any array). Short runs, most names and values,
// as two overlapping moves of a fixed size, without a call or a loop; the moves read and
// write only [src, src + n) and [dst, dst + n).
inline void kvxml_copy_units(xml_char* dst, const xml_char* src, std::int32_t n) noexcept {
    const std::size_t bytes = static_cast<std::size_t>(n) * sizeof(xml_char);
    char* d = reinterpret_cast<char*>(dst);
    const char* s = reinterpret_cast<const char*>(src);
    if (bytes < 4) {
        if (bytes != 0) std::memcpy(d, s, 2);
    } else if (bytes < 8) {
        std::memcpy(d, s, 4);
        std::memcpy(d + bytes - 4, s + bytes - 4, 4);
    } else if (bytes < 16) {
        std::memcpy(d, s, 8);
        std::memcpy(d + bytes - 8, s + bytes - 8, 8);
    } else if (bytes <= 32) {
        std::memcpy(d, s, 16);
        std::memcpy(d + bytes - 16, s + bytes - 16, 16);
    } else {
        std::memcpy(d, s, bytes);
    }
}

class kvxml_arena {
public:
    kvxml_arena() noexcept = default;
    ~kvxml_arena() { leave(); }
    kvxml_arena(const kvxml_arena&) = delete;
    kvxml_arena& operator=(const kvxml_arena&) = delete;

    // n bytes aligned to 8 (n > 0), counted as one piece of the chunk returned in `chunk`;
    // std::bad_alloc when memory runs out. Without a chunk top_ and limit_ are equal, so
    // the first call takes one.
    // A block holding several pieces (a node and its name) counts each of them.
    void* allocate(std::size_t n, kvxml_chunk*& chunk, std::uint32_t pieces = 1) {
        n = (n + 7) & ~std::size_t{7};
        if (n > static_cast<std::size_t>(limit_ - top_)) next_chunk(n);
        void* p = top_;
        top_ += n;
        handed_ += pieces;
        chunk = current_;
        return p;
    }
    // Texts longer than this stay out of the arena (they take a heap block of their own).
    static constexpr std::int32_t largest_text = 8192;
    static_assert(sizeof(kvxml_piece_header) + (largest_text + 1) * sizeof(xml_char) + 7 <= 0xFFFF,
                  "a text's piece fits its header's 16-bit size");
    // An array for `units` units and a NUL, to be released with kvxml_arena_text_release;
    // null when units exceeds largest_text.
    xml_char* allocate_text(std::int32_t units) {
        if (units > largest_text) return nullptr;
        kvxml_chunk* chunk = nullptr;
        const std::size_t bytes = text_bytes(units);
        char* p = static_cast<char*>(allocate(bytes, chunk));
        write_header(p, chunk, 0, bytes);
        return reinterpret_cast<xml_char*>(p + sizeof(kvxml_piece_header));
    }
    // A T followed by a text of `units` units (and a NUL) in one block; the text (stored
    // at *text) is released on its own with kvxml_arena_text_release. Null when units
    // exceeds largest_text.
    template <typename T>
    void* allocate_with_text(std::int32_t units, kvxml_chunk*& chunk, xml_char*& text) {
        if (units > largest_text) return nullptr;
        constexpr std::size_t head = (sizeof(T) + 7) & ~std::size_t{7};
        const std::size_t bytes = text_bytes(units);
        char* p = static_cast<char*>(allocate(head + bytes, chunk, 2));
        write_header(p + head, chunk, head, bytes);
        text = reinterpret_cast<xml_char*>(p + head + sizeof(kvxml_piece_header));
        return p;
    }

private:
    // A text's header and units with the NUL, rounded to 8 bytes (at most 16400 bytes).
    static std::size_t text_bytes(std::int32_t units) noexcept {
        return (sizeof(kvxml_piece_header) + (static_cast<std::size_t>(units) + 1) * sizeof(xml_char) + 7) &
               ~std::size_t{7};
    }
    static void write_header(char* at, kvxml_chunk* chunk, std::size_t before, std::size_t after) noexcept {
        const kvxml_piece_header h{static_cast<std::uint32_t>(at - reinterpret_cast<char*>(chunk)),
                                   static_cast<std::uint16_t>(before), static_cast<std::uint16_t>(after)};
        std::memcpy(at, &h, sizeof(h));
    }
    void next_chunk(std::size_t n);
    void leave() noexcept;  // drops the hold on the current chunk

    kvxml_chunk* current_ = nullptr;
    char* top_ = nullptr;    // the current chunk's next free byte
    char* limit_ = nullptr;  // its end
    std::uint32_t handed_ = 0;  // pieces of the current chunk handed out
    int next_kind_ = 2;  // 16 KB first: the whole tree of a call of a few KB
};
