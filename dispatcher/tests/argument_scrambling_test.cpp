#include "dispatcher/argument_scrambling.h"

#include "dispatcher/tests/scrambling_reference.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

namespace as = argument_scrambling;
namespace ref = scrambling_reference;
using ref::units;

units scramble(const units& plain) {
    std::size_t m = 0;
    EXPECT_TRUE(as::scrambled_length(plain.size(), m));
    units coded(m);
    as::scramble_units(plain.data(), plain.size(), coded.data());
    return coded;
}

units unscramble(const units& coded) {
    units plain(as::unscrambled_length(coded.size()));
    as::unscramble_units(coded.data(), coded.size(), plain.data());
    return plain;
}

// Lengths that exercise the empty text, the scalar tail, group seams (15, 30) and the
// eight-unit blocks of the fast path on both sides of their seams.
std::vector<std::size_t> test_lengths() {
    std::vector<std::size_t> lengths;
    for (std::size_t l = 0; l <= 64; ++l) lengths.push_back(l);
    for (std::size_t l : {119u, 120u, 121u, 1000u, 4099u, 65543u, 1u << 20}) lengths.push_back(l);
    return lengths;
}

TEST(ArgumentScrambling, WorkedPackingExample) {
    // Plain units chosen so that the chain words are 0x8001, 0x0002, 0xFFFF:
    // p_j = swap(c_j) ^ c_{j-1}, with the seed 0x6D1B as c_{-1}.
    const units plain = {0x6C9B, 0x8201, 0xFFFD};
    const units coded = {0x4001, 0x4002, 0xBFFF, 0x4005};
    EXPECT_EQ(scramble(plain), coded);
    EXPECT_EQ(unscramble(coded), plain);
}

TEST(ArgumentScrambling, LengthTable) {
    constexpr std::size_t max = std::numeric_limits<std::size_t>::max();
    struct row { std::size_t plain, coded; };
    const row rows[] = {
        {0, 0}, {1, 2}, {14, 15}, {15, 16}, {16, 18}, {30, 32}, {31, 34},
        // The largest lengths whose coded length still fits.
        {max / 16 * 15, max / 16 * 16},
        {max / 16 * 15 + 14, max / 16 * 16 + 15},
    };
    for (const row& r : rows) {
        std::size_t m = 0;
        ASSERT_TRUE(as::scrambled_length(r.plain, m)) << r.plain;
        EXPECT_EQ(m, r.coded) << r.plain;
        EXPECT_EQ(as::unscrambled_length(m), r.plain) << r.plain;
    }
}

TEST(ArgumentScrambling, UnrepresentableCodedLengthFailsInsteadOfWrapping) {
    constexpr std::size_t max = std::numeric_limits<std::size_t>::max();
    for (std::size_t l : {max, max - 1, max / 16 * 15 + 15, max / 16 * 15 + 16, max - max / 17}) {
        std::size_t m = 12345;
        EXPECT_FALSE(as::scrambled_length(l, m)) << l;
        EXPECT_EQ(m, 12345u);
    }
}

TEST(ArgumentScrambling, LengthRulesMatchTheirFormulas) {
    for (std::uint64_t l = 0; l < 5000; ++l) {
        std::size_t m = 0;
        ASSERT_TRUE(as::scrambled_length(l, m));
        ASSERT_EQ(m, (16 * l + 14) / 15);
        ASSERT_EQ(as::unscrambled_length(m), l);
        ASSERT_EQ(as::unscrambled_length(l), (15 * l) >> 4);
    }
    constexpr std::size_t max = std::numeric_limits<std::size_t>::max();
    EXPECT_EQ(as::unscrambled_length(max), max - max / 16 - 1);
}

TEST(ArgumentScrambling, RoundTripsRandomTexts) {
    std::mt19937 rng(20261209);
    for (std::size_t length : test_lengths()) {
        const units plain = ref::random_units(rng, length);
        EXPECT_EQ(unscramble(scramble(plain)), plain) << length;
    }
}

TEST(ArgumentScrambling, RoundTripsSpecialUnits) {
    const units rows[] = {
        units(40, 0xFFFF), units(40, 0x8000), units(40, 0x4141), units(40, 0xABAB),
        units(40, 0x0001), units(40, 0x6D1B), units(40, 0x1B6D), {0xD800}, {0xDFFF, 0xD800},
    };
    for (const units& plain : rows) EXPECT_EQ(unscramble(scramble(plain)), plain) << int(plain[0]);
}

TEST(ArgumentScrambling, EveryCodedUnitLiesInRange) {
    std::mt19937 rng(7);
    for (std::size_t length : test_lengths()) {
        const units coded = scramble(ref::random_units(rng, length));
        for (std::size_t i = 0; i < coded.size(); ++i) {
            ASSERT_GE(coded[i], 0x4000) << length << " at " << i;
            ASSERT_LE(coded[i], 0xBFFF) << length << " at " << i;
        }
    }
}

