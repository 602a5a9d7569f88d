// XML file bytes through the byte-order-mark test, the 8-bit reading with the ANSI code
// page, the UTF-8 declaration test and the UTF-8 reading: the steps load_from_handle runs
// after reading a file, with a native stand-in for the platform's code-page conversion
// (Windows-1252 for the ANSI code page, UTF-8 with U+FFFD for malformed sequences).
// The first byte of the input selects a conversion that fails (none, the ANSI or the UTF-8
// one): a failed conversion leaves the document as it was. When a file loads and its tree
// reads back, its saved form (UTF-16 with the byte-order mark) loads to the same text.
#include <cstring>

#include "tests/fuzz/fuzz_support.h"
#include "xml/xml_file_text.h"

namespace {
// Windows-1252 at 0x80..0x9F; the five unassigned bytes map to the same code point.
constexpr char16_t cp1252_high[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void append_utf8(const unsigned char* s, std::u16string& out) {
    while (*s) {
        const unsigned char lead = *s;
        if (lead < 0x80) { out += lead; ++s; continue; }
        int length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
        if (lead > 0xF4) length = 0;
        char32_t cp = length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        int i = 1;
        for (; i < length && (s[i] & 0xC0) == 0x80; ++i) cp = (cp << 6) | (s[i] & 0x3F);
        const bool whole = length != 0 && i == length;
        const bool valid = whole && !(length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) &&
                           !(length == 4 && (cp < 0x10000 || cp > 0x10FFFF));
        if (!valid) { out += u'\uFFFD'; s += i > 1 ? i : 1; continue; }
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 | ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 | ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        s += length;
    }
}

int failing = 0;  // 0 none, 1 the ANSI conversion, 2 the UTF-8 conversion
bool refused = false;  // a conversion has failed during this load

xml_heap_text convert(const char* bytes, xml_code_page code_page) {
    if ((failing == 1 && code_page == xml_code_page::ansi) || (failing == 2 && code_page == xml_code_page::utf8))
    {
        refused = true;
        return nullptr;
    }
    std::u16string units;
    const auto* s = reinterpret_cast<const unsigned char*>(bytes);
    if (code_page == xml_code_page::utf8) {
        append_utf8(s, units);
    } else {
        for (; *s; ++s) units += (*s >= 0x80 && *s < 0xA0) ? cp1252_high[*s - 0x80] : char16_t{*s};
    }
    auto* text = static_cast<xml_char*>(std::malloc((units.size() + 1) * sizeof(xml_char)));
    if (!text) return nullptr;
    std::memcpy(text, units.c_str(), (units.size() + 1) * sizeof(xml_char));
    return xml_heap_text(text);
}

// The file bytes in a malloc'ed block with the two spare bytes the loader needs.
int load_bytes(KV_xml_doc& doc, const std::uint8_t* data, std::size_t size) {
    auto* block = static_cast<std::uint8_t*>(std::malloc(size + 2));
    if (size) std::memcpy(block, data, size);
    const int loaded = kvxml_load_file_bytes(doc, block, size, convert);
    std::free(block);
    return loaded;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    failing = data[0] % 3;
    refused = false;
    fuzz_doc doc = fuzz_new_doc();
    doc->create_new();
    doc->get_root()->add_child(KVXML_TEXT("before"));
    const xml_text before = fuzz_serialize(*doc);
    if (!load_bytes(*doc, data + 1, size - 1)) {
        // A failed conversion comes before any change to the document.
        if (refused) FUZZ_CHECK(fuzz_serialize(*doc) == before);
        return 0;
    }
    FUZZ_CHECK(!refused);
    const xml_text first = fuzz_serialize(*doc);
    if (!fuzz_reads_back(*doc)) return 0;

    failing = 0;
    std::basic_string<std::uint8_t> saved;
    for (xml_char c : first) {
        saved += static_cast<std::uint8_t>(c & 0xFF);
        saved += static_cast<std::uint8_t>(c >> 8);
    }
    fuzz_doc again = fuzz_new_doc();
    FUZZ_CHECK(load_bytes(*again, saved.data(), saved.size()) == 1);
    FUZZ_CHECK(fuzz_serialize(*again) == first);
    return 0;
}
