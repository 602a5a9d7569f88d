#pragma once
// xml_buffer: the library's growable, always NUL-terminated 16-bit string.
// Growth: making room for n characters when n exceeds capacity sets capacity to
// (n / block + 1) * block and reallocates the array to capacity + 1 units, keeping the
// contents; a failed reallocation (or a size past the 32-bit range) throws std::bad_alloc.
// A fresh buffer holds "" with capacity == block (an array of block + 1 units).
// A buffer made with `unallocated` holds "" without an array (capacity 0) until it first
// needs room, and then gets exactly the room asked for; later growth follows the rule.
// The tree's names, values and texts are such buffers: most are short or empty, and a
// block per string would multiply the memory of a document of many small elements.
// The parser hands such a buffer its text in an array of its arena (xml_arena.h) with
// adopt: the buffer then still has capacity 0, reads and shortens that array in place,
// and moves to an array of its own by the first-room rule as soon as it must grow.
// The array comes from malloc, so a detached array is released with free().
#include <climits>
#include <cstdint>

#include "xml/xml_char.h"

class xml_buffer {
public:
    static constexpr std::int32_t default_block = 64;
    static constexpr std::int32_t line_block = 1024;  // serializer and get_inner_text

    explicit xml_buffer(std::int32_t block = default_block);
    struct unallocated_t {};
    static constexpr unallocated_t unallocated{};
    explicit xml_buffer(unallocated_t) noexcept : capacity(0), text(no_text), block(default_block), size(0) {}
    ~xml_buffer() {
        if (capacity || text != no_text) release_array();
    }
    xml_buffer(const xml_buffer&) = delete;
    xml_buffer& operator=(const xml_buffer&) = delete;

    const xml_char* c_str() const noexcept { return text; }
    std::int32_t length() const noexcept { return size; }
    std::int32_t get_capacity() const noexcept { return capacity; }
    std::int32_t get_block() const noexcept { return block; }

    // Makes room for n characters (not counting the NUL) by the growth rule above.
    void reserve(std::int32_t n);

    void assign(const xml_char* s);  // null assigns ""
    void assign(const xml_char* s, std::int32_t n);
    void assign(xml_char c);
    void append(const xml_char* s);  // null appends nothing
    void append(const xml_char* s, std::int32_t n);
    void append(xml_char c);
    void append(const xml_buffer& other);
    void clear() noexcept;
    // Takes an arena array (kvxml_arena::allocate_text) holding `length` units and a NUL
    // as its text, releasing the array it held.
    void adopt(xml_char* arena_text, std::int32_t length) noexcept {
        if (capacity || text != no_text) release_array();
        capacity = 0;
        text = arena_text;
        size = length;
    }
    // True when the text is an adopted arena array.
    bool adopted() const noexcept { return capacity == 0 && text != no_text; }
    // Case-insensitive (A..Z only) comparison with a string; true when equal.
    bool equals_nocase(const xml_char* s) const noexcept;
    // Ends the text at the first character of the run of white space that reaches its end.
    void trim_end() noexcept;
    // Replaces the text by its substring; start and count are clamped to the text.
    void substring(std::int32_t start, std::int32_t count) noexcept;
    // Decodes entity references in place (amp, quot, apos, lt, gt, #decimal).
    void decode_entities();
    // Replaces & ' " < > by &amp; &#39; &quot; &lt; &gt; in place.
    void escape();

    // Hands out the array (malloc'ed, NUL-terminated) and leaves a fresh empty buffer.
    xml_char* detach();
    // Writable access for code that fills reserved room itself; set_length ends the text.
    xml_char* data() noexcept { return text; }
    void set_length(std::int32_t n) noexcept {
        size = n;
        if (capacity || text != no_text) text[n] = 0;  // no_text is only ever ""
    }

private:
    static xml_char no_text[1];  // the text of every buffer without an array; never written
    void release_array() noexcept;

    std::int32_t capacity;  // characters the array holds, NUL not counted
    xml_char* text;         // capacity + 1 units; when capacity is 0 no_text or an adopted
                            // arena array of at least size + 1 units; never null
    std::int32_t block;     // growth quantum
    std::int32_t size;      // current length, cached so appends do not rescan
};

// A length as the buffer's 32-bit size; throws std::bad_alloc beyond the range.
[[noreturn]] void xml_length_out_of_range();
inline std::int32_t xml_checked_length(std::size_t n) {
    if (n > static_cast<std::size_t>(INT32_MAX - 1)) xml_length_out_of_range();
    return static_cast<std::int32_t>(n);
}
