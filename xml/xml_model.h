#pragma once
// The implementation classes behind the interfaces. Clients never name them; the
// library's own parts (parser, serializer, copies) work on them directly.
#include <new>

#include "xml/kv_xml.h"
#include "xml/xml_arena.h"
#include "xml/xml_pool.h"

// Nodes and attributes that clients make come from the per-thread block cache (see
// xml_pool.h); those the parser makes come from its arena (xml_arena.h), their names in
// the same block. Either kind is freed with kvxml_free, never with delete.
#define KVXML_POOLED_ALLOCATION                                          \
    static void* operator new(std::size_t n) {                           \
        void* p = kvxml_pool_alloc(n);                                   \
        if (!p) throw std::bad_alloc();                                  \
        return p;                                                        \
    }                                                                    \
    static void operator delete(void* p, std::size_t n) noexcept { kvxml_pool_free(p, n); }

class KVXML_attrib final : public KV_xml_attrib {
public:
    KVXML_POOLED_ALLOCATION
    KVXML_attrib(const xml_char* attribute_name, std::int32_t name_length)
        : name(xml_buffer::unallocated), value(xml_buffer::unallocated), next(nullptr), prev(nullptr) {
        name.assign(attribute_name, name_length);
    }
    // An attribute in the arena: its name is an arena text in the same block, right after
    // it (kvxml_arena::allocate_with_text); names never change, so an attribute lives in
    // the arena exactly when its name is an adopted text.
    KVXML_attrib(xml_char* arena_name, std::int32_t name_length) noexcept
        : name(xml_buffer::unallocated), value(xml_buffer::unallocated), next(nullptr), prev(nullptr) {
        name.adopt(arena_name, name_length);
    }
    const xml_char* get_name() override { return name.c_str(); }
    const xml_char* get_value() override { return value.c_str(); }

    xml_buffer name;
    xml_buffer value;
    KVXML_attrib* next;
    KVXML_attrib* prev;
};

class KVXML_node final : public KV_xml_node {
public:
    KVXML_POOLED_ALLOCATION
    explicit KVXML_node(const xml_char* node_name);
    KVXML_node(const xml_char* node_name, std::int32_t name_length);
    // A node in the arena, its name an arena text in the same block (as for attributes).
    KVXML_node(xml_char* arena_name, std::int32_t name_length) noexcept
        : first_child(nullptr), next_sibling(nullptr), parent(nullptr), name(xml_buffer::unallocated),
          text(xml_buffer::unallocated), first_attribute(nullptr) {
        name.adopt(arena_name, name_length);
    }

    const xml_char* get_name() override { return name.c_str(); }
    KV_xml_attrib* get_attribute(std::int32_t index, const xml_char* name_filter) override;
    int set_attribute(const xml_char* attribute_name, const xml_char* value) override;
    int set_attribute_escaped(const xml_char* attribute_name, const xml_char* value) override;
    void remove_attribute(const xml_char* attribute_name) override;
    const xml_char* get_attribute_value(const xml_char* attribute_name) override;
    const xml_char* get_text() override { return text.c_str(); }
    void set_text(const xml_char* new_text) override { text.assign(new_text); }
    void set_text_escaped(const xml_char* new_text) override;
    xml_char* get_inner_text() override;
    int has_children() override { return first_child ? 1 : 0; }
    KV_xml_node* get_child(std::int32_t index, const xml_char* name_filter) override;
    KV_xml_node* find_descendant(const xml_char* wanted) override;
    KV_xml_node* add_child(const xml_char* child_name) override;
    void append_child(KV_xml_node* child) override;
    void remove_child(KV_xml_node* child) override;
    KV_xml_node* find_child_by_attribute(const xml_char* attribute_name,
                                         const xml_char* value) override;
    KV_xml_node* get_by_path(const xml_char* path) override;
    KV_xml_node* find_by_path(const xml_char* path) override;
    KV_xml_node* get_parent() override { return parent; }
    KV_xml_node* clone_into(KV_xml_node* source, KV_xml_node* new_parent) override;
    int copy_children(KV_xml_node* source, KV_xml_node* new_parent,
                      const xml_char* name_filter) override;
    void release() override;
    bool equals_shallow(KV_xml_node* other) override;
    bool differs_shallow(KV_xml_node* other) override { return !equals_shallow(other); }
    bool equals_deep(KV_xml_node* other) override;
    void get_text_escaped(xml_buffer& out) override;

