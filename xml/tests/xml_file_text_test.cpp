// File bytes to the parsed text: UTF-16 after its byte-order mark (an odd last byte
// dropped), 8-bit text through the ANSI or, when declared, the UTF-8 conversion, and a
// failing conversion. The conversions are stand-ins: ANSI as ISO 8859-1, UTF-8 of two
// bytes at most.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/bytes.h"
#include "xml/xml_file_text.h"
#include "xml_test_support.h"

namespace {
xml_heap_text to_units(const char* narrow, xml_code_page code_page) {
    const auto* s = reinterpret_cast<const unsigned char*>(narrow);
    auto* out = static_cast<xml_char*>(std::malloc((std::strlen(narrow) + 1) * sizeof(xml_char)));
    xml_char* at = out;
    for (; *s; ++s) {
        if (code_page == xml_code_page::utf8 && (*s & 0xE0) == 0xC0 && (s[1] & 0xC0) == 0x80) {
            *at++ = static_cast<xml_char>((*s & 0x1F) << 6 | (s[1] & 0x3F));
            ++s;
        } else {
            *at++ = *s;
        }
    }
    *at = 0;
    return xml_heap_text(out);
}
xml_heap_text cannot_convert(const char*, xml_code_page) { return nullptr; }

TEST(XmlFileText, BytesBecomeTheTextTheirEncodingSays) {
    const struct { bytes file; xml_convert_function convert; int result; const char* tree; } rows[] = {
        {utf16le(u"<a t='\x4E2D'>x</a>"), to_units, 1, "?xml[version=1.0]{a[t=\\u4E2D]\"x\"}"},
        {utf16le(u"<a>x</a>") + text_bytes("<"), to_units, 1, "?xml[version=1.0]{a\"x\"}"},
        {utf16le(u""), to_units, 1, "?xml[version=1.0]"},
        // The last unit of the file is read: without it "<b/" would be all of b.
        {utf16le(u"<a/><b/>"), to_units, 1, "?xml[version=1.0]{a,b}"},
        {text_bytes("<a>\xC3\xA9</a>"), to_units, 1, "?xml[version=1.0]{a\"\\u00C3\\u00A9\"}"},
        {text_bytes("<?xml version='1.0' encoding='UTF-8'?><a>\xC3\xA9</a>"), to_units, 1,
         "?xml[version=1.0;encoding=UTF-8]{a\"\\u00E9\"}"},
        {text_bytes("<a>x</a>"), cannot_convert, 0, "?xml[version=1.0]{old}"},
    };
    for (const auto& row : rows) {
        doc_ptr doc = new_doc();
        ASSERT_EQ(1, doc->load_from_string(X("<old/>").c_str()));
        // 2-byte aligned, with the two spare bytes the terminator goes into.
        std::vector<std::uint16_t> block(row.file.size() / 2 + 2);
        auto* file = reinterpret_cast<std::uint8_t*>(block.data());
        std::memcpy(file, row.file.data(), row.file.size());
        EXPECT_EQ(row.result, kvxml_load_file_bytes(*doc, file, row.file.size(), row.convert)) << row.tree;
        EXPECT_EQ(row.tree, dump(doc->get_root()));
    }
}
}  // namespace