TEST(ArgumentScrambling, FastCodingAgreesWithReference) {
    std::mt19937 rng(11);
    for (std::size_t length : test_lengths()) {
        const units plain = ref::random_units(rng, length);
        const units coded = scramble(plain);
        EXPECT_EQ(coded, ref::scramble(plain)) << length;
        EXPECT_EQ(unscramble(coded), ref::unscramble(coded)) << length;
    }
}

TEST(ArgumentScrambling, FastDecodingAgreesWithReferenceOnMalformedInput) {
    // Any length and any unit values, also outside 0x4000..0xBFFF: decoded, not refused.
    std::mt19937 rng(13);
    for (std::size_t length = 0; length <= 300; ++length) {
        const units coded = ref::random_units(rng, length, 0, 0xFFFF);
        ASSERT_EQ(unscramble(coded), ref::unscramble(coded)) << length;
    }
}

TEST(ArgumentScrambling, DecodingNeverReadsPastTheCarriersItNeeds) {
    // Units past n + ceil(n/15) do not matter, and that bound never passes m: e.g. a coded
    // text of 17 units decodes to 15 and its last unit is never read.
    struct row { std::size_t coded, decoded, read; };
    const row rows[] = {{1, 0, 0}, {2, 1, 2}, {16, 15, 16}, {17, 15, 16}, {18, 16, 18},
                        {33, 30, 32}, {34, 31, 34}, {35, 32, 35}};
    std::mt19937 rng(17);
    for (const row& r : rows) {
        units coded = ref::random_units(rng, r.coded, 0x4000, 0xBFFF);
        const units expected = unscramble(coded);
        EXPECT_EQ(expected.size(), r.decoded) << r.coded;
        for (unsigned filler : {0x0000u, 0x4000u, 0x7FFFu, 0xBFFFu, 0xFFFFu}) {
            for (std::size_t i = r.read; i < r.coded; ++i) coded[i] = static_cast<char16_t>(filler);
            EXPECT_EQ(unscramble(coded), expected) << r.coded << " filler " << filler;
        }
    }
    for (std::size_t m = 1; m < 2000; ++m) {
        const std::size_t n = as::unscrambled_length(m);
        ASSERT_LE(n + (n + 14) / 15, m) << m;
    }
}

TEST(ArgumentScrambling, OneCodedUnitDecodesToEmpty) {
    for (unsigned u : {0x4000u, 0x0001u, 0xFFFFu}) {
        units plain = {0x1234};  // untouched: nothing is produced
        const units coded = {static_cast<char16_t>(u)};
        as::unscramble_units(coded.data(), coded.size(), plain.data());
        EXPECT_EQ(as::unscrambled_length(1), 0u);
        EXPECT_EQ(plain[0], 0x1234);
    }
}

TEST(ArgumentScrambling, ChangingTheFirstPlainUnitChangesEveryBodyUnit) {
    // A change of the first unit by XOR with d changes chain word j by swap(d), d, swap(d)...
    // Every body unit therefore changes unless d or swap(d) is exactly the top bit, which
    // only the carriers hold: then every other body unit stays and the carriers change.
    std::mt19937 rng(19);
    for (unsigned d : {0x0001u, 0x0100u, 0x00FFu, 0xFFFFu, 0x7FFFu, 0x1234u, 0x8001u, 0x4000u}) {
        const units plain = ref::random_units(rng, 64, 0x0100, 0x7EFF);
        units changed = plain;
        changed[0] = static_cast<char16_t>(changed[0] ^ d);
        const units a = scramble(plain), b = scramble(changed);
        for (std::size_t j = 0; j < plain.size(); ++j) ASSERT_NE(a[j], b[j]) << d << " at " << j;
    }
    for (unsigned d : {0x8000u, 0x0080u}) {
        const units plain = ref::random_units(rng, 64, 0x0100, 0x7EFF);
        units changed = plain;
        changed[0] = static_cast<char16_t>(changed[0] ^ d);
        const units a = scramble(plain), b = scramble(changed);
        EXPECT_NE(a, b) << d;
        for (std::size_t j = 0; j < plain.size(); ++j) {
            const bool top_bit_only = (j % 2 == 0) == (d == 0x0080);
            EXPECT_EQ(a[j] == b[j], top_bit_only) << d << " at " << j;
        }
    }
}

TEST(ArgumentScrambling, TextLengthCountsUnitsBeforeTheZero) {
    const char16_t empty[] = {0};
    const char16_t three[] = {0xFFFF, 0x8000, 0x0001, 0, 0x0041};
    EXPECT_EQ(as::text_length(empty), 0u);
    EXPECT_EQ(as::text_length(three), 3u);
    // Every start alignment and every terminator position within and across blocks; units
    // whose bytes are zero on one side only are not terminators.
    alignas(16) char16_t buffer[64];
    for (std::size_t start = 0; start < 8; ++start) {
        for (std::size_t length = 0; start + length < 64; ++length) {
            for (std::size_t i = 0; i < 64; ++i) buffer[i] = i % 2 ? 0x0100 : 0x0001;
            buffer[start + length] = 0;
            ASSERT_EQ(as::text_length(buffer + start), length) << start << " " << length;
        }
    }
}

}  // namespace
