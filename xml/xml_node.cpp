// KVXML_node: lookups, tree primitives, comparisons and release. Every walk over a
// subtree is iterative (parent and sibling links), so no tree depth exhausts the stack.
#include <cstdlib>
#include <new>
#include <vector>

#include "xml/xml_model.h"
#include "xml/xml_tree_walk.h"

namespace {
const xml_char empty_string[1] = {0};

bool matches(const xml_buffer& name, const xml_char* filter) noexcept {
    return !filter || name.equals_nocase(filter);
}

// The pieces of a path split at "/", empty pieces left out.
struct path_piece {
    const xml_char* start;
    std::int32_t length;
};
std::vector<path_piece> split_path(const xml_char* path) {
    std::vector<path_piece> pieces;
    if (!path) return pieces;
    const xml_char* p = path;
    while (*p) {
        while (*p == u'/') ++p;
        const xml_char* start = p;
        while (*p && *p != u'/') ++p;
        if (p > start) pieces.push_back({start, xml_checked_length(static_cast<std::size_t>(p - start))});
    }
    return pieces;
}

bool name_is(const xml_buffer& name, const path_piece& piece) noexcept {
    return kvxml_equal_run_nocase(name.c_str(), piece.start, piece.length);
}

// The first sibling from candidate on (inclusive) whose name is the piece.
KVXML_node* first_named(KVXML_node* candidate, const path_piece& piece) noexcept {
    while (candidate && !name_is(candidate->name, piece)) candidate = kvxml_next_sibling(candidate);
    return candidate;
}
}  // namespace

bool kvxml_equal_run_nocase(const xml_char* z, const xml_char* run, std::int32_t n) noexcept {
    for (std::int32_t i = 0; i < n; ++i) {
        if (z[i] == 0 || xml_fold(z[i]) != xml_fold(run[i])) return false;
    }
    return z[n] == 0;
}

KVXML_node::KVXML_node(const xml_char* node_name)
    : KVXML_node(node_name, xml_checked_length(xml_length(node_name))) {}

KVXML_node::KVXML_node(const xml_char* node_name, std::int32_t name_length)
    : first_child(nullptr), next_sibling(nullptr), parent(nullptr), name(xml_buffer::unallocated),
      text(xml_buffer::unallocated), first_attribute(nullptr) {
    name.assign(node_name, name_length);
}


KVXML_node::~KVXML_node() {
    for (KVXML_attrib* a = first_attribute; a;) {
        KVXML_attrib* next = a->next;
        kvxml_free(a);
        a = next;
    }
}

namespace {
// The adopted arena text of a buffer that ends with its owner (returned, for the batch,
// the buffer left as it is), or null after ending the heap array a client gave it.
const xml_char* take_text(xml_buffer& b) noexcept {
    if (b.adopted()) return b.c_str();
    b.~xml_buffer();
    return nullptr;
}

// The pieces go to the batch in the order the parser made them (block, then value or
// text), so that they join one run; every field is read before its piece goes.
[[gnu::always_inline]] inline void free_attribute(KVXML_attrib* attribute, kvxml_release_batch& batch) noexcept {
    if (!attribute->name.adopted()) {
        delete attribute;  // its buffers may still hold arena texts: they take them back
        return;
    }
    // An arena attribute shares its block with its name, which never changes: the block
    // is two pieces. With the value taken out its buffers hold nothing more, so the
    // attribute needs no destructor run.
    const xml_char* value = take_text(attribute->value);
    batch.release_block_and_text(attribute->name.c_str(), value);
}
}  // namespace

namespace {
// An arena node (its name adopted): as for attributes, the node's block holds its name,
// and its buffers need no destructor run. Inline in the tree's release.
[[gnu::always_inline]] inline void free_arena_node(KVXML_node* node, kvxml_release_batch& batch) noexcept {
    KVXML_attrib* a = node->first_attribute;
    const xml_char* text = take_text(node->text);
    batch.release(node->name.c_str(), 2);
    while (a) {
        KVXML_attrib* next = a->next;
        free_attribute(a, batch);
        a = next;
    }
    if (text) batch.release(text);
}
}  // namespace

void kvxml_free(KVXML_node* node, kvxml_release_batch& batch) noexcept {
    if (node->name.adopted()) {
        free_arena_node(node, batch);
        return;
    }
    KVXML_attrib* a = node->first_attribute;
    node->first_attribute = nullptr;
    while (a) {
        KVXML_attrib* next = a->next;
        free_attribute(a, batch);
        a = next;
    }
    delete node;
}

void kvxml_free(KVXML_attrib* attribute) noexcept {
    kvxml_release_batch batch;
    free_attribute(attribute, batch);
}

