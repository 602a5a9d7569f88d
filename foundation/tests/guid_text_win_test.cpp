// GUIDs as registry text: the form the platform writes, and the strict reading rxctl
// takes from its command line.
#include "foundation/guid_text_win.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
bool same(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

TEST(GuidText, WritesBracedUpperCaseAndReadsBack) {
    const struct { GUID guid; const wchar_t* text; } rows[] = {
        {{0x04755478, 0xAF8D, 0x438D, {0xA8, 0xB4, 0x23, 0x5C, 0x0E, 0xEC, 0x2F, 0xBF}},
         L"{04755478-AF8D-438D-A8B4-235C0EEC2FBF}"},
        {{0xD5978630, 0x5B9F, 0x11D1, {0x8D, 0xD2, 0x00, 0xAA, 0x00, 0x4A, 0xBD, 0x5E}},
         L"{D5978630-5B9F-11D1-8DD2-00AA004ABD5E}"},
        {{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}}, L"{00000000-0000-0000-0000-000000000000}"},
        {{0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
         L"{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}"},
        {{0x00000001, 0x0002, 0x0003, {0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B}},
         L"{00000001-0002-0003-0405-060708090A0B}"},
    };
    for (const auto& row : rows) {
        EXPECT_STREQ(text_of_guid(row.guid).c_str(), row.text);
        GUID read{};
        ASSERT_TRUE(guid_from_text(row.text, read)) << row.text;
        EXPECT_TRUE(same(read, row.guid)) << row.text;
    }
    GUID lower{};
    ASSERT_TRUE(guid_from_text(L"{d5978630-5b9f-11d1-8dd2-00aa004abd5e}", lower));
    EXPECT_TRUE(same(lower, rows[1].guid));
}

TEST(GuidText, RefusesAnythingButTheExactForm) {
    for (const wchar_t* text : {
             L"", L"{}", L"D5978630-5B9F-11D1-8DD2-00AA004ABD5E",      // no braces
             L"{D5978630-5B9F-11D1-8DD2-00AA004ABD5E",                  // unclosed
             L"{D5978630-5B9F-11D1-8DD2-00AA004ABD5E}x",                // trailing text
             L" {D5978630-5B9F-11D1-8DD2-00AA004ABD5E}",                // leading blank
             L"{D5978630-5B9F-11D1-8DD200AA004ABD5E}",                  // a dash missing
             L"{D5978630-5B9F-11D1-8DD2-00AA004ABD5}",                  // a digit short
             L"{D5978630-5B9F-11D1-8DD2-00AA004ABD5E0}",                // a digit long
             L"{D597863G-5B9F-11D1-8DD2-00AA004ABD5E}",                 // not hexadecimal
             L"{D5978630-5B9F-11D1-8DD2-00AA004ABD5\uFF25}",            // full-width E
         }) {
        GUID guid{};
        EXPECT_FALSE(guid_from_text(text, guid)) << text;
    }
    GUID guid{};
    EXPECT_FALSE(guid_from_text(nullptr, guid));
}
}  // namespace
