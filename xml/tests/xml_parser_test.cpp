// The parser's rules and quirks, one table per rule: input, load result, resulting tree.
#include <gtest/gtest.h>

#include <string>

#include "xml_test_support.h"

namespace {
struct parse_case {
    const char* input;
    int result;
    const char* tree;  // dump of the root after the load
};

void check(const parse_case* rows, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const parse_case& row = rows[i];
        doc_ptr doc = new_doc();
        const xml_string input = X(row.input);
        EXPECT_EQ(row.result, doc->load_from_string(input.c_str())) << "input: " << row.input;
        EXPECT_EQ(row.tree, dump(doc->get_root())) << "input: " << row.input;
        // Given with its length, also one that takes in text after a NUL: the first NUL
        // ends the text either way.
        const xml_string longer = input + xml_char(0) + X("<z a=\"b\">c</z>  ");
        for (const std::size_t length : {input.size(), longer.size()}) {
            doc_ptr counted = new_doc();
            EXPECT_EQ(row.result, kvxml_load_counted(*counted, longer.c_str(), length)) << row.input;
            EXPECT_EQ(row.tree, dump(counted->get_root())) << "input: " << row.input;
        }
    }
}
#define CHECK_TABLE(rows) check(rows, sizeof(rows) / sizeof(rows[0]))

const char* const provisional = "?xml[version=1.0]";
}  // namespace

TEST(XmlParser, TextWithoutElementsLoadsIntoTheProvisionalRoot) {
    const parse_case rows[] = {
        {"", 1, provisional},
        {" \t\r\n ", 1, provisional},
        {"no markup at all", 1, provisional},
        {"<!-- only a comment -->", 1, provisional},
        {"<!-- never closed", 1, provisional},
    };
    CHECK_TABLE(rows);
}

TEST(XmlParser, NullTextLoadsIntoTheProvisionalRoot) {
    doc_ptr doc = new_doc();
    EXPECT_EQ(1, doc->load_from_string(nullptr));
    EXPECT_EQ(provisional, dump(doc->get_root()));
}

TEST(XmlParser, ByteOrderMarkIsSteppedOver) {
    doc_ptr doc = new_doc();
    const xml_char text[] = {0xFEFF, u'<', u'a', u'/', u'>', 0};
    EXPECT_EQ(1, doc->load_from_string(text));
    EXPECT_EQ("?xml[version=1.0]{a}", dump(doc->get_root()));
}

TEST(XmlParser, DeclarationBecomesRootAndSwallowsWhatFollows) {
    const parse_case rows[] = {
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><function name=\"x\"/>", 1,
         "?xml[version=1.0;encoding=UTF-8]{function[name=x]}"},
        {"<function name=\"x\"></function>", 1, "?xml[version=1.0]{function[name=x]}"},
        {"<?xml encoding='ascii'?><a/>", 1, "?xml[encoding=ascii]{a}"},
        {"<?XML version='9'?><a/>", 1, "?XML[version=9]{a}"},
        {"<?xml version='9'?>text is dropped<a/>", 1, "?xml[version=9]{a}"},
        {"<?xml version='9'?><a/><?xml version='2'?><b/><c/>", 1,
         "?xml[version=9]{a,?xml[version=2]{b,c}}"},
        {"<a/><?xml version='2'?><b/>", 1, "?xml[version=1.0]{a,?xml[version=2]{b}}"},
        // Closed with "/>": it becomes the root without children, what follows is dropped.
        {"<?xml version='9'?/><a/>", 1, "?xml[version=9]"},
        {"<?xml version='9'/><function name='x'/>", 1, "?xml[version=9]"},
        // The "?" is accepted only right after an attribute value.
        {"<?xml?>", 0, provisional},
        {"<?xml ?>", 0, provisional},
        {"<?xml?></?xml?>", 1, "?xml[version=1.0]{?xml?}"},
        // A declaration whose content fails is not kept.
        {"<?xml version='9'?><a/><b>", 0, provisional},
    };
    CHECK_TABLE(rows);
}