    // The attribute of that name, creating it at the end of the list when missing.
    KVXML_attrib* attribute_slot(const xml_char* attribute_name, std::int32_t name_length);
    // A new attribute of that name after last, the list's last attribute (null: none).
    KVXML_attrib* link_attribute(const xml_char* attribute_name, std::int32_t name_length,
                                 KVXML_attrib* last);
    // The name "?xml" (A..Z folded), compared inline: the parser asks it of every element.
    bool is_declaration() const noexcept {
        if (name.length() != 4) return false;
        const xml_char* n = name.c_str();
        return n[0] == u'?' && xml_fold(n[1]) == u'x' && xml_fold(n[2]) == u'm' && xml_fold(n[3]) == u'l';
    }
    void link_child(KVXML_node* child) noexcept;  // append_child without the cast

    KVXML_node* first_child;
    KVXML_node* next_sibling;
    KVXML_node* parent;
    xml_buffer name;
    xml_buffer text;
    KVXML_attrib* first_attribute;

private:
    ~KVXML_node();  // only release() ends a node
    friend void kvxml_free(KVXML_node*, kvxml_release_batch&) noexcept;
};

// Ends one node (its attributes too, not its children) or one attribute, wherever it
// lives; the batch takes back the arena pieces.
void kvxml_free(KVXML_node* node, kvxml_release_batch& batch) noexcept;
void kvxml_free(KVXML_attrib* attribute) noexcept;

// Frees a node with its attributes and its whole subtree, without recursion.
void kvxml_destroy_tree(KVXML_node* node) noexcept;

// Owns a node that is not linked yet (parser temporaries, detached copies).
struct kvxml_node_guard {
    KVXML_node* node;
    explicit kvxml_node_guard(KVXML_node* n) noexcept : node(n) {}
    ~kvxml_node_guard() { if (node) kvxml_destroy_tree(node); }
    KVXML_node* release() noexcept { KVXML_node* n = node; node = nullptr; return n; }
    kvxml_node_guard(const kvxml_node_guard&) = delete;
    kvxml_node_guard& operator=(const kvxml_node_guard&) = delete;
};

inline KVXML_node* kvxml_impl(KV_xml_node* node) noexcept { return static_cast<KVXML_node*>(node); }

class KVXML_doc final : public KV_xml_doc {
public:
    // From the block cache too: a call makes and releases a document or two.
    KVXML_POOLED_ALLOCATION
    KVXML_doc() = default;
    ~KVXML_doc() override;

    void free_string(xml_char* s) override;
    void release() override { delete this; }
    void clear() override;
    int create_new() override;
    int load_from_string(const xml_char* source) override;
    int load_from_file(const xml_char* path) override;      // xml_files_win.cpp
    int load_from_handle(xml_handle file) override;          // xml_files_win.cpp
    xml_char* to_string() override;
    int save_to_file(const xml_char* path) override;         // xml_files_win.cpp
    int save_to_handle(xml_handle file) override;            // xml_files_win.cpp
    KV_xml_node* get_root() override { return root; }
    int copy_document(KV_xml_doc* source, KV_xml_doc* destination) override;

    // The provisional root: a node "?xml" with "version" "1.0".
    static KVXML_node* make_declaration();
    // load_from_string of a text whose NUL at end (*end == 0) the caller knows.
    int load_until(const xml_char* source, const xml_char* end);

    KVXML_node* root = nullptr;
};
