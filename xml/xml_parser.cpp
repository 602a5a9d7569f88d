// The parser. Each step moves the position on or fails, and a failure anywhere fails the
// whole parse. Bit sets classify the ASCII units (white space, name end) so the short
// loops decide with one test; other units are white space only when the runtime's
// iswspace says so. Attribute names, values and texts are scanned block-wise
// (xml_scan.h). Nodes, attributes and texts come from the parser's arena (xml_arena.h).
#include "xml/xml_parser.h"

#include <new>

#include "xml/xml_attribute_index.h"
#include "xml/xml_entities.h"
#include "xml/xml_scan.h"
#include "xml/xml_tree_walk.h"

namespace {
// Sets of ASCII units as bits of one word, so that a short loop decides a unit with a
// compare and a bit test: the white space U+0009..U+000D and U+0020, and the units that
// end a tag's name (space, "/", ">", NUL).
constexpr std::uint64_t ascii_space_bits = (std::uint64_t{0x1F} << 9) | (std::uint64_t{1} << 32);
constexpr std::uint64_t name_end_bits =
    std::uint64_t{1} | (std::uint64_t{1} << 32) | (std::uint64_t{1} << 47) | (std::uint64_t{1} << 62);
static_assert(u' ' == 32 && u'/' == 47 && u'>' == 62);

inline bool is_ascii_space(xml_char c) noexcept { return c <= 32 && ((ascii_space_bits >> c) & 1) != 0; }
inline bool ends_name(xml_char c) noexcept { return c <= u'>' && ((name_end_bits >> c) & 1) != 0; }

inline bool is_space(xml_char c) noexcept {
    return c < 128 ? is_ascii_space(c) : xml_is_space(c);
}

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

// Most positions need no skipping, or only a few ASCII spaces: do that without a call,
// and leave comments and other white space to skip_slow.
inline const xml_char* skip(const xml_char* p) noexcept {
    for (;; ++p) {
        const xml_char c = *p;
        if (is_ascii_space(c)) continue;
        if (c >= 128) return xml_is_space(c) ? skip_slow(p) : p;
        return (c == u'<' && p[1] == u'!') ? skip_slow(p) : p;
    }
}

inline const xml_char* to_lt(const xml_char* p) noexcept {
    while (*p && *p != u'<') ++p;
    return p;
}

// The scans of attribute names, values and texts: where each ends (or fails), and the
// units that make a value or text need more than a copy (line breaks, "&").
constexpr kvxml_scan_set key_scan{{u'=', u'>', 0}, {0, 0, 0}};
constexpr kvxml_scan_set double_quoted_scan{{u'"', u'>', 0}, {u'\r', u'\n', u'&'}};
constexpr kvxml_scan_set single_quoted_scan{{u'\'', u'>', 0}, {u'\r', u'\n', u'&'}};
constexpr kvxml_scan_set text_scan{{u'<', 0, 0}, {u'\r', u'\n', u'&'}};
constexpr kvxml_scan_set lt_scan{{u'<', 0, 0}, {0, 0, 0}};

struct name_run {
    const xml_char* start;
    std::int32_t length;
};

// At "<" (or "</"): the name up to a space, "/", ">" or the end; false when the text
// ends before a name. The position ends after the name and the skip that follows it.
inline bool read_tag_name(const xml_char*& p, name_run& name) {
    p += (p[1] == u'/') ? 2 : 1;
    p = skip(p);
    if (!*p) return false;
    const xml_char* start = p;
    while (!ends_name(*p)) ++p;
    name = {start, xml_checked_length(static_cast<std::size_t>(p - start))};
    p = skip(p);
    return true;
}

// The end tag's name against the element's (A..Z folded); names hold no NUL.
inline bool same_name(const xml_buffer& name, const name_run& run) noexcept {
    if (name.length() != run.length) return false;
    const xml_char* a = name.c_str();
    for (std::int32_t i = 0; i < run.length; ++i) {
        if (a[i] != run.start[i] && xml_fold(a[i]) != xml_fold(run.start[i])) return false;
    }
    return true;
}

class parser {
public:
    // end: the position of a NUL that ends the text to be read (its first NUL or a
    // later one the caller knows); the block scans read no unit past it.
    explicit parser(const xml_char* end) noexcept : end_(end) {}
    // Both return the position they end at, or null when the text fails to parse. The
    // position is a local of each, not a reference, so that the stores into the tree
    // (which may alias anything) do not make the compiler store and reload it.
    // The attribute list of a start tag; it ends after ">" and its skip.
    const xml_char* parse_attributes(const xml_char* p, KVXML_node* node, bool& closed);
    const xml_char* parse_content(KVXML_node* receiver, const xml_char* p, int depth, bool top);

