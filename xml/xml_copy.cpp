// clone_into, copy_children and copy_document. Deep copies walk the source iteratively;
// a copy into the source's own subtree is built apart first and then moved in, so the
// copy never meets its own new nodes.
#include "xml/xml_attribute_index.h"
#include "xml/xml_model.h"
#include "xml/xml_tree_walk.h"

namespace {
// A node in no tree with the source's name, text and attributes (set_attribute order).
KVXML_node* shallow_copy(KVXML_node* source) {
    kvxml_node_guard copy(new KVXML_node(source->name.c_str(), source->name.length()));
    copy.node->text.assign(source->text.c_str(), source->text.length());
    kvxml_attribute_index attributes;
    attributes.begin(copy.node);
    for (KVXML_attrib* a = source->first_attribute; a; a = a->next) {
        attributes.slot(a->name.c_str(), a->name.length())->value.assign(a->value.c_str(), a->value.length());
    }
    return copy.release();
}

// Links child after last (or first under parent when last is null).
void link_after(KVXML_node* parent, KVXML_node* last, KVXML_node* child) noexcept {
    child->parent = parent;
    child->next_sibling = nullptr;
    (last ? last->next_sibling : parent->first_child) = child;
}

// Copies the whole subtree below source (not source itself) under the fresh copy top.
void copy_below(KVXML_node* source, KVXML_node* top) {
    KVXML_node* from = source;
    KVXML_node* to = top;
    for (;;) {
        if (KVXML_node* child_from = kvxml_first_child(from)) {
            from = child_from;
            KVXML_node* child = shallow_copy(from);
            link_after(to, nullptr, child);
            to = child;
            continue;
        }
        for (;;) {
            if (from == source) return;
            if (KVXML_node* next_from = kvxml_next_sibling(from)) {
                from = next_from;
                KVXML_node* sibling = shallow_copy(from);
                link_after(to->parent, to, sibling);
                to = sibling;
                break;
            }
            from = from->parent;
            to = to->parent;
            if (!from) return;
        }
    }
}

bool is_within(KVXML_node* node, KVXML_node* ancestor) noexcept {
    for (; node; node = node->parent) {
        if (node == ancestor) return true;
    }
    return false;
}

bool matches(KVXML_node* n, const xml_char* filter) noexcept {
    return !filter || n->name.equals_nocase(filter);
}

// Appends deep copies of source's matching children to parent, in order.
void copy_matching_children(KVXML_node* source, KVXML_node* parent, const xml_char* filter) {
    KVXML_node* last = parent->first_child;
    while (last && last->next_sibling) last = last->next_sibling;
    for (KVXML_node* d = source->first_child; d; d = d->next_sibling) {
        if (!matches(d, filter)) continue;
        KVXML_node* copy = shallow_copy(d);
        link_after(parent, last, copy);
        last = copy;
        copy_below(d, copy);
    }
}
}  // namespace

KV_xml_node* KVXML_node::clone_into(KV_xml_node* source_node, KV_xml_node* new_parent) {
    if (!source_node || !new_parent) return nullptr;
    KVXML_node* copy = shallow_copy(kvxml_impl(source_node));
    kvxml_impl(new_parent)->link_child(copy);
    return copy;
}

int KVXML_node::copy_children(KV_xml_node* source_node, KV_xml_node* new_parent,
                              const xml_char* name_filter) {
    KVXML_node* source = kvxml_impl(source_node);
    KVXML_node* parent = kvxml_impl(new_parent);
    if (!source || !parent) return 0;
    if (!is_within(parent, source)) {
        copy_matching_children(source, parent, name_filter);
        return 1;
    }
    // The destination lies inside the source: copy into a holder, then move the copies.
    kvxml_node_guard holder(new KVXML_node(KVXML_TEXT("")));
    copy_matching_children(source, holder.node, name_filter);
    KVXML_node* last = parent->first_child;
    while (last && last->next_sibling) last = last->next_sibling;
    for (KVXML_node* c = holder.node->first_child; c;) {
        KVXML_node* next = c->next_sibling;
        link_after(parent, last, c);
        last = c;
        c = next;
    }
    holder.node->first_child = nullptr;
    return 1;
}

int KVXML_doc::copy_document(KV_xml_doc* source_doc, KV_xml_doc* destination_doc) {
    if (!source_doc || !destination_doc) return 0;
    destination_doc->create_new();
    KV_xml_node* source_root = source_doc->get_root();
    if (!source_root) return 1;
    KV_xml_node* destination_root = destination_doc->get_root();
    return destination_root->copy_children(source_root, destination_root, nullptr);
}