void kvxml_destroy_tree(KVXML_node* node) noexcept {
    if (!node) return;
    // The nodes waiting to be freed form one list through their sibling links. A node
    // with children hands its first child to the front of that list, ahead of itself,
    // so every node is visited a constant number of times. The top node's own sibling
    // link is not followed: release does not unlink from the parent.
    kvxml_release_batch batch;
    KVXML_node* n = node->first_child;
    kvxml_free(node, batch);
    while (n) {
        if (KVXML_node* child = n->first_child) {
            n->first_child = child->next_sibling;
            child->next_sibling = n;
            n = child;
        } else {
            KVXML_node* next = n->next_sibling;
            if (n->name.adopted()) {
                free_arena_node(n, batch);
            } else {
                kvxml_free(n, batch);
            }
            n = next;
        }
    }
}

void KVXML_node::release() { kvxml_destroy_tree(this); }

KV_xml_attrib* KVXML_node::get_attribute(std::int32_t index, const xml_char* name_filter) {
    if (index < 0) return nullptr;
    for (KVXML_attrib* a = first_attribute; a; a = a->next) {
        if (matches(a->name, name_filter) && index-- == 0) return a;
    }
    return nullptr;
}

KVXML_attrib* KVXML_node::attribute_slot(const xml_char* attribute_name, std::int32_t name_length) {
    KVXML_attrib* last = nullptr;
    for (KVXML_attrib* a = first_attribute; a; a = a->next) {
        if (kvxml_equal_run_nocase(a->name.c_str(), attribute_name, name_length)) return a;
        last = a;
    }
    return link_attribute(attribute_name, name_length, last);
}

KVXML_attrib* KVXML_node::link_attribute(const xml_char* attribute_name, std::int32_t name_length,
                                         KVXML_attrib* last) {
    auto* added = new KVXML_attrib(attribute_name, name_length);
    added->prev = last;
    (last ? last->next : first_attribute) = added;
    return added;
}

int KVXML_node::set_attribute(const xml_char* attribute_name, const xml_char* value) {
    if (!attribute_name) attribute_name = empty_string;
    attribute_slot(attribute_name, xml_checked_length(xml_length(attribute_name)))->value.assign(value);
    return 1;
}

int KVXML_node::set_attribute_escaped(const xml_char* attribute_name, const xml_char* value) {
    xml_buffer decoded;
    decoded.assign(value);
    decoded.decode_entities();
    return set_attribute(attribute_name, decoded.c_str());
}

void KVXML_node::remove_attribute(const xml_char* attribute_name) {
    for (KVXML_attrib* a = first_attribute; a; a = a->next) {
        if (!a->name.equals_nocase(attribute_name)) continue;
        (a->prev ? a->prev->next : first_attribute) = a->next;
        if (a->next) a->next->prev = a->prev;
        kvxml_free(a);
        return;
    }
}

const xml_char* KVXML_node::get_attribute_value(const xml_char* attribute_name) {
    for (KVXML_attrib* a = first_attribute; a; a = a->next) {
        if (a->name.equals_nocase(attribute_name)) return a->value.c_str();
    }
    return empty_string;
}

void KVXML_node::set_text_escaped(const xml_char* new_text) {
    text.assign(new_text);
    text.decode_entities();
}

void KVXML_node::get_text_escaped(xml_buffer& out) {
    out.assign(text.c_str(), text.length());
    out.escape();
}

xml_char* KVXML_node::get_inner_text() {
    // Document order; a node with its own text stands for its whole subtree.
    xml_buffer joined(xml_buffer::line_block);
    kvxml_walk(this, [&joined](KVXML_node* n) -> int {
        if (n->text.length() == 0) return kvxml_walk_into;
        joined.append(n->text);
        return kvxml_walk_over;
    });
    xml_char* copy = xml_duplicate(joined.c_str(), static_cast<std::size_t>(joined.length()));
    if (!copy) throw std::bad_alloc();
    return copy;
}

KV_xml_node* KVXML_node::get_child(std::int32_t index, const xml_char* name_filter) {
    if (index < 0) return nullptr;
    for (KVXML_node* c = first_child; c; c = c->next_sibling) {
        if (matches(c->name, name_filter) && index-- == 0) return c;
    }
    return nullptr;
}

KV_xml_node* KVXML_node::find_descendant(const xml_char* wanted) {
    if (!wanted || !*wanted) return nullptr;
    KVXML_node* found = nullptr;
    kvxml_walk(this, [&](KVXML_node* n) -> int {
        if (n != this && n->name.equals_nocase(wanted)) { found = n; return kvxml_walk_stop; }
        return kvxml_walk_into;
    });
    return found;
}

