// The parser. Each step moves the position on or fails, and a failure anywhere fails the
// whole parse. A table classifies the ASCII units (white space, name end)
// so the hot loops decide with one lookup; other units are white space only when the
// runtime's iswspace says so.
#include "xml/xml_parser.h"

#include "xml/xml_attribute_index.h"
#include "xml/xml_entities.h"
#include "xml/xml_tree_walk.h"

namespace {
enum : unsigned char { c_space = 1, c_name_end = 2 };

struct char_table {
    unsigned char cls[128] = {};
    constexpr char_table() {
        for (int c = 9; c <= 13; ++c) cls[c] |= c_space;
        cls[' '] |= c_space | c_name_end;
        cls['/'] |= c_name_end;
        cls['>'] |= c_name_end;
        cls[0] |= c_name_end;
    }
};
constexpr char_table table;

inline bool is_space(xml_char c) noexcept {
    return c < 128 ? (table.cls[c] & c_space) != 0 : xml_is_space(c);
}
inline bool has(xml_char c, unsigned char cls) noexcept { return c < 128 && (table.cls[c] & cls); }

inline bool opens_comment(const xml_char* p) noexcept {
    return p[0] == u'<' && p[1] == u'!' && p[2] == u'-' && p[3] == u'-';
}

// Steps over white space and comments. "-->" is searched from the "<" of the opener,
// so "<!-->" is already a whole comment; an unclosed comment runs to the end.
const xml_char* skip_slow(const xml_char* p) noexcept {
    for (;;) {
        while (is_space(*p)) ++p;
        if (!opens_comment(p)) return p;
        const xml_char* q = p;
        while (*q && !(q[0] == u'-' && q[1] == u'-' && q[2] == u'>')) ++q;
        p = *q ? q + 3 : q;
    }
}

// Most positions need no skipping at all: decide that without a call.
inline const xml_char* skip(const xml_char* p) noexcept {
    return (*p < 128 && !(table.cls[*p] & c_space) && *p != u'<') ? p : skip_slow(p);
}

inline const xml_char* to_lt(const xml_char* p) noexcept {
    while (*p && *p != u'<') ++p;
    return p;
}

struct name_run {
    const xml_char* start;
    std::int32_t length;
};

// At "<" (or "</"): the name up to a space, "/", ">" or the end; false when the text
// ends before a name. The position ends after the name and the skip that follows it.
bool read_tag_name(const xml_char*& p, name_run& name) {
    p += (p[1] == u'/') ? 2 : 1;
    p = skip(p);
    if (!*p) return false;
    const xml_char* start = p;
    while (!has(*p, c_name_end)) ++p;
    name = {start, xml_checked_length(static_cast<std::size_t>(p - start))};
    p = skip(p);
    return true;
}

class parser {
public:
    // The attribute list of a start tag; the position ends after ">" and its skip.
    bool parse_attributes(const xml_char*& p, KVXML_node* node, bool& closed);
    bool parse_content(KVXML_node* receiver, const xml_char*& p, int depth, bool top);

private:
    bool gather_text(const xml_char* p, KVXML_node* node);
    xml_buffer scratch_;  // values with line breaks, reused
    kvxml_attribute_index attributes_;
};

// Appends [p, end) without its carriage returns and line feeds, a run at a time; the
// caller has made room for all of it.
void append_without_line_breaks(xml_buffer& out, const xml_char* p, const xml_char* end) {
    while (p < end) {
        const xml_char* run = p;
        while (p < end && *p != u'\r' && *p != u'\n') ++p;
        out.append(run, static_cast<std::int32_t>(p - run));
        while (p < end && (*p == u'\r' || *p == u'\n')) ++p;
    }
}

bool parser::parse_attributes(const xml_char*& p, KVXML_node* node, bool& closed) {
    p = skip(p);
    closed = false;
    attributes_.begin(node);
    while (*p) {
        if (*p == u'>' || *p == u'/') break;
        // Name: everything up to "=", trailing white space trimmed.
        const xml_char* name_start = p;
        while (*p != u'=') {
            if (*p == u'>' || *p == 0) return false;
            ++p;
        }
        const xml_char* name_end = p;
        while (name_end > name_start && is_space(name_end[-1])) --name_end;
        p = skip(p + 1);
        const xml_char quote = *p;
        if (quote != u'"' && quote != u'\'') return false;
        ++p;
        // Value: up to the same quote; line breaks dropped; ">" or the end fail.
        const xml_char* value_start = p;
        bool broken = false;
        for (; *p != quote; ++p) {
            if (*p == u'>' || *p == 0) return false;
            if (*p == u'\r' || *p == u'\n') broken = true;
        }
        const xml_char* value = value_start;
        std::int32_t value_length = xml_checked_length(static_cast<std::size_t>(p - value_start));
        if (broken) {
            scratch_.clear();
            scratch_.reserve(value_length);
            append_without_line_breaks(scratch_, value_start, p);
            value = scratch_.c_str();
            value_length = scratch_.length();
        }
        KVXML_attrib* slot =
            attributes_.slot(name_start, static_cast<std::int32_t>(name_end - name_start));
        if (xml_needs_decoding(value, value_length)) {
            slot->value.clear();
            slot->value.reserve(value_length);  // decoding never lengthens a value
            xml_decode_entities(value, value_length, slot->value);
        } else {
            slot->value.assign(value, value_length);
        }
        p = skip(p + 1);
        if (p[0] == u'/' && p[1] == u'>') { ++p; closed = true; }
        if (*p == u'?' && node->is_declaration()) ++p;
    }
    if (*p == u'/') { ++p; closed = true; }
    if (*p != u'>') return false;
    p = skip(p + 1);
    return true;
}

bool parser::gather_text(const xml_char* p, KVXML_node* node) {
    const xml_char* end = to_lt(p);
    if (*end != u'<') return false;  // no end tag
    xml_buffer& text = node->text;
    text.reserve(xml_checked_length(static_cast<std::size_t>(end - p)));
    append_without_line_breaks(text, p, end);
    text.trim_end();
    text.decode_entities();
    return true;
}

bool parser::parse_content(KVXML_node* receiver, const xml_char*& p, int depth, bool top) {
    KVXML_node* last = receiver->first_child;
    while (last && last->next_sibling) last = last->next_sibling;
    auto append = [receiver, &last](KVXML_node* child) {
        child->parent = receiver;
        child->next_sibling = nullptr;
        (last ? last->next_sibling : receiver->first_child) = child;
        last = child;
    };
    for (;;) {
        if (!*p) return true;
        p = to_lt(skip(p));
        if (!*p) return true;
        p = skip(p);
        if (!*p || p[1] == u'/') return true;
        if (*p != u'<') return false;  // text after a comment

        name_run name{};
        if (!read_tag_name(p, name)) return false;
        if (depth + 1 > kvxml_max_depth) return false;
        kvxml_node_guard made(new KVXML_node(name.start, name.length));
        KVXML_node* node = made.node;
        bool closed = false;
        if (!parse_attributes(p, node, closed)) return false;
        if (closed) {
            append(made.release());
            continue;
        }
        const bool declaration = node->is_declaration();
        // The text's first declaration becomes the root, so its children are top level.
        const int child_depth = (top && !receiver->first_child && declaration) ? depth : depth + 1;
        const xml_char* content = p;
        if (!parse_content(node, p, child_depth, false)) return false;
        if (!node->first_child && !declaration && !gather_text(content, node)) return false;
        if (declaration) {
            append(made.release());
            continue;
        }
        // The end tag of this element.
        p = to_lt(skip(p));
        if (!*p) return false;
        p = skip(p);
        if (p[0] != u'<' || p[1] != u'/') return false;
        name_run end{};
        if (!read_tag_name(p, end)) return false;
        if (!kvxml_equal_run_nocase(node->name.c_str(), end.start, end.length)) return false;
        append(made.release());
        if (!*p) return true;
    }
}
}  // namespace

bool kvxml_parse_content(KVXML_node* root, const xml_char* text) {
    parser reader;
    const xml_char* p = text;
    return reader.parse_content(root, p, 0, true);
}

bool kvxml_declares_utf8(const xml_char* text) {
    const xml_char* p = to_lt(skip(text));
    if (!*p) return false;
    p = skip(p);
    if (!*p || p[1] == u'/') return false;
    name_run name{};
    if (!read_tag_name(p, name)) return false;
    if (!kvxml_equal_run_nocase(KVXML_TEXT("?xml"), name.start, name.length)) return false;
    kvxml_node_guard declaration(new KVXML_node(name.start, name.length));
    parser reader;
    bool closed = false;
    if (!reader.parse_attributes(p, declaration.node, closed)) return false;
    return xml_equal_nocase(declaration.node->get_attribute_value(KVXML_TEXT("encoding")),
                            KVXML_TEXT("UTF-8"));
}
