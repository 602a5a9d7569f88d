#include "tools/rxctl/text_units.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

TEST(TextUnits, Utf8DecodesEveryWellFormedLength) {
    struct row { std::string bytes; std::u16string units; };
    const row rows[] = {
        {"", u""},
        {"A\r\n", u"A\r\n"},
        {"\x7F", u"\x7F"},
        {"\xC2\x80", u"\x0080"},
        {"\xDF\xBF", u"\x07FF"},
        {"\xE0\xA0\x80", u"\x0800"},
        {"\xED\x9F\xBF", u"\xD7FF"},
        {"\xEE\x80\x80", u"\xE000"},
        {"\xEF\xBB\xBF" "x", u"\xFEFF" "x"},  // a byte-order mark is a character like any other
        {"\xEF\xBF\xBF", u"\xFFFF"},
        {"\xF0\x90\x80\x80", u"\xD800\xDC00"},
        {"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
        {"a\0b"s, u"a\0b"s},
    };
    for (const row& r : rows) {
        std::u16string units;
        std::size_t bad = 99;
        EXPECT_TRUE(text_units::from_utf8(r.bytes, units, bad)) << r.bytes;
        EXPECT_EQ(units, r.units) << r.bytes;
    }
}

TEST(TextUnits, Utf8RefusesMalformedSequencesAtTheirFirstByte) {
    struct row { std::string bytes; std::size_t offset; };
    const row rows[] = {
        {"\x80", 0},                 // stray continuation
        {"ab\xBF", 2},
        {"\xC0\x80", 0},             // overlong NUL
        {"\xC1\xBF", 0},             // overlong
        {"\xE0\x9F\xBF", 0},         // overlong three-byte form
        {"\xF0\x8F\xBF\xBF", 0},     // overlong four-byte form
        {"\xED\xA0\x80", 0},         // encoded high surrogate
        {"x\xED\xBF\xBF", 1},        // encoded low surrogate
        {"\xF4\x90\x80\x80", 0},     // past U+10FFFF
        {"\xF5\x80\x80\x80", 0},
        {"\xFF", 0},
        {"\xE2\x82", 0},             // truncated at the end
        {"\xE2\x82x", 0},            // continuation missing
        {"ok\xF0\x9F\x98", 2},
    };
    for (const row& r : rows) {
        std::u16string units;
        std::size_t bad = 99;
        EXPECT_FALSE(text_units::from_utf8(r.bytes, units, bad)) << r.offset;
        EXPECT_EQ(bad, r.offset);
    }
}

TEST(TextUnits, Utf8EncodingRefusesLoneSurrogates) {
    struct row { std::u16string units; bool ok; std::string bytes; std::size_t bad; };
    const row rows[] = {
        {u"", true, "", 0},
        {u"A\xFEFF\xFFFF", true, "A\xEF\xBB\xBF\xEF\xBF\xBF", 0},
        {u"\xD83D\xDE00", true, "\xF0\x9F\x98\x80", 0},
        {u"\xD800\xDC00", true, "\xF0\x90\x80\x80", 0},  // the lowest pair and the highest
        {u"\xDBFF\xDFFF", true, "\xF4\x8F\xBF\xBF", 0},
        {u"a\0"s, true, "a\0"s, 0},
        {u"\xD800", false, "", 0},
        {u"ab\xDC00", false, "", 2},
        {u"\xD800\xD800\xDC00", false, "", 0},
        {u"\xDC00\xD800", false, "", 0},
    };
    for (const row& r : rows) {
        std::string bytes;
        std::size_t bad = 99;
        EXPECT_EQ(text_units::to_utf8(r.units, bytes, bad), r.ok) << r.bytes;
        if (r.ok) EXPECT_EQ(bytes, r.bytes);
        else EXPECT_EQ(bad, r.bad);
    }
}

TEST(TextUnits, HexReadsNumbersSeparatedByWhiteSpace) {
    struct row { std::string text; std::u16string units; };
    const row rows[] = {
        {"", u""},
        {" \r\n\t", u""},
        {"41", u"A"},
        {"0041 0042\n", u"AB"},
        {"\t41\r\n42  43\f44\v", u"ABCD"},
        {"ffff FFFF 0xBfFf 0X1", u"\xFFFF\xFFFF\xBFFF\x0001"},
        {"000000041", u"A"},
        {"0", u"\0"s},  // read; refusing zero units is the command's business
    };
    for (const row& r : rows) {
        std::u16string units;
        std::string bad;
        EXPECT_TRUE(text_units::from_hex(r.text, units, bad)) << r.text;
        EXPECT_EQ(units, r.units) << r.text;
    }
}

TEST(TextUnits, HexRefusesAnythingButSixteenBitNumbers) {
    struct row { std::string text, token; };
    const row rows[] = {
        {"10000", "10000"}, {"41 G1", "G1"}, {"0x", "0x"}, {"41,42", "41,42"},
        {"-1", "-1"}, {"+41", "+41"}, {"0x0x41", "0x0x41"}, {"41\xC2\xA0" "42", "41\xC2\xA0" "42"},
    };
    for (const row& r : rows) {
        std::u16string units;
        std::string bad;
        EXPECT_FALSE(text_units::from_hex(r.text, units, bad)) << r.text;
        EXPECT_EQ(bad, r.token);
    }
}

TEST(TextUnits, HexWritesFourUpperCaseDigitsSeparatedBySingleSpaces) {
    struct row { std::u16string units; std::string text; };
    const row rows[] = {
        {u"", "\n"},
        {u"\x0001", "0001\n"},
        {u"\xABCD\x4000\xBFFF", "ABCD 4000 BFFF\n"},
    };
    for (const row& r : rows) EXPECT_EQ(text_units::to_hex(r.units), r.text);
}

TEST(TextUnits, StatusesAreEightUpperCaseDigits) {
    struct row { std::uint32_t value; const char* text; };
    const row rows[] = {{0, "00000000"}, {0x10000000, "10000000"}, {0x80004005, "80004005"},
                        {0xD000a083, "D000A083"}, {0x0000ABCD, "0000ABCD"}, {0xFFFFFFFF, "FFFFFFFF"}};
    for (const row& r : rows) EXPECT_EQ(text_units::to_hex32(r.value), r.text);
}

}  // namespace
