// The shared byte helpers, as tables.
#include <gtest/gtest.h>

#include "tests/support/bytes.h"

namespace {
TEST(Bytes, HexTextToBytesAndBack) {
    const struct { const char* text; bytes expected; const char* printed; } rows[] = {
        {"", {}, ""},
        {"0A 1b", {0x0A, 0x1B}, "0A 1B "},
        {"ff00\n7f", {0xFF, 0x00, 0x7F}, "FF 00 7F "},
        {"CA:FE-BE,EF", {0xCA, 0xFE, 0xBE, 0xEF}, "CA FE BE EF "},
        {"ABC", {0xAB}, "AB "},  // a lone last digit is dropped
    };
    for (const auto& row : rows) {
        EXPECT_EQ(hex(row.text), row.expected) << row.text;
        EXPECT_EQ(to_hex(row.expected), row.printed) << row.text;
    }
}

TEST(Bytes, Builders) {
    EXPECT_EQ(hex("01 02") + repeat(7, 2), (bytes{1, 2, 7, 7}));
    EXPECT_EQ(text_bytes("ab"), (bytes{0x61, 0x62}));
    EXPECT_EQ(counting(4, 254), (bytes{254, 255, 0, 1}));
    EXPECT_EQ(utf16le(u"A\u20AC"), (bytes{0xFF, 0xFE, 0x41, 0x00, 0xAC, 0x20}));
    EXPECT_EQ(utf16le(u"A", false), (bytes{0x41, 0x00}));
}
}  // namespace
