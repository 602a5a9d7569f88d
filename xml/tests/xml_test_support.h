#pragma once
// Helpers shared by the XML tests: 16-bit strings from ASCII literals, and a compact
// dump of a tree so a table row can state a whole expected tree in one string.
#include <memory>
#include <string>

#include "xml/kv_xml.h"

using xml_string = std::basic_string<xml_char>;

// The ASCII literal widened unit by unit ("\r", "\n" and the like pass through).
xml_string X(const char* ascii);
// The 16-bit string as ASCII, other units as \uXXXX.
std::string narrow(const xml_char* s);
std::string narrow(const xml_string& s);

// name[a=v;b=w]"text"{child,child}; attributes, text and children only when present.
std::string dump(KV_xml_node* node);

using doc_ptr = kv_xml_document;
inline doc_ptr new_doc() { return doc_ptr(create_xml_document()); }

// to_string as an owned string (the returned buffer is given back with free_string).
xml_string serialize(KV_xml_doc* doc);
// "<a><a>...</a></a>" with the given number of nested elements.
xml_string nested(int levels, const char* name = "a");
