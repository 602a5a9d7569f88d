#include "tools/rxctl/json_text.h"

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

}  // namespace

std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (byte < 0x20) {
                out += "\\u00";
                out += hex_digits[byte >> 4];
                out += hex_digits[byte & 0xF];
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string json_object(const std::vector<std::pair<std::string, std::string>>& members) {
    std::string out = "{";
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (i != 0) out += ",";
        out += json_string(members[i].first) + ":" + members[i].second;
    }
    return out + "}\n";
}

std::string json_array(const std::vector<std::string>& values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) out += (i == 0 ? "" : ",") + values[i];
    return out + "]";
}
