// KVXML_doc: lifecycle, load_from_string and to_string. The file and handle operations
// are in xml_files_win.cpp.
#include <cstdlib>
#include <typeinfo>

#include "xml/xml_model.h"
#include "xml/xml_parser.h"
#include "xml/xml_serializer.h"

KV_xml_doc* create_xml_document() { return new KVXML_doc(); }

KVXML_doc::~KVXML_doc() { clear(); }

void KVXML_doc::free_string(xml_char* s) { std::free(s); }

void KVXML_doc::clear() {
    kvxml_destroy_tree(root);
    root = nullptr;
}

KVXML_node* KVXML_doc::make_declaration() {
    kvxml_node_guard declaration(new KVXML_node(KVXML_TEXT("?xml")));
    declaration.node->set_attribute(KVXML_TEXT("version"), KVXML_TEXT("1.0"));
    return declaration.release();
}

int KVXML_doc::create_new() {
    clear();
    root = make_declaration();
    return 1;
}

int KVXML_doc::load_from_string(const xml_char* source) {
    if (!source) return create_new();
    return load_until(source, source + xml_length(source));
}

int kvxml_load_counted(KV_xml_doc& document, const xml_char* text, std::size_t length) {
    // The exact type, not a cast through the hierarchy: a document of this library is
    // always a KVXML_doc (the class is final), and the check is a compare.
    KVXML_doc* own = typeid(document) == typeid(KVXML_doc) ? static_cast<KVXML_doc*>(&document) : nullptr;
    if (!own || !text || text[length] != 0) return document.load_from_string(text);
    return own->load_until(text, text + length);
}

int KVXML_doc::load_until(const xml_char* source, const xml_char* end) {
    clear();
    if (*source == xml_byte_order_mark) ++source;  // the BOM is not the NUL at end
    if (!kvxml_parse_document(root, source, end)) return 0;
    KVXML_node* first = root->first_child;
    if (first && first->is_declaration()) {
        // The text's own declaration replaces the provisional root; whatever else the
        // provisional root holds (elements after a "/>"-closed declaration) goes with it.
        root->first_child = first->next_sibling;
        first->next_sibling = nullptr;
        first->parent = nullptr;
        kvxml_destroy_tree(root);
        root = first;
    }
    return 1;
}

xml_char* KVXML_doc::to_string() {
    xml_buffer out(xml_buffer::unallocated);  // the serializer sizes it at once
    kvxml_serialize(root, out);
    return out.detach();
}
