#pragma once
// The parser's allocator. A load makes thousands of small nodes, attributes and texts at
// once and usually frees them together; the arena carves them out of large chunks one
// after the other instead of taking a heap block for each.
//
// Every piece still lives and dies on its own: a chunk counts the pieces it has handed
// out and not yet taken back, and goes back to the per-thread cache (xml_pool.h) when
// the count falls to zero, with every byte it handed out wiped. So a node that a client
// moves into another document, or releases early, behaves as a heap block would; its
// chunk lives until its last piece is gone. The count is atomic: pieces of one chunk may
// end up in documents used on different threads.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "xml/xml_char.h"

struct kvxml_chunk {
    std::atomic<std::uint32_t> live;  // pieces not taken back, plus a hold while filling
    std::uint32_t used;               // bytes handed out, header included
    int kind;                         // the pool's chunk kind (its size)
};

// Takes one piece back from its chunk.
void kvxml_chunk_release(kvxml_chunk* chunk) noexcept;

// Text arrays carry their chunk in the 8 bytes before their first unit.
inline kvxml_chunk* kvxml_text_chunk(const xml_char* text) noexcept {
    kvxml_chunk* chunk;
    std::memcpy(&chunk, reinterpret_cast<const char*>(text) - sizeof(chunk), sizeof(chunk));
    return chunk;
}
inline void kvxml_arena_text_release(xml_char* text) noexcept { kvxml_chunk_release(kvxml_text_chunk(text)); }

// Pieces taken back one after the other mostly share a chunk (a tree is released in
// about the order it was built): the batch counts them and takes them back from each
// chunk at once, when the next piece is from another chunk and at its end.
class kvxml_release_batch {
public:
    kvxml_release_batch() noexcept = default;
    ~kvxml_release_batch() { flush(); }
    kvxml_release_batch(const kvxml_release_batch&) = delete;
    kvxml_release_batch& operator=(const kvxml_release_batch&) = delete;
    void release(kvxml_chunk* chunk, std::uint32_t pieces = 1) noexcept {
        if (chunk != chunk_) switch_to(chunk);
        count_ += pieces;
    }
    // A text array: when it lies in the chunk of the batch, its header need not be read.
    void release_text(const xml_char* text) noexcept {
        const char* at = reinterpret_cast<const char*>(text);
        if (at > begin_ && at < end_) ++count_;
        else release(kvxml_text_chunk(text));
    }
    void flush() noexcept;

private:
    void switch_to(kvxml_chunk* chunk) noexcept;

    kvxml_chunk* chunk_ = nullptr;
    const char* begin_ = nullptr;  // the chunk's bytes
    const char* end_ = nullptr;
    std::uint32_t count_ = 0;
};

class kvxml_arena {
public:
    kvxml_arena() noexcept = default;
    ~kvxml_arena() { leave(); }
    kvxml_arena(const kvxml_arena&) = delete;
    kvxml_arena& operator=(const kvxml_arena&) = delete;

    // n bytes aligned to 8, counted as one piece of the chunk returned in `chunk`;
    // std::bad_alloc when memory runs out.
    // A block holding several pieces (a node and its name) counts each of them.
    void* allocate(std::size_t n, kvxml_chunk*& chunk, std::uint32_t pieces = 1) {
        n = (n + 7) & ~std::size_t{7};
        if (!current_ || n > room_) next_chunk(n);
        void* p = reinterpret_cast<char*>(current_) + current_->used;
        current_->used += static_cast<std::uint32_t>(n);
        room_ -= n;
        handed_ += pieces;
        chunk = current_;
        return p;
    }
    // Texts longer than this stay out of the arena (they take a heap block of their own).
    static constexpr std::int32_t largest_text = 8192;
    // An array for `units` units and a NUL, to be released with kvxml_arena_text_release;
    // null when units exceeds largest_text.
    xml_char* allocate_text(std::int32_t units) {
        if (units > largest_text) return nullptr;
        kvxml_chunk* chunk = nullptr;
        char* p = static_cast<char*>(
            allocate(sizeof(kvxml_chunk*) + (static_cast<std::size_t>(units) + 1) * sizeof(xml_char), chunk));
        std::memcpy(p, &chunk, sizeof(chunk));
        return reinterpret_cast<xml_char*>(p + sizeof(chunk));
    }
    // A T followed by a text of `units` units (and a NUL) in one block; the text (stored
    // at *text) is released on its own with kvxml_arena_text_release. Null when units
    // exceeds largest_text.
    template <typename T>
    void* allocate_with_text(std::int32_t units, kvxml_chunk*& chunk, xml_char*& text) {
        if (units > largest_text) return nullptr;
        constexpr std::size_t head = (sizeof(T) + 7) & ~std::size_t{7};
        char* p = static_cast<char*>(allocate(head + sizeof(kvxml_chunk*) +
                                                  (static_cast<std::size_t>(units) + 1) * sizeof(xml_char),
                                              chunk, 2));
        std::memcpy(p + head, &chunk, sizeof(chunk));
        text = reinterpret_cast<xml_char*>(p + head + sizeof(chunk));
        return p;
    }

private:
    void next_chunk(std::size_t n);
    void leave() noexcept;  // drops the hold on the current chunk

    kvxml_chunk* current_ = nullptr;
    std::size_t room_ = 0;
    std::uint32_t handed_ = 0;  // pieces of the current chunk handed out
    int next_kind_ = 2;  // 16 KB first: the whole tree of a call of a few KB
};