    // The provisional root "?xml" in the arena; it gets its attribute "version" "1.0"
    // from give_version once it is known to stay the root.
    KVXML_node* make_provisional_root();
    void give_version(KVXML_node* root);

private:
    // to_lt(skip(p)) between elements. The "<" is mostly at once or next (after the ">"
    // of an end tag), or after a line break and an indent, which are scanned block-wise.
    const xml_char* to_next_tag(const xml_char* p) const noexcept {
        p = skip(p);
        if (*p == u'<' || !*p) return p;
        if (p[1] == u'<') return p + 1;
        bool unused = false;
        return kvxml_scan(p + 1, end_, lt_scan, unused);
    }
    KVXML_node* make_node(const name_run& name);
    bool gather_text(const xml_char* p, const xml_char* end, bool special, KVXML_node* node);
    // Stores [p, end) without line breaks, decoded, in target; trim drops white space
    // at the end first (texts). The text goes to an arena array when it fits one.
    // The commonest case: [p, end) is stored as it stands in an arena array; false when
    // it has something to drop or decode (special), or is empty or too long.
    bool store_plain(xml_buffer& target, const xml_char* p, const xml_char* end, bool special) {
        if (special || end == p || end - p > kvxml_arena::largest_text) return false;
        const auto n = static_cast<std::int32_t>(end - p);
        xml_char* t = arena_.allocate_text(n);
        kvxml_copy_units(t, p, n);
        t[n] = 0;
        target.adopt(t, n);
        return true;
    }
    // line_breaks and ampersand tell whether the text holds CR or LF, and "&".
    void store(xml_buffer& target, const xml_char* p, const xml_char* end, bool line_breaks,
               bool trim, bool ampersand);
    kvxml_arena arena_;   // the tree's nodes, attributes and texts; declared before the
                          // index, which does not outlive it
    kvxml_attribute_index attributes_;
    const xml_char* end_;  // a NUL of the text; every scan stops at the first NUL anyway
};

// Copies [p, end) to dst without its carriage returns and line feeds; returns the end
// and notes whether an "&" was copied.
xml_char* copy_without_line_breaks(xml_char* dst, const xml_char* p, const xml_char* end,
                                   bool& ampersand) noexcept {
    bool seen = false;
    for (; p < end; ++p) {
        const xml_char c = *p;
        seen |= c == u'&';
        *dst = c;
        dst += (c != u'\r' && c != u'\n');
    }
    ampersand = seen;
    return dst;
}

[[gnu::always_inline]] inline KVXML_node* parser::make_node(const name_run& name) {
    kvxml_chunk* chunk = nullptr;
    xml_char* arena_name = nullptr;
    void* block = arena_.allocate_with_text<KVXML_node>(name.length, chunk, arena_name);
    if (!block) return new KVXML_node(name.start, name.length);
    kvxml_copy_units(arena_name, name.start, name.length);
    arena_name[name.length] = 0;
    return ::new (block) KVXML_node(arena_name, name.length);
}

KVXML_node* parser::make_provisional_root() {
    static const xml_char name[] = KVXML_TEXT("?xml");
    return make_node({name, 4});
}

void parser::give_version(KVXML_node* root) {
    static const xml_char version[] = KVXML_TEXT("version");
    static const xml_char one[] = KVXML_TEXT("1.0");
    attributes_.begin(root, &arena_);
    store(attributes_.slot(version, 7)->value, one, one + 3, false, false, false);
}

void parser::store(xml_buffer& target, const xml_char* p, const xml_char* end, bool line_breaks,
                   bool trim, bool ampersand) {
    const std::int32_t n = xml_checked_length(static_cast<std::size_t>(end - p));
    xml_char* t = n ? arena_.allocate_text(n) : nullptr;
    if (!t) {
        // Empty, or too long for the arena: a heap array of its own, filled the same way.
        target.clear();
        target.reserve(n);
        if (n == 0) return;
        t = target.data();
    }
    xml_char* e;
    if (line_breaks) {
        e = copy_without_line_breaks(t, p, end, ampersand);
    } else {
        kvxml_copy_units(t, p, n);
        e = t + n;
    }
    if (trim) {
        while (e > t && is_space(e[-1])) --e;
    }
    std::int32_t length = static_cast<std::int32_t>(e - t);
    if (ampersand && xml_needs_decoding(t, length)) length = xml_decode_entities_to(t, length, t);
    if (t == target.data()) {
        target.set_length(length);
        return;
    }
    t[length] = 0;
    target.adopt(t, length);
}

const xml_char* parser::parse_attributes(const xml_char* p, KVXML_node* node, bool& closed) {
    p = skip(p);
    closed = false;
    attributes_.begin(node, &arena_);
    while (*p) {
        if (*p == u'>' || *p == u'/') break;
        // Name: everything up to "=", trailing white space trimmed.
        const xml_char* name_start = p;
        bool unused = false;
        p = kvxml_scan(p, end_, key_scan, unused);
        if (*p != u'=') return nullptr;  // ">" or the end before "="

        const xml_char* name_end = p;
        while (name_end > name_start && is_space(name_end[-1])) --name_end;
        p = skip(p + 1);
        const xml_char quote = *p;
        if (quote != u'"' && quote != u'\'') return nullptr;
        ++p;
        // Value: up to the same quote; line breaks dropped; ">" or the end fail.
        const xml_char* value_start = p;
        bool special = false;  // a line break or "&" in it
        p = quote == u'"' ? kvxml_scan(p, end_, double_quoted_scan, special)
                          : kvxml_scan(p, end_, single_quoted_scan, special);
        if (*p != quote) return nullptr;  // ">" or the end
        KVXML_attrib* slot =
            attributes_.slot(name_start, static_cast<std::int32_t>(name_end - name_start));
        if (!store_plain(slot->value, value_start, p, special))
            store(slot->value, value_start, p, special, false, special);
        p = skip(p + 1);
        if (p[0] == u'/' && p[1] == u'>') { ++p; closed = true; }
        if (*p == u'?' && node->is_declaration()) ++p;
    }
    if (*p == u'/') { ++p; closed = true; }
    if (*p != u'>') return nullptr;
    return skip(p + 1);
}

bool parser::gather_text(const xml_char* p, const xml_char* end, bool special, KVXML_node* node) {
    if (*end != u'<') return false;  // no end tag
    if (!special) {
        // Nothing to drop or decode: only white space at the end to leave out.
        const xml_char* e = end;
        while (e > p && is_space(e[-1])) --e;
        if (e == p || store_plain(node->text, p, e, false)) return true;
    }
    store(node->text, p, end, special, true, special);
    return true;
}

const xml_char* parser::parse_content(KVXML_node* receiver, const xml_char* p, int depth, bool top) {
    KVXML_node* last = receiver->first_child;
    while (last && last->next_sibling) last = last->next_sibling;
    auto append = [receiver, &last](KVXML_node* child) {
        child->parent = receiver;
        child->next_sibling = nullptr;
        (last ? last->next_sibling : receiver->first_child) = child;
        last = child;
    };
    for (;;) {
        if (!*p) return p;
        p = to_next_tag(p);
        if (!*p) return p;
        p = skip(p);
        if (!*p || p[1] == u'/') return p;
        if (*p != u'<') return nullptr;  // text after a comment

        name_run name{};
        if (!read_tag_name(p, name)) return nullptr;
        if (depth + 1 > kvxml_max_depth) return nullptr;
        kvxml_node_guard made(make_node(name));
        KVXML_node* node = made.node;
        bool closed = false;
        p = parse_attributes(p, node, closed);
        if (!p) return nullptr;
        if (closed) {
            append(made.release());
            continue;
        }
        const bool declaration = node->is_declaration();
        // The text's first declaration becomes the root, so its children are top level.
        const int child_depth = (top && !receiver->first_child && declaration) ? depth : depth + 1;
        const xml_char* content = p;
        bool seen = false;  // a line break or "&" in the text
        const xml_char* text_end = kvxml_scan(content, end_, text_scan, seen);
        if (!declaration && text_end[0] == u'<' && text_end[1] == u'/') {
            // The commonest element: no child and no comment, its content ends at the
            // first "<", an end tag. Parsing that content would stop right there.
            if (!gather_text(content, text_end, seen, node)) return nullptr;
            p = text_end;
        } else {
            p = parse_content(node, p, child_depth, false);
            if (!p) return nullptr;
            if (!node->first_child && !declaration && !gather_text(content, text_end, seen, node))
                return nullptr;
        }
        if (declaration) {
            append(made.release());
            continue;
        }
        // The end tag of this element.
        p = to_next_tag(p);
        if (!*p) return nullptr;
        p = skip(p);
        if (p[0] != u'<' || p[1] != u'/') return nullptr;
        name_run end{};
        if (!read_tag_name(p, end)) return nullptr;
        if (!same_name(node->name, end)) return nullptr;
        append(made.release());
        if (!*p) return p;
    }
}
}  // namespace

bool kvxml_parse_document(KVXML_node*& root, const xml_char* text, const xml_char* end) {
    parser reader(end);
    root = reader.make_provisional_root();
    const xml_char* p = text;
    bool parsed = false;
    try {
        parsed = reader.parse_content(root, p, 0, true) != nullptr;
    } catch (...) {
        reader.give_version(root);  // the document keeps the root as it is
        throw;
    }
    // A text that begins with its own declaration replaces the provisional root (the
    // caller does that), which then needs no attribute; in every other case it stays.
    const KVXML_node* first = root->first_child;
    if (!parsed || !first || !first->is_declaration()) reader.give_version(root);
    return parsed;
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
    parser reader(p + xml_length(p));
    bool closed = false;
    if (!reader.parse_attributes(p, declaration.node, closed)) return false;
    return xml_equal_nocase(declaration.node->get_attribute_value(KVXML_TEXT("encoding")),
                            KVXML_TEXT("UTF-8"));
}
