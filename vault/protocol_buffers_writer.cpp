#include "vault/protocol_buffers_writer.h"

#include <cstring>

namespace {
constexpr std::uint32_t size_limit = 0xFFFFFFFFu;
constexpr std::uint32_t first_capacity = 16;

// position + count, saturated at 0xFFFFFFFF so that an oversized message ends as a
// failed writer instead of wrapping to a small size.
std::uint32_t saturated_end(std::uint32_t position, std::uint64_t count) noexcept {
    const std::uint64_t end = position + count;
    return end > size_limit ? size_limit : static_cast<std::uint32_t>(end);
}

template <typename Unit>
std::uint32_t units_to_terminator(const Unit* text) noexcept {
    std::uint32_t n = 0;
    while (n < 0x7FFFFFFFu && text[n] != 0) ++n;
    return n;
}

// The code unit as a number: 8-bit texts are ISO 8859-1, so their bytes are unsigned.
inline std::uint32_t unit_value(char unit) noexcept { return static_cast<std::uint8_t>(unit); }
inline std::uint32_t unit_value(char16_t unit) noexcept { return unit; }

// UTF-8 bytes of one unit below 0x10000; surrogate halves are written one by one.
inline std::uint32_t utf8_unit_length(std::uint32_t u) noexcept {
    return u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
}

template <typename Unit>
std::uint64_t utf8_length(const Unit* text, std::uint32_t count) noexcept {
    std::uint64_t length = 0;
    for (std::uint32_t i = 0; i < count; ++i) length += utf8_unit_length(unit_value(text[i]));
    return length;
}

template <typename Unit>
void put_utf8(std::uint8_t* out, const Unit* text, std::uint32_t count) noexcept {
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t u = unit_value(text[i]);
        if (u < 0x80) {
            *out++ = static_cast<std::uint8_t>(u);
        } else if (u < 0x800) {
            *out++ = static_cast<std::uint8_t>(0xC0 | (u >> 6));
            *out++ = static_cast<std::uint8_t>(0x80 | (u & 0x3F));
        } else {
            *out++ = static_cast<std::uint8_t>(0xE0 | (u >> 12));
            *out++ = static_cast<std::uint8_t>(0x80 | ((u >> 6) & 0x3F));
            *out++ = static_cast<std::uint8_t>(0x80 | (u & 0x3F));
        }
    }
}
}  // namespace

void ProtocolBuffersWriter::reserve(std::uint32_t n) noexcept {
    if (n <= size_) return;
    if (capacity() >= n || failed()) {
        size_ = n;
        return;
    }
    std::uint64_t c = capacity() > first_capacity ? capacity() : first_capacity;
    while (c < n) c *= 2;
    std::uint8_t* grown = nullptr;
    if (c <= size_limit && allocate_)
        grown = static_cast<std::uint8_t*>(allocate_(static_cast<std::uint32_t>(c)));
    if (grown == nullptr) {
        size_ = n;  // failed for good: size is now above capacity
        return;
    }
    if (buffer_) std::memcpy(grown, buffer_.data(), size_);
    buffer_ = kv_memory::wiped_buffer<std::uint8_t>(grown, static_cast<std::size_t>(c), release_);
    size_ = n;
}

void ProtocolBuffersWriter::growTo(std::uint32_t end) noexcept {
    if (size_ < end) reserve(end);
}

void ProtocolBuffersWriter::appendByte(std::uint8_t byte) noexcept {
    const std::uint32_t next = saturated_end(position_, 1);
    growTo(next);
    if (!failed()) buffer_.data()[position_] = byte;
    position_ = next;
}

void ProtocolBuffersWriter::writeVarint(std::uint32_t value) noexcept {
    if (value < 0x80) {  // fast path: tags and small values are one byte
        appendByte(static_cast<std::uint8_t>(value));
        return;
    }
    while (value >= 0x80) {
        appendByte(static_cast<std::uint8_t>((value & 0x7F) | 0x80));
        value >>= 7;
    }
    appendByte(static_cast<std::uint8_t>(value));
}

void ProtocolBuffersWriter::writeTag(std::uint32_t field, std::uint32_t wire_type) noexcept {
    writeVarint((field << 3) | wire_type);
}

void ProtocolBuffersWriter::writeBytesField(std::uint32_t field, const std::uint8_t* bytes,
                                            std::uint32_t length) noexcept {
    writeTag(field, protocol_buffers::wire_length_delimited);
    writeVarint(length);
    const std::uint32_t end = saturated_end(position_, length);
    growTo(end);
    if (!failed() && length != 0) std::memcpy(buffer_.data() + position_, bytes, length);
    position_ = end;
}

std::uint8_t* ProtocolBuffersWriter::beginTextField(std::uint32_t field,
                                                   std::uint64_t utf8_length) noexcept {
    writeTag(field, protocol_buffers::wire_length_delimited);
    writeVarint(utf8_length > size_limit ? size_limit : static_cast<std::uint32_t>(utf8_length));
    const std::uint32_t end = saturated_end(position_, utf8_length);
    growTo(end);
    if (failed()) return nullptr;
    std::uint8_t* out = buffer_.data() + position_;
    position_ = end;
    return out;
}

void ProtocolBuffersWriter::writeStringField(std::uint32_t field, const char* text,
                                             std::int32_t count) noexcept {
    const std::uint32_t units =
        count < 0 ? units_to_terminator(text) : static_cast<std::uint32_t>(count);
    if (std::uint8_t* out = beginTextField(field, utf8_length(text, units))) put_utf8(out, text, units);
}

void ProtocolBuffersWriter::writeWideStringField(std::uint32_t field, const char16_t* text,
                                                 std::int32_t count) noexcept {
    const std::uint32_t units =
        count < 0 ? units_to_terminator(text) : static_cast<std::uint32_t>(count);
    if (std::uint8_t* out = beginTextField(field, utf8_length(text, units))) put_utf8(out, text, units);
}

void ProtocolBuffersWriter::wipe(std::uint32_t count) noexcept {
    kv_memory::wipe(buffer_.data(), count < capacity() ? count : capacity());
}
