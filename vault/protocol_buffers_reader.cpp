#include "vault/protocol_buffers_reader.h"

#include "vault/vault_limits.h"
#include "vault/vault_status.h"

namespace {
constexpr std::uint32_t longest_length_delimited = vault_limits::largest_message_bytes;
}

std::int32_t ProtocolBuffersReader::readVarint(std::uint32_t& value) noexcept {
    if (position_ < end_ && *position_ < 0x80) {  // fast path: one-byte varint
        value = *position_++;
        return vault_status::ok;
    }
    std::uint32_t result = 0;
    for (unsigned shift = 0;; shift += 7) {
        if (position_ >= end_) return vault_status::nt_parse_error;
        const std::uint8_t byte = *position_++;
        if (shift < 32) result |= static_cast<std::uint32_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) break;
    }
    value = result;
    return vault_status::ok;
}

std::int32_t ProtocolBuffersReader::skipField(std::uint32_t wireType) noexcept {
    if (wireType == 0) {
        while (position_ < end_)
            if ((*position_++ & 0x80) == 0) return vault_status::ok;
        return vault_status::nt_parse_error;
    }
    if (wireType == 2) {
        std::uint32_t length = 0;
        if (readVarint(length) != vault_status::ok) return vault_status::nt_parse_error;
        if (length > longest_length_delimited || length > static_cast<std::uint64_t>(end_ - position_))
            return vault_status::nt_parse_error;
        position_ += length;
        return vault_status::ok;
    }
    return vault_status::nt_parse_error;
}

std::int32_t ProtocolBuffersReader::expectWireType(std::uint32_t wireType) noexcept {
    std::uint32_t tag = 0;
    if (readVarint(tag) != vault_status::ok || (tag & 7) != wireType)
        return vault_status::nt_parse_error;
    return vault_status::ok;
}

std::int32_t readStatus(ProtocolBuffersReader& reader) noexcept {
    reader.rewind();
    while (!reader.atEnd()) {
        const std::uint8_t* tag_start = reader.position_;
        std::uint32_t tag = 0;
        if (reader.readVarint(tag) != vault_status::ok) return vault_status::parse_error;
        if (tag < 8) {  // field 0 carries the status
            reader.position_ = tag_start;
            std::uint32_t status = 0;
            if (reader.expectWireType(0) != vault_status::ok || reader.readVarint(status) != vault_status::ok)
                return vault_status::parse_error;
            return vault_status::from_nt(status);
        }
        if (reader.skipField(tag & 7) != vault_status::ok) return vault_status::parse_error;
    }
    return vault_status::ok;
}
