#pragma once
// The XML library's public face: three abstract interfaces and the factory.
// The order of the virtual operations is part of the interface (clients call through
// the vtable): never reorder, insert or remove an operation.
//
// Results typed int are 1 for success, 0 for failure. A const xml_char* result points
// into the node or attribute; an xml_char* result is a new malloc'ed string that the
// caller gives back through KV_xml_doc::free_string (or free()). Indexes count from 0;
// a negative index finds nothing; a null name filter matches every name.
//
// Nesting: a load fails (returns 0, as for malformed text) when an element would lie
// deeper than kvxml_max_depth levels below the document's root (the top-level elements
// are at level 1). Trees built through the interface have no depth limit: releasing,
// copying, serializing, comparing and searching them do not recurse.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "xml/xml_buffer.h"
#include "xml/xml_char.h"

inline constexpr int kvxml_max_depth = 256;

// An open file handle (a Windows HANDLE); INVALID_HANDLE_VALUE is (void*)-1.
using xml_handle = void*;

class KV_xml_attrib {
public:
    virtual const xml_char* get_name() = 0;
    virtual const xml_char* get_value() = 0;
};

class KV_xml_node {
public:
    virtual const xml_char* get_name() = 0;
    virtual KV_xml_attrib* get_attribute(std::int32_t index, const xml_char* name_filter) = 0;
    virtual int set_attribute(const xml_char* name, const xml_char* value) = 0;
    virtual int set_attribute_escaped(const xml_char* name, const xml_char* value) = 0;
    virtual void remove_attribute(const xml_char* name) = 0;
    virtual const xml_char* get_attribute_value(const xml_char* name) = 0;
    virtual const xml_char* get_text() = 0;
    virtual void set_text(const xml_char* text) = 0;
    virtual void set_text_escaped(const xml_char* text) = 0;
    virtual xml_char* get_inner_text() = 0;
    virtual int has_children() = 0;
    virtual KV_xml_node* get_child(std::int32_t index, const xml_char* name_filter) = 0;
    virtual KV_xml_node* find_descendant(const xml_char* name) = 0;
    virtual KV_xml_node* add_child(const xml_char* name) = 0;
    virtual void append_child(KV_xml_node* child) = 0;
    virtual void remove_child(KV_xml_node* child) = 0;
    virtual KV_xml_node* find_child_by_attribute(const xml_char* name, const xml_char* value) = 0;
    virtual KV_xml_node* get_by_path(const xml_char* path) = 0;
    virtual KV_xml_node* find_by_path(const xml_char* path) = 0;
    virtual KV_xml_node* get_parent() = 0;
    virtual KV_xml_node* clone_into(KV_xml_node* source, KV_xml_node* parent) = 0;
    virtual int copy_children(KV_xml_node* source, KV_xml_node* parent,
                              const xml_char* name_filter) = 0;
    virtual void release() = 0;
    virtual bool equals_shallow(KV_xml_node* other) = 0;
    virtual bool differs_shallow(KV_xml_node* other) = 0;
    virtual bool equals_deep(KV_xml_node* other) = 0;
    virtual void get_text_escaped(xml_buffer& out) = 0;
    // No destructor: a node ends its life through release().
};

class KV_xml_doc {
public:
    virtual void free_string(xml_char* s) = 0;
    virtual void release() = 0;
    virtual void clear() = 0;
    virtual int create_new() = 0;
    virtual int load_from_string(const xml_char* text) = 0;
    virtual int load_from_file(const xml_char* path) = 0;
    virtual int load_from_handle(xml_handle file) = 0;
    virtual xml_char* to_string() = 0;
    virtual int save_to_file(const xml_char* path) = 0;
    virtual int save_to_handle(xml_handle file) = 0;
    virtual KV_xml_node* get_root() = 0;
    virtual int copy_document(KV_xml_doc* source, KV_xml_doc* destination) = 0;
    virtual ~KV_xml_doc() = default;
};

// A new, empty document (no root); the caller ends it with release().
KV_xml_doc* create_xml_document();

// load_from_string(text) for a caller that holds the text's length already (a BSTR's, a
// buffer's size), so the load need not count it first. text[length] must be NUL; when
// it is not, or the document is not one of create_xml_document's, this counts as
// load_from_string does. A NUL before text[length] ends the text exactly as it ends it
// for load_from_string: what follows it is not read as part of the document.
int kvxml_load_counted(KV_xml_doc& document, const xml_char* text, std::size_t length);

// Owners for clients: a document ended with release(), and a string from to_string or
// get_inner_text given back with free().
struct KV_xml_doc_release {
    void operator()(KV_xml_doc* document) const noexcept { document->release(); }
};
using kv_xml_document = std::unique_ptr<KV_xml_doc, KV_xml_doc_release>;
struct KV_xml_string_free {
    void operator()(xml_char* text) const noexcept { std::free(text); }
};
using kv_xml_string = std::unique_ptr<xml_char, KV_xml_string_free>;
