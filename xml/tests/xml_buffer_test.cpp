// xml_buffer's growth rule and string operations.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <new>

#include "xml/xml_buffer.h"
#include "xml_test_support.h"

TEST(XmlBuffer, GrowsByWholeBlocksPastTheNeededSize) {
    struct row { std::int32_t block; std::int32_t need; std::int32_t capacity; };
    const row rows[] = {
        {64, 0, 64}, {64, 64, 64}, {64, 65, 128}, {64, 128, 192}, {64, 1000, 1024},
        {1024, 1024, 1024}, {1024, 1025, 2048}, {1024, 5000, 5120},
    };
    for (const row& r : rows) {
        xml_buffer b(r.block);
        EXPECT_EQ(r.block, b.get_capacity());
        EXPECT_EQ(r.block, b.get_block());
        b.reserve(r.need);
        EXPECT_EQ(r.capacity, b.get_capacity()) << r.block << "/" << r.need;
    }
    // Lengths stop one short of the 32-bit range: the terminator needs the last unit.
    EXPECT_EQ(INT32_MAX - 1, xml_checked_length(INT32_MAX - 1));
    EXPECT_THROW(xml_checked_length(INT32_MAX), std::bad_alloc);
}

TEST(XmlBuffer, AppendsKeepContentAcrossGrowth) {
    xml_buffer b;
    std::string expected;
    for (int i = 0; i < 300; ++i) {
        b.append(static_cast<xml_char>(u'a' + i % 26));
        expected.push_back(static_cast<char>('a' + i % 26));
    }
    b.append(X("-tail").c_str());
    EXPECT_EQ(320, b.get_capacity());
    b.append(b.c_str(), 20);  // appending from itself across the reallocation
    expected += "-tailabcdefghijklmnopqrst";
    EXPECT_EQ(expected, narrow(b.c_str()));
    EXPECT_EQ(static_cast<std::int32_t>(expected.size()), b.length());
    EXPECT_EQ(384, b.get_capacity());
}

TEST(XmlBuffer, StringOperations) {
    xml_buffer b;
    b.assign(X("Hello \t\r\n").c_str());
    b.trim_end();
    EXPECT_EQ("Hello", narrow(b.c_str()));
    b.assign(X(" \t").c_str());
    b.trim_end();
    EXPECT_EQ(0, b.length());
    b.assign(X("Hello").c_str());
    EXPECT_TRUE(b.equals_nocase(X("hELLO").c_str()));
    EXPECT_FALSE(b.equals_nocase(X("hell").c_str()));
    b.substring(1, 3);
    EXPECT_EQ("ell", narrow(b.c_str()));
    b.substring(2, 100);
    EXPECT_EQ("l", narrow(b.c_str()));
    b.substring(5, 1);
    EXPECT_EQ("", narrow(b.c_str()));
    b.assign(u'x');
    EXPECT_EQ("x", narrow(b.c_str()));
    b.assign(nullptr);
    EXPECT_EQ(0, b.length());
    xml_buffer other;
    other.assign(X("yz").c_str());
    b.append(other);
    EXPECT_EQ("yz", narrow(b.c_str()));
}

TEST(XmlBuffer, EscapesTheFiveMarkupCharacters) {
    struct row { const char* in; const char* out; };
    const row rows[] = {
        {"plain\r\n\ttext", "plain\\r\\n\\ttext"},
        {"a<b & \"c\" 'd'", "a&lt;b &amp; &quot;c&quot; &#39;d&#39;"},
        {"<>&'\"", "&lt;&gt;&amp;&#39;&quot;"},
        {"&amp;", "&amp;amp;"},
        {"", ""},
    };
    for (const row& r : rows) {
        xml_buffer b;
        b.assign(X(r.in).c_str());
        b.escape();
        EXPECT_EQ(r.out, narrow(b.c_str())) << r.in;
    }
}

TEST(XmlBuffer, DetachHandsOutARuntimeHeapString) {
    xml_buffer b;
    b.assign(X("owned").c_str());
    xml_char* s = b.detach();
    EXPECT_EQ("owned", narrow(s));
    std::free(s);
    EXPECT_EQ(0, b.length());
    b.append(X("again").c_str());
    EXPECT_EQ("again", narrow(b.c_str()));
}
