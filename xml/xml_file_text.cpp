#include "xml/xml_file_text.h"

#include "xml/xml_parser.h"

int kvxml_load_file_bytes(KV_xml_doc& doc, std::uint8_t* bytes, std::size_t count,
                          xml_convert_function convert) {
    if (count >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        auto* units = reinterpret_cast<xml_char*>(bytes);
        units[count / 2] = 0;
        return doc.load_from_string(units + 1);
    }
    bytes[count] = 0;
    const char* narrow = reinterpret_cast<const char*>(bytes);
    const xml_heap_text ansi = convert(narrow, xml_code_page::ansi);
    if (!ansi) return 0;
    if (!kvxml_declares_utf8(ansi.get())) return doc.load_from_string(ansi.get());
    const xml_heap_text text = convert(narrow, xml_code_page::utf8);
    if (!text) return 0;
    return doc.load_from_string(text.get());
}
