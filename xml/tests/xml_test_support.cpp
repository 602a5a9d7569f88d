#include "xml_test_support.h"

#include <cstdio>

xml_string X(const char* ascii) {
    xml_string out;
    for (; *ascii; ++ascii) out.push_back(static_cast<xml_char>(static_cast<unsigned char>(*ascii)));
    return out;
}

std::string narrow(const xml_char* s) {
    std::string out;
    if (!s) return "(null)";
    for (; *s; ++s) {
        const unsigned c = static_cast<unsigned>(*s);
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04X", c);
            out += hex;
        }
    }
    return out;
}

std::string narrow(const xml_string& s) { return narrow(s.c_str()); }

std::string dump(KV_xml_node* node) {
    if (!node) return "(none)";
    std::string out = narrow(node->get_name());
    if (node->get_attribute(0, nullptr)) {
        out += "[";
        for (int i = 0; KV_xml_attrib* a = node->get_attribute(i, nullptr); ++i) {
            if (i) out += ";";
            out += narrow(a->get_name()) + "=" + narrow(a->get_value());
        }
        out += "]";
    }
    if (*node->get_text()) out += "\"" + narrow(node->get_text()) + "\"";
    if (node->has_children()) {
        out += "{";
        for (int i = 0; KV_xml_node* c = node->get_child(i, nullptr); ++i) {
            if (i) out += ",";
            out += dump(c);
        }
        out += "}";
    }
    return out;
}

xml_string serialize(KV_xml_doc* doc) {
    xml_char* s = doc->to_string();
    xml_string out(s);
    doc->free_string(s);
    return out;
}

xml_string nested(int levels, const char* name) {
    const xml_string n = X(name);
    xml_string out;
    out.reserve(static_cast<std::size_t>(levels) * (n.size() * 2 + 5));
    for (int i = 0; i < levels; ++i) out += X("<") + n + X(">");
    for (int i = 0; i < levels; ++i) out += X("</") + n + X(">");
    return out;
}
