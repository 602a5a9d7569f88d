#pragma once
// ProtocolBuffersReader: a cursor over a reply payload it does not own, with the few
// primitives needed to find the status field. Platform-free.
//
// Every primitive returns vault_status::ok (0) or vault_status::nt_parse_error
// (0xC000A083) for malformed input; after a failure the position is unspecified.
#include <cstdint>

class ProtocolBuffersReader {
public:
    ProtocolBuffersReader() noexcept = default;
    ProtocolBuffersReader(const std::uint8_t* start, const std::uint8_t* end) noexcept
        : start_(start), position_(start), end_(end) {}

    // Reads one varint of any length from position into value. The low 7 bits of each
    // byte go to bit offsets 0, 7, 14, 21, 28, ...; bits at offset 32 and above are
    // dropped. Running into the end before a byte with a clear top bit is a failure.
    // Position ends after the last byte taken.
    std::int32_t readVarint(std::uint32_t& value) noexcept;

    // Skips the value of a field whose tag was just read. Wire type 0: up to and
    // including the first byte with a clear top bit. Wire type 2: a varint length, at
    // most 0x20000000 and at most the bytes left, then that many bytes. Any other wire
    // type is a failure.
    std::int32_t skipField(std::uint32_t wireType) noexcept;

    // Reads a tag; a failure when it runs out or its low 3 bits are not wireType.
    std::int32_t expectWireType(std::uint32_t wireType) noexcept;

    void rewind() noexcept { position_ = start_; }
    const std::uint8_t* start() const noexcept { return start_; }
    const std::uint8_t* position() const noexcept { return position_; }
    const std::uint8_t* end() const noexcept { return end_; }
    bool atEnd() const noexcept { return position_ >= end_; }

private:
    friend std::int32_t readStatus(ProtocolBuffersReader& reader) noexcept;
    const std::uint8_t* start_ = nullptr;
    const std::uint8_t* position_ = nullptr;
    const std::uint8_t* end_ = nullptr;
};

// The driver's status from a reply payload, as an HRESULT:
// - the value of the first field 0 (tag below 8, which must have wire type 0), OR
//   0x10000000, whatever its sign (STATUS_SUCCESS gives 0x10000000, not S_OK);
// - S_OK (0) for an empty payload or one without field 0 (other fields are skipped);
// - 0xD000A083 for a malformed payload (truncated varint, wire type 1, 3 to 7, a length
//   beyond 0x20000000 or beyond the payload, field 0 with a wire type other than 0).
// Reads from the start whatever the reader's position.
std::int32_t readStatus(ProtocolBuffersReader& reader) noexcept;
