// Entity decoding (set_text_escaped / set_attribute_escaped) and the runtime-like helpers.
#include <gtest/gtest.h>

#include <climits>

#include "xml/xml_char.h"
#include "xml_test_support.h"

TEST(XmlEntities, DecodingTable) {
    struct row { const char* in; const char* out; };
    const row rows[] = {
        {"&amp;", "&"}, {"&AMP;", "&"}, {"&quot;&apos;&lt;&gt;", "\"'<>"}, {"&Quot;&GT;", "\">"},
        {"&#65;", "A"}, {"&# 66;", "B"}, {"&#+67;", "C"}, {"&#65abc;", "A"},
        {"&#65601;", "A"},          // low 16 bits of 65536 + 65
        {"&#65536;", ""},           // low 16 bits are 0: nothing
        {"&#0;", ""}, {"&#;", ""}, {"&#x41;", ""}, {"&nbsp;", ""}, {"&;", ""},
        {"&#99999999999;", "\\uFFFF"},  // clamped to INT32_MAX
        {"&#000000065;", "A"}, {"&#4294967361;", "\\uFFFF"},  // nine digits; ten, clamped (not 2^32 + 65)
        {"&#-99999999999;", ""},        // clamped to INT32_MIN, low bits 0
        {"&#-65;", "\\uFFBF"},
        {"a & b", "a & b"}, {"x&y", "x&y"}, {"&lt", "&lt"}, {"&lt;&", "<&"},
        {"&amp;lt;", "&lt;"}, {"a & b; c", "a  c"}, {"&a&b;", ""},
        {"no references", "no references"}, {"semi;colon & end", "semi;colon & end"},
    };
    doc_ptr doc = new_doc();
    doc->create_new();
    KV_xml_node* node = doc->get_root()->add_child(X("n").c_str());
    for (const row& r : rows) {
        node->set_text_escaped(X(r.in).c_str());
        EXPECT_EQ(r.out, narrow(node->get_text())) << "text: " << r.in;
        node->set_attribute_escaped(X("v").c_str(), X(r.in).c_str());
        EXPECT_EQ(r.out, narrow(node->get_attribute_value(X("v").c_str()))) << "value: " << r.in;
    }
}

TEST(XmlEntities, LongInputDecodesInOnePiece) {
    // Longer than 1024 units: the decoder sizes its result at once.
    std::string in, out;
    for (int i = 0; i < 400; ++i) { in += "ab&lt;"; out += "ab<"; }
    doc_ptr doc = new_doc();
    doc->create_new();
    KV_xml_node* root = doc->get_root();
    root->set_text_escaped(X(in.c_str()).c_str());
    EXPECT_EQ(out, narrow(root->get_text()));
}

TEST(XmlChars, ReadIntLikeTheRuntime) {
    struct row { const char* in; std::int32_t value; };
    const row rows[] = {
        {"42", 42}, {" \t\r\n42", 42}, {"-7x", -7}, {"+5", 5}, {"007", 7}, {"", 0},
        {"abc", 0}, {"- 5", 0}, {"--5", 0}, {"2147483647", INT32_MAX}, {"2147483648", INT32_MAX},
        {"99999999999999999999", INT32_MAX}, {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN}, {"12 34", 12},
    };
    for (const row& r : rows) EXPECT_EQ(r.value, xml_read_int(X(r.in).c_str())) << r.in;
    const xml_char ideographic[] = {0x3000, u'1', u'2', 0};
    EXPECT_EQ(12, xml_read_int(ideographic));
}

TEST(XmlChars, WhiteSpaceClassification) {
    const unsigned spaces[] = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0xA0, 0x1680, 0x2000,
                               0x2005, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
    const unsigned others[] = {0x00, 0x08, 0x0E, 0x1F, 0x21, 0x85, 0x9F, 0xA1, 0x180E,
                               0x200B, 0x2027, 0x202A, 0x2060, 0x3001, 0xFEFF, 0xFFFF};
    for (unsigned c : spaces) EXPECT_TRUE(xml_is_space(static_cast<xml_char>(c))) << std::hex << c;
    for (unsigned c : others) EXPECT_FALSE(xml_is_space(static_cast<xml_char>(c))) << std::hex << c;
}

TEST(XmlChars, CaseFoldingIsAsciiOnly) {
    EXPECT_TRUE(xml_equal_nocase(X("FuNcTiOn").c_str(), X("function").c_str()));
    EXPECT_FALSE(xml_equal_nocase(X("abc").c_str(), X("abcd").c_str()));
    const xml_char upper[] = {0xC4, 0}, lower[] = {0xE4, 0};  // A and a with diaeresis
    EXPECT_FALSE(xml_equal_nocase(upper, lower));
    EXPECT_FALSE(xml_equal_nocase(X("[").c_str(), X("{").c_str()));
    EXPECT_TRUE(xml_equal_nocase(nullptr, nullptr));
    EXPECT_FALSE(xml_equal_nocase(nullptr, X("").c_str()));
}
