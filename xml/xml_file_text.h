#pragma once
// How the bytes of a file become the text the parser reads: UTF-16 little-endian after
// the byte-order mark FF FE; otherwise 8-bit text, read with the ANSI code page, or with
// UTF-8 when that first reading shows a declaration whose encoding is "UTF-8". The
// code-page conversion is the platform's and comes in as a function, so that every other
// step is platform-free (and runs the same in a native build).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "xml/kv_xml.h"

enum class xml_code_page { ansi, utf8 };

struct xml_free_deleter {
    void operator()(void* p) const noexcept { std::free(p); }
};
using xml_heap_text = std::unique_ptr<xml_char, xml_free_deleter>;

// The NUL-terminated 8-bit text as a malloc'ed NUL-terminated 16-bit text, or null when
// it cannot be converted. Conversion stops at the first zero byte.
using xml_convert_function = xml_heap_text (*)(const char* bytes, xml_code_page code_page);

// Loads `count` file bytes into the document (load_from_string of the text). The block
// must be 2-byte aligned and hold two spare bytes after the count: the text's terminator
// is written there. An odd last byte of a UTF-16 file is dropped. 0 when the conversion
// fails (the document is then untouched) or the text does not parse.
int kvxml_load_file_bytes(KV_xml_doc& doc, std::uint8_t* bytes, std::size_t count,
                          xml_convert_function convert);
