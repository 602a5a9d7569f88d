// Writing a node (depth d, indentation 2d spaces):
//   indent "<" name { " " attr "=\"" escaped value "\"" }
//   then one of: ">" escaped text                      (own text not empty; children not written)
//                ["?"] ">\r\n" children at d+1 indent   (children)
//                ["?"] ">" [ "\r\n" indent if no attributes ]
//   then "</" name ">\r\n" unless the name is "?xml" ("?" only for "?xml" too).
// The walk is iterative and writes straight into one output buffer whose size is
// counted in a first pass: the same text as building a line buffer per node, without
// copying each character once per level of nesting.
#include "xml/xml_serializer.h"

#include <cstring>
#include <new>

#include "xml/xml_entities.h"
#include "xml/xml_tree_walk.h"

namespace {
struct counter {
    std::int64_t total = 0;
    void text(const xml_char*, std::int32_t n) { total += n; }
    void ascii(const char* s) { total += static_cast<std::int64_t>(std::strlen(s)); }
    void indent(int depth) { total += 2 * static_cast<std::int64_t>(depth); }  // depth >= 0
    void escaped(const xml_buffer& b) { total += xml_escaped_length(b.c_str(), b.length()); }
};

struct writer {
    xml_char* at;
    void text(const xml_char* s, std::int32_t n) {
        std::memcpy(at, s, static_cast<std::size_t>(n) * sizeof(xml_char));
        at += n;
    }
    void ascii(const char* s) { while (*s) *at++ = static_cast<xml_char>(*s++); }
    void indent(int depth) { for (int i = 0; i < 2 * depth; ++i) *at++ = u' '; }
    void escaped(const xml_buffer& b) { at = xml_write_escaped(b.c_str(), b.length(), at); }
};

template <typename Sink>
void write_open(Sink& out, KVXML_node* n, int depth, bool declaration, bool children) {
    out.indent(depth);
    out.ascii("<");
    out.text(n->name.c_str(), n->name.length());
    for (KVXML_attrib* a = n->first_attribute; a; a = a->next) {
        out.ascii(" ");
        out.text(a->name.c_str(), a->name.length());
        out.ascii("=\"");
        out.escaped(a->value);
        out.ascii("\"");
    }
    if (n->text.length() != 0) {
        out.ascii(">");
        out.escaped(n->text);
        return;
    }
    out.ascii(declaration ? "?>" : ">");
    if (children) {
        out.ascii("\r\n");
    } else if (!n->first_attribute) {
        out.ascii("\r\n");
        out.indent(depth);
    }
}

template <typename Sink>
void write_close(Sink& out, KVXML_node* n, int depth, bool declaration, bool had_children) {
    if (had_children) out.indent(depth);
    if (declaration) return;
    out.ascii("</");
    out.text(n->name.c_str(), n->name.length());
    out.ascii(">\r\n");
}

// Both passes (counting, then writing) run this same walk over the same tree, so they
// agree on every character. It follows only the links kvxml_first_child and
// kvxml_next_sibling allow, so every climb retraces the way down and the depth never
// drops below zero; the guards below hold even if that were ever not so.
template <typename Sink>
void write_tree(Sink& out, KVXML_node* root) {
    KVXML_node* n = root;
    int depth = 0;
    while (n) {
        const bool declaration = n->is_declaration();
        KVXML_node* child = n->text.length() == 0 ? kvxml_first_child(n) : nullptr;
        write_open(out, n, depth, declaration, child != nullptr);
        if (child) {
            n = child;
            ++depth;
            continue;
        }
        write_close(out, n, depth, declaration, false);
        // Close every ancestor whose last child has just been written.
        while (n != root && !kvxml_next_sibling(n)) {
            n = n->parent;
            if (!n) return;
            if (depth > 0) --depth;
            write_close(out, n, depth, n->is_declaration(), true);
        }
        n = (n == root) ? nullptr : kvxml_next_sibling(n);
    }
}
}  // namespace

void kvxml_serialize(KVXML_node* root, xml_buffer& out) {
    counter count;
    count.total = 1;  // U+FEFF
    if (root) write_tree(count, root);
    if (count.total + out.length() >= INT32_MAX - 1) throw std::bad_alloc();
    const std::int32_t start = out.length();
    out.reserve(start + static_cast<std::int32_t>(count.total));
    writer write{out.data() + start};
    *write.at++ = xml_byte_order_mark;
    if (root) write_tree(write, root);
    out.set_length(static_cast<std::int32_t>(write.at - out.data()));
}
