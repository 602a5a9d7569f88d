// The reader's primitives and readStatus on well-formed and malformed payloads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "vault/protocol_buffers_reader.h"
#include "vault/vault_status.h"

#include "tests/support/bytes.h"

namespace {
constexpr std::int32_t ok = 0;
constexpr std::int32_t bad = vault_status::nt_parse_error;

ProtocolBuffersReader over(const bytes& b) { return ProtocolBuffersReader(b.data(), b.data() + b.size()); }

TEST(ReaderTest, ReadVarint) {
    const struct { bytes input; std::int32_t status; std::uint32_t value; std::size_t consumed; } rows[] = {
        {hex("00"), ok, 0, 1},
        {hex("7F 55"), ok, 127, 1},
        {hex("AC 02"), ok, 300, 2},
        {hex("FF FF FF FF 0F"), ok, 0xFFFFFFFF, 5},
        {hex("FF FF FF FF 7F"), ok, 0xFFFFFFFF, 5},           // bits 32+ dropped
        {hex("FF FF FF FF FF 01"), ok, 0xFFFFFFFF, 6},        // any length
        {hex("80 80 80 80 80 80 80 80 80 80 00"), ok, 0, 11},
        {hex("81 80 80 80 10"), ok, 1, 5},                    // fifth byte: only its low 4 bits
        {hex(""), bad, 0, 0},
        {hex("80"), bad, 0, 0},
        {hex("FF FF FF FF FF"), bad, 0, 0},
    };
    for (const auto& row : rows) {
        ProtocolBuffersReader r = over(row.input);
        std::uint32_t value = 0;
        ASSERT_EQ(r.readVarint(value), row.status) << to_hex(row.input);
        if (row.status != ok) continue;
        EXPECT_EQ(value, row.value) << to_hex(row.input);
        EXPECT_EQ(static_cast<std::size_t>(r.position() - r.start()), row.consumed) << to_hex(row.input);
    }
}

TEST(ReaderTest, SkipField) {
    // `unread`: zero bytes after the input, in pages that are never touched.
    const struct {
        std::uint32_t wire_type; bytes input; std::int32_t status; std::size_t consumed; std::size_t unread = 0;
    } rows[] = {
        {0, hex("05 99"), ok, 1},
        {0, hex("FF FF 01 99"), ok, 3},
        {0, hex("FF FF"), bad, 0},
        {0, hex(""), bad, 0},
        {2, hex("03 61 62 63 99"), ok, 4},
        {2, hex("00"), ok, 1},
        {2, hex("05 01"), bad, 0},            // longer than what is left
        {2, hex("80"), bad, 0},               // truncated length
        {2, hex("81 80 80 80 02"), bad, 0},   // 0x20000001: above the bound
        {2, hex("81 80 80 80 02"), bad, 0, 0x20000001},  // even with as many bytes left
        {1, hex("00 00 00 00 00 00 00 00"), bad, 0},
        {3, hex("00"), bad, 0}, {4, hex("00"), bad, 0}, {5, hex("00 00 00 00"), bad, 0},
        {6, hex("00"), bad, 0}, {7, hex("00"), bad, 0},
    };
    for (const auto& row : rows) {
        const std::size_t size = row.input.size() + row.unread;
        const std::unique_ptr<std::uint8_t, decltype(&std::free)> block(
            static_cast<std::uint8_t*>(std::calloc(size + 1, 1)), &std::free);
        ASSERT_TRUE(block);
        std::copy(row.input.begin(), row.input.end(), block.get());
        ProtocolBuffersReader r(block.get(), block.get() + size);
        ASSERT_EQ(r.skipField(row.wire_type), row.status) << row.wire_type << ": " << to_hex(row.input);
        if (row.status == ok) {
            EXPECT_EQ(static_cast<std::size_t>(r.position() - r.start()), row.consumed) << to_hex(row.input);
        }
    }
}

TEST(ReaderTest, ExpectWireType) {
    const struct { bytes input; std::uint32_t wire_type; std::int32_t status; } rows[] = {
        {hex("00"), 0, ok}, {hex("08"), 0, ok}, {hex("0A"), 2, ok}, {hex("80 01"), 0, ok},
        {hex("01"), 0, bad}, {hex("0A"), 0, bad}, {hex(""), 0, bad}, {hex("88"), 0, bad},
        {hex("04"), 0, bad}, {hex("0E"), 2, bad},  // all three bits count
    };
    for (const auto& row : rows) {
        ProtocolBuffersReader r = over(row.input);
        EXPECT_EQ(r.expectWireType(row.wire_type), row.status) << to_hex(row.input);
    }
}

TEST(ReaderTest, ReadStatus) {
    const struct { bytes payload; std::uint32_t expected; } rows[] = {
        {hex(""), 0x00000000},
        {hex("00 00"), 0x10000000},
        {hex("08 01 00 00"), 0x10000000},           // field 1 skipped
        {hex("08 01"), 0x00000000},                 // no status field
        {hex("01 00"), 0xD000A083},                 // field 0 with wire type 1
        {hex("02 00"), 0xD000A083},                 // field 0 with wire type 2
        {hex("04 05"), 0xD000A083},                 // field 0 with wire type 4
        {hex("0A 05 01"), 0xD000A083},              // length 5, one byte left
        {hex("00 FF FF FF FF FF 01"), 0xFFFFFFFF},  // six-byte status varint
        {hex("00 B4 80 80 80 0C"), 0xD0000034},     // 0xC0000034
        {hex("00 22"), 0x10000022},
        {hex("00 01 00 02"), 0x10000001},           // only the first field 0 counts
        {hex("12 02 00 05 00 07"), 0x10000007},     // length-delimited skipped, bytes inside unread
        {hex("80 00 03"), 0x10000003},              // tag varint 0 of two bytes
        {hex("00"), 0xD000A083},                    // status value missing
        {hex("00 80"), 0xD000A083},                 // status value truncated
        {hex("88"), 0xD000A083},                    // truncated tag
        {hex("08 80"), 0xD000A083},                 // truncated skipped varint
        {hex("0B 00"), 0xD000A083},                 // wire type 3
        {hex("0D 00 00 00 00"), 0xD000A083},        // wire type 5
        {hex("0A 81 80 80 80 02"), 0xD000A083},     // length above 0x20000000
    };
    for (const auto& row : rows) {
        ProtocolBuffersReader r = over(row.payload);
        EXPECT_EQ(static_cast<std::uint32_t>(readStatus(r)), row.expected) << to_hex(row.payload);
    }
}

TEST(ReaderTest, ReadStatusStartsFromTheStart) {
    const bytes payload = hex("00 07");
    ProtocolBuffersReader r = over(payload);
    std::uint32_t ignored;
    ASSERT_EQ(r.readVarint(ignored), ok);
    EXPECT_EQ(readStatus(r), 0x10000007);
}
}  // namespace