TEST(XmlParser, TopLevelTextAndEndTags) {
    const parse_case rows[] = {
        {"x<a/>y<b/>z", 1, "?xml[version=1.0]{a,b}"},
        {"<a/></b><c/>", 1, "?xml[version=1.0]{a}"},
        {"<a/></x>garbage<<", 1, "?xml[version=1.0]{a}"},
        {"<!--><a/>", 1, "?xml[version=1.0]{a}"},
        {"<a/><!-- c --> <!-- d --><b/>", 1, "?xml[version=1.0]{a,b}"},
        {"<a/>x<!--c-->y<b/>", 0, "?xml[version=1.0]{a}"},
        {"<a/><", 0, "?xml[version=1.0]{a}"},
        {"<a/><b><c/></b><d>", 0, "?xml[version=1.0]{a,b{c}}"},
        {"<a/><b><c></b>", 0, "?xml[version=1.0]{a}"},
    };
    CHECK_TABLE(rows);
}

TEST(XmlParser, TagNames) {
    const parse_case rows[] = {
        {"<A></a>", 1, "?xml[version=1.0]{A}"},
        {"< a></ a >", 1, "?xml[version=1.0]{a}"},
        {"<a />", 1, "?xml[version=1.0]{a}"},
        {"<a/ >", 0, provisional},
        {"<a\tb/>", 1, "?xml[version=1.0]{a\\tb}"},
        {"<a\r\nb></a\r\nb>", 1, "?xml[version=1.0]{a\\r\\nb}"},
        {"<></>", 1, "?xml[version=1.0]{}"},
        {"<a></a junk=\"x\">", 1, "?xml[version=1.0]{a}"},
        {"<a><b/></c></a>", 0, provisional},
        {"<a><b></a></b>", 0, provisional},
        {"<abc></ab>", 0, provisional},
        {"<ab></abc>", 0, provisional},
        {"<a>text", 0, provisional},
        {"<a><b/>", 0, provisional},
        {"<a><b/>x", 0, provisional},
        {"<a></", 0, provisional},
        {"<", 0, provisional},
    };
    CHECK_TABLE(rows);
}

TEST(XmlParser, AttributeLists) {
    const parse_case rows[] = {
        {"<a b='say \"hi\"' c=\"it's\"/>", 1, "?xml[version=1.0]{a[b=say \"hi\";c=it's]}"},
        {"<a b=\"1\" c=\"2\" B=\"3\"/>", 1, "?xml[version=1.0]{a[b=3;c=2]}"},
        {"<a xy='1' x='2' XY='3'/>", 1, "?xml[version=1.0]{a[xy=3;x=2]}"},
        {"<a b = '1'/>", 1, "?xml[version=1.0]{a[b=1]}"},
        {"<a b=<!--c-->'1'/>", 1, "?xml[version=1.0]{a[b=1]}"},
        {"<a b='1'c='2'/>", 1, "?xml[version=1.0]{a[b=1;c=2]}"},
        {"<a b='x\r\ny\rz\n'/>", 1, "?xml[version=1.0]{a[b=xyz]}"},
        {"<a b=\"x<y&z\"/>", 1, "?xml[version=1.0]{a[b=x<y&z]}"},
        {"<a b=\"&lt;&amp;&#65;\"/>", 1, "?xml[version=1.0]{a[b=<&A]}"},
        {"<a x/y='1'/>", 1, "?xml[version=1.0]{a[x/y=1]}"},
        {"<a\tb='1'/>", 1, "?xml[version=1.0]{a\\tb='1'}"},
        {"<a b>", 0, provisional},
        {"<a b=1>", 0, provisional},
        {"<a b=\"x>y\"/>", 0, provisional},
        {"<a b=\"open/>", 0, provisional},
        {"<a b='1' / >", 0, provisional},
        {"<a b='1'/ c='2'>", 0, provisional},
        {"<a b='1'", 0, provisional},
        {"<!DOCTYPE x><a/>", 0, provisional},
        {"<?pi data?><a/>", 0, provisional},
    };
    CHECK_TABLE(rows);
}

