#include "xml/xml_buffer.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "xml/xml_arena.h"
#include "xml/xml_entities.h"
#include "xml/xml_pool.h"

namespace {
// Arrays are malloc blocks (detach hands them to clients who free() them); small ones
// go through the per-thread cache of the tree's blocks.
std::size_t bytes_of(std::int32_t units) { return static_cast<std::size_t>(units) * sizeof(xml_char); }

xml_char* allocate_units(std::int32_t units) {
    auto* p = static_cast<xml_char*>(kvxml_pool_alloc(bytes_of(units)));
    if (!p) throw std::bad_alloc();
    return p;
}
}  // namespace

xml_char xml_buffer::no_text[1] = {0};

void xml_length_out_of_range() { throw std::bad_alloc(); }

xml_buffer::xml_buffer(std::int32_t growth)
    : capacity(growth > 0 ? growth : default_block), text(nullptr), block(capacity), size(0) {
    text = allocate_units(capacity + 1);
    text[0] = 0;
}


void xml_buffer::release_array() noexcept {
    if (capacity) kvxml_pool_free(text, bytes_of(capacity + 1));
    else if (text != no_text) kvxml_arena_text_release(text);
}

void xml_buffer::reserve(std::int32_t n) {
    if (n <= capacity) return;
    if (capacity == 0) {  // the first room: exactly n, keeping an adopted text
        if (n >= INT32_MAX) throw std::bad_alloc();
        xml_char* p = allocate_units(n + 1);
        const std::int32_t kept = size < n ? size : n;
        if (kept) std::memcpy(p, text, bytes_of(kept));
        p[kept] = 0;
        release_array();
        text = p;
        size = kept;
        capacity = n;
        return;
    }
    // (n / block + 1) * block, refused when it would leave the 32-bit range.
    const std::int64_t grown = (static_cast<std::int64_t>(n) / block + 1) * block;
    if (grown >= INT32_MAX) throw std::bad_alloc();
    // A new block, then the old one wiped as it goes back: realloc would leave a copy of
    // the text in freed memory whenever it moves the block.
    auto* p = allocate_units(static_cast<std::int32_t>(grown + 1));
    std::memcpy(p, text, bytes_of(capacity + 1));
    kvxml_pool_free(text, bytes_of(capacity + 1));
    text = p;
    capacity = static_cast<std::int32_t>(grown);
}

void xml_buffer::assign(const xml_char* s) { assign(s, xml_checked_length(xml_length(s))); }

void xml_buffer::assign(const xml_char* s, std::int32_t n) {
    if (n < 0) n = 0;
    if (capacity == 0 && text != no_text && s >= text && s <= text + size) {
        // A part of an adopted text: move it to an array of its own first, in which it
        // stays where it is.
        const std::ptrdiff_t offset = s - text;
        reserve(size);
        s = text + offset;
    }
    reserve(n);
    if (n) std::memmove(text, s, static_cast<std::size_t>(n) * sizeof(xml_char));
    set_length(n);
}

void xml_buffer::assign(xml_char c) { assign(&c, 1); }

void xml_buffer::append(const xml_char* s) {
    if (s) append(s, xml_checked_length(xml_length(s)));
}

void xml_buffer::append(const xml_char* s, std::int32_t n) {
    if (n <= 0) return;
    if (n > INT32_MAX - 1 - size) throw std::bad_alloc();
    const std::int32_t total = size + n;
    if (total > capacity) {
        // s may point into this buffer: keep its offset across the reallocation.
        const bool inside = s >= text && s <= text + size;
        const std::ptrdiff_t offset = s - text;
        reserve(total);
        if (inside) s = text + offset;
    }
    std::memmove(text + size, s, static_cast<std::size_t>(n) * sizeof(xml_char));
    set_length(total);
}

void xml_buffer::append(xml_char c) {
    if (size >= capacity) reserve(size + 1);
    text[size] = c;
    set_length(size + 1);
}

void xml_buffer::append(const xml_buffer& other) { append(other.text, other.size); }

void xml_buffer::clear() noexcept { set_length(0); }

bool xml_buffer::equals_nocase(const xml_char* s) const noexcept {
    return xml_equal_nocase(text, s ? s : KVXML_TEXT(""));
}

void xml_buffer::trim_end() noexcept {
    std::int32_t n = size;
    while (n > 0 && xml_is_space(text[n - 1])) --n;
    set_length(n);
}

void xml_buffer::substring(std::int32_t start, std::int32_t count) noexcept {
    if (start < 0) start = 0;
    if (start > size) start = size;
    if (count < 0) count = 0;
    if (count > size - start) count = size - start;
    if (start) std::memmove(text, text + start, static_cast<std::size_t>(count) * sizeof(xml_char));
    set_length(count);
}

void xml_buffer::decode_entities() {
    if (!xml_needs_decoding(text, size)) return;
    xml_buffer decoded(unallocated);
    decoded.reserve(size);  // decoding never lengthens a text
    xml_decode_entities(text, size, decoded);
    std::swap(text, decoded.text);
    std::swap(capacity, decoded.capacity);
    std::swap(size, decoded.size);
}

void xml_buffer::escape() {
    const std::int32_t escaped = xml_escaped_length(text, size);
    if (escaped == size) return;
    xml_buffer out(unallocated);
    out.reserve(escaped);
    xml_write_escaped(text, size, out.text);
    out.set_length(escaped);
    std::swap(text, out.text);
    std::swap(capacity, out.capacity);
    std::swap(size, out.size);
}

xml_char* xml_buffer::detach() {
    if (capacity == 0 && size) reserve(size);  // an adopted text: hand out a heap copy
    if (capacity == 0) {  // no array of its own to hand out
        xml_char* empty = allocate_units(1);
        empty[0] = 0;
        return empty;
    }
    xml_char* fresh = allocate_units(block + 1);
    fresh[0] = 0;
    xml_char* out = text;
    text = fresh;
    capacity = block;
    size = 0;
    return out;
}
