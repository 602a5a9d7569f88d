#pragma once
// ProtocolBuffersWriter: a growable byte buffer with the protocol-buffers field writers the
// vault requests need (varints and length-delimited fields). Platform-free.
//
// Growth failure is not reported by any call: it leaves size above capacity ("failed"),
// after which nothing more is stored and the message must not be sent. Sizes saturate at
// 0xFFFFFFFF instead of wrapping, and a saturated size can never be allocated, so a
// message whose length does not fit 32 bits always ends as a failed writer.
//
// Buffers are overwritten with zeros before they go back to the release function (a
// request can carry key material), both when the buffer grows and at destruction.
#include <cstdint>

#include "foundation/kv_memory.h"

namespace protocol_buffers {
using allocate_function = void* (*)(std::uint32_t bytes) noexcept;  // null on failure
using release_function = void (*)(void* buffer) noexcept;

struct buffer_functions {
    allocate_function allocate = nullptr;
    release_function release = nullptr;
};

inline constexpr std::uint32_t wire_varint = 0;
inline constexpr std::uint32_t wire_length_delimited = 2;
// Count value meaning "up to the terminating zero".
inline constexpr std::int32_t to_terminator = -1;
}  // namespace protocol_buffers

class ProtocolBuffersWriter {
public:
    explicit ProtocolBuffersWriter(protocol_buffers::buffer_functions functions) noexcept
        : allocate_(functions.allocate), release_(functions.release) {}
    ProtocolBuffersWriter(const ProtocolBuffersWriter&) = delete;
    ProtocolBuffersWriter& operator=(const ProtocolBuffersWriter&) = delete;

    // Makes room for a total of n bytes and sets size to n. n not above the current size
    // changes nothing. Capacity grows 16, 32, 64, ... (from the larger of 16 and the
    // current capacity, doubled until it reaches n); the first size bytes move to the new
    // buffer. When the writer has already failed, there is no allocate function, the
    // allocation returns null or the capacity would not fit 32 bits, only size is set
    // (the writer is then failed for good).
    void reserve(std::uint32_t n) noexcept;

    // Appends value as a base-128 varint (1 to 5 bytes, low groups first).
    void writeVarint(std::uint32_t value) noexcept;

    // Appends the tag (field, wire type 2), length as a varint and the length bytes.
    // field must be below 2^29 (the protocol's largest field number).
    void writeBytesField(std::uint32_t field, const std::uint8_t* bytes, std::uint32_t length) noexcept;

    // Appends tag (field, wire type 2), the UTF-8 length and the UTF-8 form of an 8-bit
    // text read as ISO 8859-1 (bytes from 0x80 take two bytes). A negative count means:
    // up to the terminating zero byte. No terminator is written. On a failed writer the
    // text is not stored and position stays after the length.
    void writeStringField(std::uint32_t field, const char* text, std::int32_t count) noexcept;

    // As writeStringField for UTF-16 units: 1, 2 or 3 bytes per unit; surrogates are not
    // paired, each half takes its own 3 bytes. A negative count: up to the zero unit.
    void writeWideStringField(std::uint32_t field, const char16_t* text, std::int32_t count) noexcept;

    // Overwrites the first count bytes of the buffer (at most capacity) with zeros.
    void wipe(std::uint32_t count) noexcept;

    bool failed() const noexcept { return size_ > capacity(); }
    const std::uint8_t* data() const noexcept { return buffer_.data(); }
    std::uint32_t position() const noexcept { return position_; }
    std::uint32_t size() const noexcept { return size_; }
    std::uint32_t capacity() const noexcept { return static_cast<std::uint32_t>(buffer_.size()); }

private:
    void appendByte(std::uint8_t byte) noexcept;
    void writeTag(std::uint32_t field, std::uint32_t wire_type) noexcept;
    // Reserves up to end when size is below it.
    void growTo(std::uint32_t end) noexcept;
    // Writes the tag and the UTF-8 length of a text field and makes room for its bytes;
    // returns where they go, or null when the writer has failed.
    std::uint8_t* beginTextField(std::uint32_t field, std::uint64_t utf8_length) noexcept;

    kv_memory::wiped_buffer<std::uint8_t> buffer_;  // capacity bytes, wiped before release
    std::uint32_t position_ = 0;
    std::uint32_t size_ = 0;
    protocol_buffers::allocate_function allocate_;
    protocol_buffers::release_function release_;
};
