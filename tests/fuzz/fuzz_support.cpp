#include "tests/fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

void fuzz_fail(const char* property, const char* file, int line) {
    std::fprintf(stderr, "\nProperty broken at %s:%d: %s\n", file, line, property);
    std::abort();
}

std::u16string fuzz_units(const std::uint8_t* data, std::size_t size) {
    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    return units;
}

std::uint8_t fuzz_bytes::byte() noexcept {
    if (left_ == 0) return 0;
    --left_;
    return *data_++;
}

std::uint32_t fuzz_bytes::u32() noexcept {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= std::uint32_t{byte()} << (8 * i);
    return value;
}

std::string fuzz_bytes::take(std::size_t n) {
    if (n > left_) n = left_;
    std::string bytes(reinterpret_cast<const char*>(data_), n);
    data_ += n;
    left_ -= n;
    return bytes;
}

xml_text fuzz_serialize(KV_xml_doc& doc) {
    xml_char* s = doc.to_string();
    xml_text text(s);
    doc.free_string(s);
    return text;
}

namespace {
bool is_space_unit(xml_char c) {
    // Every unit the parser treats as white space lies in these ranges.
    return c == 0x20 || (c >= 0x09 && c <= 0x0D) || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

bool has_line_break(const xml_char* s) {
    for (; *s; ++s)
        if (*s == u'\r' || *s == u'\n') return true;
    return false;
}

bool plain_name(const xml_char* s) {
    if (s[0] == u'!' && s[1] == u'-' && s[2] == u'-') return false;
    for (; *s; ++s)
        if (is_space_unit(*s) || *s == u'/' || *s == u'>' || *s == u'=' || *s == u'"' || *s == u'\'')
            return false;
    return true;
}

bool plain_text(const xml_char* s) {
    const std::size_t n = xml_length(s);
    if (n == 0) return true;
    return !is_space_unit(s[0]) && !is_space_unit(s[n - 1]) && !has_line_break(s);
}

// Every node below top (top included) in document order, by an explicit stack.
std::vector<KV_xml_node*> nodes_of(KV_xml_node* top) {
    std::vector<KV_xml_node*> nodes, pending{top};
    while (!pending.empty()) {
        KV_xml_node* n = pending.back();
        pending.pop_back();
        nodes.push_back(n);
        std::vector<KV_xml_node*> children;
        for (int i = 0; KV_xml_node* c = n->get_child(i, nullptr); ++i) children.push_back(c);
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return nodes;
}

bool node_reads_back(KV_xml_node* n, bool is_root) {
    const xml_char* name = n->get_name();
    const bool declaration = xml_equal_nocase(name, KVXML_TEXT("?xml"));
    if (declaration != is_root) return false;
    if (!is_root && !plain_name(name)) return false;
    if (n->has_children() && *n->get_text()) return false;
    if (!plain_text(n->get_text())) return false;
    for (int i = 0; KV_xml_attrib* a = n->get_attribute(i, nullptr); ++i) {
        if (has_line_break(a->get_value()) || !plain_name(a->get_name())) return false;
        // The parser steps over a "?" after each value of the declaration.
        if (is_root && a->get_name()[0] == u'?') return false;
    }
    return true;
}

// Same names, attributes in order, texts and shape.
bool same_tree(KV_xml_node* a, KV_xml_node* b) {
    const std::vector<KV_xml_node*> left = nodes_of(a), right = nodes_of(b);
    if (left.size() != right.size()) return false;
    for (std::size_t i = 0; i < left.size(); ++i) {
        KV_xml_node* x = left[i];
        KV_xml_node* y = right[i];
        if (xml_text(x->get_name()) != y->get_name() || xml_text(x->get_text()) != y->get_text())
            return false;
        if (x->has_children() != y->has_children()) return false;
        for (int k = 0;; ++k) {
            KV_xml_attrib* p = x->get_attribute(k, nullptr);
            KV_xml_attrib* q = y->get_attribute(k, nullptr);
            if (!p || !q) {
                if (p || q) return false;
                break;
            }
            if (xml_text(p->get_name()) != q->get_name() || xml_text(p->get_value()) != q->get_value())
                return false;
        }
    }
    return true;
}
}  // namespace

bool fuzz_reads_back(KV_xml_doc& doc) {
    KV_xml_node* root = doc.get_root();
    if (!root || !root->get_attribute(0, nullptr)) return false;
    for (KV_xml_node* n : nodes_of(root))
        if (!node_reads_back(n, n == root)) return false;
    return true;
}

void fuzz_check_copies(KV_xml_doc& doc) {
    KV_xml_node* root = doc.get_root();
    if (!root) return;
    FUZZ_CHECK(root->equals_deep(root));
    FUZZ_CHECK(!root->differs_shallow(root));

    // copy_document: the top-level elements and everything below them.
    fuzz_doc copy = fuzz_new_doc();
    FUZZ_CHECK(doc.copy_document(&doc, copy.get()) == 1);
    KV_xml_node* copy_root = copy->get_root();
    FUZZ_CHECK(copy_root != nullptr);
    FUZZ_CHECK(xml_text(copy_root->get_attribute_value(KVXML_TEXT("version"))) == KVXML_TEXT("1.0"));
    for (int i = 0;; ++i) {
        KV_xml_node* original = root->get_child(i, nullptr);
        KV_xml_node* copied = copy_root->get_child(i, nullptr);
        FUZZ_CHECK((original == nullptr) == (copied == nullptr));
        if (!original) break;
        FUZZ_CHECK(original->equals_deep(copied) && copied->equals_deep(original));
        FUZZ_CHECK(same_tree(original, copied));
    }

    // copy_children with the first child's name as the filter copies exactly the children
    // of that name, in order.
    KV_xml_node* first = root->get_child(0, nullptr);
    if (first) {
        fuzz_doc filtered = fuzz_new_doc();
        filtered->create_new();
        KV_xml_node* target = filtered->get_root();
        const xml_text filter = first->get_name();
        FUZZ_CHECK(root->copy_children(root, target, filter.c_str()) == 1);
        for (int i = 0;; ++i) {
            KV_xml_node* original = root->get_child(i, filter.c_str());
            KV_xml_node* copied = target->get_child(i, nullptr);
            FUZZ_CHECK((original == nullptr) == (copied == nullptr));
            if (!original) break;
            FUZZ_CHECK(same_tree(original, copied));
        }

        // clone_into: name, text and attributes, no children.
        KV_xml_node* clone = root->clone_into(first, target);
        FUZZ_CHECK(clone != nullptr && clone->get_parent() == target);
        FUZZ_CHECK(clone->equals_shallow(first) && !clone->has_children());
        FUZZ_CHECK(xml_text(clone->get_text()) == first->get_text());
    }

    // A copy of the copy serializes like the copy.
    fuzz_doc second = fuzz_new_doc();
    FUZZ_CHECK(copy->copy_document(copy.get(), second.get()) == 1);
    FUZZ_CHECK(fuzz_serialize(*copy) == fuzz_serialize(*second));
}

void fuzz_check_lookups(KV_xml_doc& doc) {
    KV_xml_node* root = doc.get_root();
    if (!root) return;
    const std::vector<KV_xml_node*> nodes = nodes_of(root);
    KV_xml_node* last = nodes.back();
    if (last == root) return;

    // find_descendant: the first node below the root, in document order, of that name.
    const xml_text wanted = last->get_name();
    KV_xml_node* expected = nullptr;
    for (KV_xml_node* n : nodes)
        if (n != root && xml_equal_nocase(n->get_name(), wanted.c_str())) { expected = n; break; }
    FUZZ_CHECK(root->find_descendant(wanted.c_str()) == (wanted.empty() ? nullptr : expected));

    // The path of names from the root down to the last node: find_by_path finds a node
    // at the end of such a chain of names, get_by_path finds one or none.
    std::vector<xml_text> pieces;
    for (KV_xml_node* n = last; n != root; n = n->get_parent()) pieces.insert(pieces.begin(), n->get_name());
    xml_text path;
    bool plain = true;
    for (const xml_text& piece : pieces) {
        plain = plain && !piece.empty();
        path += (path.empty() ? xml_text() : xml_text(KVXML_TEXT("/"))) + piece;
    }
    if (plain) {
        auto on_chain = [&](KV_xml_node* found) {
            for (std::size_t i = pieces.size(); i-- > 0; found = found->get_parent())
                if (!found || !xml_equal_nocase(found->get_name(), pieces[i].c_str())) return false;
            return found == root;
        };
        KV_xml_node* found = root->find_by_path(path.c_str());
        FUZZ_CHECK(found && on_chain(found));
        if (KV_xml_node* first = root->get_by_path(path.c_str())) FUZZ_CHECK(on_chain(first));
    }

    // get_inner_text: a node's own text stands for its subtree.
    xml_char* inner = root->get_inner_text();
    doc.free_string(inner);
    if (*last->get_text()) {
        xml_char* own = last->get_inner_text();
        FUZZ_CHECK(xml_text(own) == last->get_text());
        doc.free_string(own);
    }

    // find_child_by_attribute with the first child's first attribute.
    KV_xml_node* child = root->get_child(0, nullptr);
    if (KV_xml_attrib* a = child ? child->get_attribute(0, nullptr) : nullptr) {
        const xml_text name = a->get_name(), value = a->get_value();
        KV_xml_node* match = root->find_child_by_attribute(name.c_str(), value.c_str());
        FUZZ_CHECK(match && xml_equal_nocase(match->get_attribute_value(name.c_str()), value.c_str()));
    }
}