void KVXML_node::link_child(KVXML_node* child) noexcept {
    child->next_sibling = nullptr;
    child->parent = this;
    KVXML_node** slot = &first_child;
    while (*slot) slot = &(*slot)->next_sibling;
    *slot = child;
}

KV_xml_node* KVXML_node::add_child(const xml_char* child_name) {
    auto* child = new KVXML_node(child_name ? child_name : empty_string);
    link_child(child);
    return child;
}

void KVXML_node::append_child(KV_xml_node* child_node) {
    KVXML_node* child = kvxml_impl(child_node);
    if (!child) return;
    // A node hangs in one place only. One that is still linked elsewhere moves (linking it
    // twice would cut its old list short and leave a parent link that a walk would
    // follow out of the tree); one that would end up below itself stays where it is.
    for (KVXML_node* above = this; above; above = above->parent) {
        if (above == child) return;
    }
    if (child->parent) child->parent->remove_child(child);
    link_child(child);
}

void KVXML_node::remove_child(KV_xml_node* child) {
    for (KVXML_node** slot = &first_child; *slot; slot = &(*slot)->next_sibling) {
        if (*slot != child) continue;
        KVXML_node* found = *slot;
        *slot = found->next_sibling;
        found->next_sibling = nullptr;
        found->parent = nullptr;
        return;
    }
}

KV_xml_node* KVXML_node::find_child_by_attribute(const xml_char* attribute_name,
                                                 const xml_char* value) {
    for (KVXML_node* c = first_child; c; c = c->next_sibling) {
        if (xml_equal_nocase(c->get_attribute_value(attribute_name), value ? value : empty_string)) return c;
    }
    return nullptr;
}

KV_xml_node* KVXML_node::get_by_path(const xml_char* path) {
    KV_xml_node* at = this;
    for (const path_piece& piece : split_path(path)) {
        at = first_named(kvxml_impl(at)->first_child, piece);
        if (!at) return nullptr;
    }
    return at;
}

KV_xml_node* KVXML_node::find_by_path(const xml_char* path) {
    const std::vector<path_piece> pieces = split_path(path);
    if (pieces.empty()) return this;
    // Depth-first over the branches of matching names: level k holds a node whose name
    // is piece k; on a dead end move to its next matching sibling, or back up a level.
    const std::size_t last = pieces.size() - 1;
    std::size_t level = 0;
    KVXML_node* at = first_named(kvxml_first_child(this), pieces[0]);
    while (at) {
        if (level == last) return at;
        if (KVXML_node* down = first_named(kvxml_first_child(at), pieces[level + 1])) {
            at = down;
            ++level;
            continue;
        }
        for (;;) {
            if (KVXML_node* next = first_named(kvxml_next_sibling(at), pieces[level])) { at = next; break; }
            if (level == 0) return nullptr;
            at = at->parent;
            --level;
        }
    }
    return nullptr;
}

bool KVXML_node::equals_shallow(KV_xml_node* other_node) {
    KVXML_node* other = kvxml_impl(other_node);
    if (!other || !xml_equal_nocase(name.c_str(), other->name.c_str())) return false;
    KVXML_attrib* theirs = other->first_attribute;
    for (KVXML_attrib* mine = first_attribute; mine; mine = mine->next, theirs = theirs->next) {
        if (!theirs || !xml_equal_nocase(mine->name.c_str(), theirs->name.c_str()) ||
            !xml_equal_nocase(mine->value.c_str(), theirs->value.c_str()))
            return false;
    }
    return theirs == nullptr;
}

bool KVXML_node::equals_deep(KV_xml_node* other_node) {
    KVXML_node* b = kvxml_impl(other_node);
    if (!b || differs_shallow(b)) return false;
    // Both trees are walked in step; every pair met must be shallow-equal and the
    // children lists must end together.
    KVXML_node* a = this;
    KVXML_node* const b_top = b;
    for (;;) {
        KVXML_node* a_child = kvxml_first_child(a);
        KVXML_node* b_child = kvxml_first_child(b);
        if (a_child || b_child) {
            if (!a_child || !b_child) return false;
            a = a_child;
            b = b_child;
            if (a->differs_shallow(b)) return false;
            continue;
        }
        for (;;) {
            if (a == this || b == b_top) return a == this && b == b_top;
            KVXML_node* a_next = kvxml_next_sibling(a);
            KVXML_node* b_next = kvxml_next_sibling(b);
            if (a_next || b_next) {
                if (!a_next || !b_next) return false;
                a = a_next;
                b = b_next;
                if (a->differs_shallow(b)) return false;
                break;
            }
            a = a->parent;
            b = b->parent;
            if (!a || !b) return false;
        }
    }
}
