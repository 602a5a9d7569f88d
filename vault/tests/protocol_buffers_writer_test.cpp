// The writer's encodings, growth, failed state and wiping, through a recording allocator.
#include <gtest/gtest.h>

#include "vault/protocol_buffers_writer.h"
#include "tests/support/bytes.h"
#include "tests/support/recording_allocator.h"

namespace {
bytes written(const ProtocolBuffersWriter& w) { return bytes(w.data(), w.data() + w.position()); }

struct WriterTest : ::testing::Test {
    void SetUp() override { recording_allocator::reset(); }
};

TEST_F(WriterTest, VarintEncodings) {
    const struct { std::uint32_t value; bytes expected; } rows[] = {
        {0, hex("00")},           {1, hex("01")},          {127, hex("7F")},
        {128, hex("80 01")},      {300, hex("AC 02")},     {16383, hex("FF 7F")},
        {16384, hex("80 80 01")}, {0x0FFFFFFF, hex("FF FF FF 7F")},
        {0x10000000, hex("80 80 80 80 01")}, {0xFFFFFFFF, hex("FF FF FF FF 0F")},
    };
    for (const auto& row : rows) {
        ProtocolBuffersWriter w(recording_allocator::functions());
        w.writeVarint(row.value);
        EXPECT_EQ(written(w), row.expected) << row.value;
        EXPECT_EQ(w.size(), row.expected.size());
    }
}

TEST_F(WriterTest, FirstFieldNeedsOneSixteenByteBuffer) {
    ProtocolBuffersWriter w(recording_allocator::functions());
    w.writeVarint(1 << 3);
    w.writeVarint(7);
    EXPECT_EQ(written(w), hex("08 07"));
    EXPECT_EQ(w.capacity(), 16u);
    EXPECT_EQ(recording_allocator::current().allocations, (std::vector<std::size_t>{16}));
}

TEST_F(WriterTest, GrowsByDoublingAndKeepsTheBytes) {
    ProtocolBuffersWriter w(recording_allocator::functions());
    bytes expected;
    for (std::uint8_t i = 0; i < 20; ++i) {
        w.writeVarint(i);
        expected.push_back(i);
        EXPECT_EQ(w.capacity(), i < 16 ? 16u : 32u) << "byte " << i + 1;
    }
    EXPECT_EQ(written(w), expected);
    const auto& log = recording_allocator::current();
    EXPECT_EQ(log.allocations, (std::vector<std::size_t>{16, 32}));
    ASSERT_EQ(log.releases.size(), 1u);
    EXPECT_TRUE(log.releases[0].all_zero) << "the outgrown buffer still held the request";
}

TEST_F(WriterTest, ReserveCapacities) {
    const struct { std::uint32_t n; std::uint32_t capacity; } rows[] = {
        {1, 16}, {16, 16}, {17, 32}, {33, 64}, {64, 64}, {1000, 1024}
    };
    for (const auto& row : rows) {
        recording_allocator::reset();
        ProtocolBuffersWriter w(recording_allocator::functions());
        w.reserve(row.n);
        EXPECT_EQ(w.capacity(), row.capacity) << row.n;
        EXPECT_EQ(w.size(), row.n);
        EXPECT_FALSE(w.failed());
    }
}

TEST_F(WriterTest, CapacityBeyondThirtyTwoBitsFailsWithoutAllocating) {
    for (std::uint32_t n : {0x80000001u, 0xFFFFFFFFu}) {
        recording_allocator::reset();
        ProtocolBuffersWriter w(recording_allocator::functions());
        w.writeVarint(8);
        w.reserve(n);
        EXPECT_TRUE(w.failed()) << n;
        EXPECT_EQ(w.size(), n);
        EXPECT_EQ(recording_allocator::current().allocations.size(), 1u) << n;
    }
}

TEST_F(WriterTest, StringFields) {
    const struct { std::uint32_t field; const char* text; std::int32_t count; bytes expected; } rows[] = {
        {9, "S-1-5-21", -1, hex("4A 08") + text_bytes("S-1-5-21")},
        {9, "\xE9", -1, hex("4A 02 C3 A9")},
        {4, "", -1, hex("22 00")},
        {9, "abcdef", 3, hex("4A 03 61 62 63")},
        {9, "a\0b", 3, hex("4A 03 61 00 62")},
        {6, "\x7F\x80\xFF", -1, hex("32 05 7F C2 80 C3 BF")},
        {16, "x", -1, hex("82 01 01 78")},
    };
    for (const auto& row : rows) {
        ProtocolBuffersWriter w(recording_allocator::functions());
        w.writeStringField(row.field, row.text, row.count);
        EXPECT_EQ(written(w), row.expected) << row.text;
    }
}

TEST_F(WriterTest, WideStringFields) {
    const struct { std::u16string text; std::int32_t count; bytes expected; } rows[] = {
        {u"S-1-5-18", -1, hex("22 08") + text_bytes("S-1-5-18")},
        {u"\x20AC", -1, hex("22 03 E2 82 AC")},
        {u"\xD83D\xDE00", -1, hex("22 06 ED A0 BD ED B8 80")},
        {u"\xDE00", -1, hex("22 03 ED B8 80")},
        {u"\x7F\x80\x7FF\x800\xFFFF", -1, hex("22 0B 7F C2 80 DF BF E0 A0 80 EF BF BF")},
        {u"abc", 2, hex("22 02 61 62")},
        {u"", -1, hex("22 00")},
    };
    for (const auto& row : rows) {
        ProtocolBuffersWriter w(recording_allocator::functions());
        w.writeWideStringField(4, row.text.c_str(), row.count);
        EXPECT_EQ(written(w), row.expected) << to_hex(row.expected);
    }
}

TEST_F(WriterTest, BytesFieldsCarryTheirLength) {
    const bytes key = repeat(0x5A, 200);
    ProtocolBuffersWriter w(recording_allocator::functions());
    w.writeBytesField(8, key.data(), static_cast<std::uint32_t>(key.size()));
    w.writeBytesField(2, nullptr, 0);
    EXPECT_EQ(written(w), hex("42 C8 01") + key + hex("12 00"));
    EXPECT_EQ(w.capacity(), 256u);
}

TEST_F(WriterTest, FailedGrowthIsFinal) {
    recording_allocator::reset(1);  // the first buffer works, growth fails
    ProtocolBuffersWriter w(recording_allocator::functions());
    const bytes key = repeat(0x11, 32);
    w.writeVarint(8);
    w.writeVarint(7);
    w.writeBytesField(8, key.data(), 32);
    EXPECT_TRUE(w.failed());
    const std::uint32_t size = w.size();
    EXPECT_EQ(size, 2u + 2u + 32u);
    w.writeVarint(1);
    w.writeStringField(9, "S-1-5-18", -1);
    w.writeWideStringField(4, u"text", -1);
    EXPECT_TRUE(w.failed());
    EXPECT_GT(w.size(), size);
    EXPECT_EQ(recording_allocator::current().allocations.size(), 2u) << "growth retried";
    EXPECT_EQ(bytes(w.data(), w.data() + 2), hex("08 07")) << "stored bytes kept";
}

TEST_F(WriterTest, NoAllocateFunctionMeansFailed) {
    ProtocolBuffersWriter w({nullptr, nullptr});
    w.writeVarint(8);
    EXPECT_TRUE(w.failed());
    EXPECT_EQ(w.data(), nullptr);
}

TEST_F(WriterTest, OversizedLengthsSaturateInsteadOfWrapping) {
    const std::uint8_t one = 1;
    ProtocolBuffersWriter w(recording_allocator::functions());
    w.writeVarint(8);
    w.writeVarint(7);
    w.writeBytesField(8, &one, 0xFFFFFFFFu);  // the bytes are never read: growth must fail
    EXPECT_TRUE(w.failed());
    EXPECT_EQ(w.size(), 0xFFFFFFFFu);
    w.writeVarint(1);
    EXPECT_EQ(w.size(), 0xFFFFFFFFu) << "size wrapped";
    EXPECT_TRUE(w.failed());
    for (auto n : recording_allocator::current().allocations) EXPECT_LE(n, 16u);
}

TEST_F(WriterTest, DestructionWipesAndReleasesTheBuffer) {
    {
        ProtocolBuffersWriter w(recording_allocator::functions());
        const bytes key = repeat(0xEE, 40);
        w.writeBytesField(8, key.data(), 40);
    }
    const auto& log = recording_allocator::current();
    EXPECT_EQ(log.live, 0u);
    ASSERT_EQ(log.releases.size(), 2u);  // 16, then 64 for the 42-byte field
    for (const auto& r : log.releases) EXPECT_TRUE(r.all_zero) << r.size;
}

TEST_F(WriterTest, WipeClearsTheRequestBytes) {
    ProtocolBuffersWriter w(recording_allocator::functions());
    w.writeStringField(9, "S-1-5-18", -1);
    w.wipe(w.size());
    EXPECT_EQ(written(w), repeat(0, 10));
    w.wipe(0xFFFFFFFFu);  // a count past the buffer stops at its end
    EXPECT_EQ(written(w), repeat(0, 10));
}
}  // namespace