TEST(XmlParser, RepeatedNamesAmongManyAttributesKeepTheirPlace) {
    // Enough attributes for the parser (and a copy) to find names through their index.
    std::string text = "<a";
    for (int i = 0; i < 100; ++i) text += " n" + std::to_string(i) + "='" + std::to_string(i) + "'";
    for (int i = 0; i < 100; i += 7) text += " N" + std::to_string(i) + "='x'";
    doc_ptr doc = new_doc();
    ASSERT_EQ(1, doc->load_from_string(X((text + "/>").c_str()).c_str()));
    KV_xml_node* a = doc->get_root()->get_child(0, nullptr);
    for (int i = 0; i < 100; ++i) {
        KV_xml_attrib* attribute = a->get_attribute(i, nullptr);
        ASSERT_NE(nullptr, attribute);
        EXPECT_EQ("n" + std::to_string(i), narrow(attribute->get_name()));
        EXPECT_EQ(i % 7 ? std::to_string(i) : "x", narrow(attribute->get_value()));
    }
    EXPECT_EQ(nullptr, a->get_attribute(100, nullptr));
    EXPECT_EQ(dump(a), dump(a->clone_into(a, doc->get_root())));
}

TEST(XmlParser, ElementText) {
    const parse_case rows[] = {
        {"<a>x<!--c--></a>", 1, "?xml[version=1.0]{a\"x\"}"},
        {"<a><!--c-->x</a>", 1, "?xml[version=1.0]{a\"x\"}"},
        {"<a>x<!--c-->y</a>", 0, provisional},
        {"<a>\r\n    line one\r\n    line two  \r\n</a>", 1,
         "?xml[version=1.0]{a\"line one    line two\"}"},
        {"<a>  padded \t </a>", 1, "?xml[version=1.0]{a\"padded\"}"},
        {"<a>&#10;x&#32;</a>", 1, "?xml[version=1.0]{a\"\\nx \"}"},
        {"<a>&lt;b&gt; &amp;amp;</a>", 1, "?xml[version=1.0]{a\"<b> &amp;\"}"},
        {"<r>hello<a/></r>", 1, "?xml[version=1.0]{r{a}}"},
        {"<r>x<a>y</a>z</r>", 1, "?xml[version=1.0]{r{a\"y\"}}"},
        {"<a>x/</a>", 1, "?xml[version=1.0]{a\"x/\"}"},
        {"<a><![CDATA[x]]></a>", 0, provisional},
    };
    CHECK_TABLE(rows);
}

TEST(XmlParser, NonAsciiWhiteSpaceIsSkippedButNeverEndsAName) {
    doc_ptr doc = new_doc();
    // U+3000 before the element and inside the end tag's skip; U+00A0 inside the name.
    const xml_char text[] = {0x3000, u'<', u'a', 0x00A0, u'b', u'>', u'x', 0x2003, u'<', u'/',
                             0x3000, u'a', 0x00A0, u'b', u'>', 0};
    EXPECT_EQ(1, doc->load_from_string(text));
    EXPECT_EQ("?xml[version=1.0]{a\\u00A0b\"x\"}", dump(doc->get_root()));
}

TEST(XmlParser, ReloadReplacesThePreviousTree) {
    doc_ptr doc = new_doc();
    ASSERT_EQ(1, doc->load_from_string(X("<a/><b/>").c_str()));
    ASSERT_EQ(1, doc->load_from_string(X("<c/>").c_str()));
    EXPECT_EQ("?xml[version=1.0]{c}", dump(doc->get_root()));
}
