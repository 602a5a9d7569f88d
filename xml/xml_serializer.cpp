// Writing a node (depth d, indentation 2d spaces):
//   indent "<" name { " " attr "=\"" escaped value "\"" }
//   then one of: ">" escaped text                      (own text not empty; children not written)
//                ["?"] ">\r\n" children at d+1 indent   (children)
//                ["?"] ">" [ "\r\n" indent if no attributes ]
//   then "</" name ">\r\n" unless the name is "?xml" ("?" only for "?xml" too).
// The walk is iterative and writes straight into one output buffer: the same text as
// building a line buffer per node, without copying each character once per level of
// nesting. A first walk counts the output as if nothing needed escaping (lengths only, no
// character is read), and the buffer is made that large plus an eighth; the second walk
// writes, escaping as it goes. An escaped string is given room for its longest escaping
// (6 units a character) or, when that does not fit, for its exact escaped length, and
// the buffer doubles in the rare case that even that does not fit.
#include "xml/xml_serializer.h"

#include <cstring>
#include <new>

#include "xml/xml_entities.h"
#include "xml/xml_tree_walk.h"

namespace {
// What the five escaped characters become; 0 for every other character below 128.
struct escape_table {
    unsigned char entity[128] = {};
    constexpr escape_table() {
        entity['&'] = 1;
        entity['\''] = 2;
        entity['"'] = 3;
        entity['<'] = 4;
        entity['>'] = 5;
    }
};
constexpr escape_table escapes;
const char* const entities[] = {"", "&amp;", "&#39;", "&quot;", "&lt;", "&gt;"};

// The first walk: the output's length without escapes.
struct counter {
    std::int64_t total = 0;
    void text(const xml_char*, std::int32_t n) { total += n; }
    template <std::size_t N>
    void ascii(const char (&)[N]) { total += N - 1; }
    void indent(int depth) { total += 2 * static_cast<std::int64_t>(depth); }
    void escaped(const xml_buffer& b) { total += b.length(); }
};

class writer {
public:
    explicit writer(xml_buffer& out) : out_(out), at_(out.data() + out.length()) {
        limit_ = out.data() + out.get_capacity();
    }
    // Ends the buffer's text where the writing stands.
    void finish() noexcept { out_.set_length(static_cast<std::int32_t>(at_ - out_.data())); }

    void text(const xml_char* s, std::int32_t n) {
        room(n);
        if (n <= 16) {  // names are short: no call for them
            for (std::int32_t i = 0; i < n; ++i) at_[i] = s[i];
        } else {
            std::memcpy(at_, s, static_cast<std::size_t>(n) * sizeof(xml_char));
        }
        at_ += n;
    }
    // Makes room for n more units at once.
    void room(std::int64_t n) {
        if (limit_ - at_ < n) grow(n);
    }
    template <std::size_t N>
    void ascii(const char (&s)[N]) {
        room(N - 1);
        for (std::size_t i = 0; i + 1 < N; ++i) *at_++ = static_cast<xml_char>(s[i]);
    }
    void indent(int depth) {
        room(2 * static_cast<std::int64_t>(depth));
        for (int i = 0; i < 2 * depth; ++i) *at_++ = u' ';
    }
    void escaped(const xml_buffer& b) {
        const xml_char* s = b.c_str();
        const std::int32_t n = b.length();
        if (limit_ - at_ < 6 * static_cast<std::int64_t>(n)) room(xml_escaped_length(s, n));
        xml_char* dst = at_;
        for (std::int32_t i = 0; i < n; ++i) {
            const xml_char c = s[i];
            const unsigned char e = c < 128 ? escapes.entity[c] : 0;
            if (!e) {
                *dst++ = c;
                continue;
            }
            for (const char* r = entities[e]; *r; ++r) *dst++ = static_cast<xml_char>(*r);
        }
        at_ = dst;
    }

private:
    void grow(std::int64_t n) {
        const std::int64_t used = at_ - out_.data();
        const std::int64_t doubled = 2 * static_cast<std::int64_t>(out_.get_capacity());
        std::int64_t wanted = used + n > doubled ? used + n : doubled;
        if (wanted >= INT32_MAX - 1) wanted = used + n;
        if (wanted >= INT32_MAX - 1) throw std::bad_alloc();
        out_.set_length(static_cast<std::int32_t>(used));
        out_.reserve(static_cast<std::int32_t>(wanted));
        at_ = out_.data() + used;
        limit_ = out_.data() + out_.get_capacity();
    }

    xml_buffer& out_;
    xml_char* at_;
    xml_char* limit_;
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
    if (declaration) out.ascii("?>");
    else out.ascii(">");
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
    if (root) write_tree(count, root);
    writer write(out);
    write.room(1 + count.total + count.total / 8);
    const xml_char mark[1] = {xml_byte_order_mark};
    write.text(mark, 1);
    if (root) write_tree(write, root);
    write.finish();
}
