#include "tools/rxctl/xml_nesting.h"

namespace {

// The bytes without zeros: UTF-16LE markup becomes its ASCII form.
class reader {
public:
    explicit reader(std::string_view bytes) noexcept : bytes_(bytes) {}
    bool at_end() noexcept {
        skip_zeros();
        return position_ >= bytes_.size();
    }
    char next() noexcept {
        skip_zeros();
        return position_ < bytes_.size() ? bytes_[position_++] : '\0';
    }
    char peek() noexcept {
        skip_zeros();
        return position_ < bytes_.size() ? bytes_[position_] : '\0';
    }
    // Whether the next bytes are `word` (consumed when they are).
    bool take(std::string_view word) noexcept {
        const std::size_t start = position_;
        for (const char c : word) {
            if (next() != c) {
                position_ = start;
                return false;
            }
        }
        return true;
    }
    // Moves past the next `end` (to the end when there is none).
    void skip_past(std::string_view end) noexcept {
        while (!at_end() && !take(end)) next();
    }
private:
    void skip_zeros() noexcept {
        while (position_ < bytes_.size() && bytes_[position_] == '\0') ++position_;
    }
    std::string_view bytes_;
    std::size_t position_ = 0;
};

bool starts_name(char c) noexcept {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_' || u == ':' || u >= 0x80;
}

// Past the rest of a start tag; true when it closed itself ("/>").
bool skip_start_tag(reader& in) noexcept {
    char previous = '\0';
    while (!in.at_end()) {
        const char c = in.next();
        if (c == '"' || c == '\'') {
            while (!in.at_end() && in.next() != c) {}
        } else if (c == '>') {
            return previous == '/';
        }
        previous = c;
    }
    return false;
}

}  // namespace

bool nested_deeper_than(std::string_view bytes, int limit) noexcept {
    reader in(bytes);
    int depth = 0;
    while (!in.at_end()) {
        if (in.next() != '<') continue;
        if (in.take("!--")) {
            in.skip_past("-->");
        } else if (in.take("![CDATA[")) {
            in.skip_past("]]>");
        } else if (in.take("?") || in.take("!")) {
            in.skip_past(">");
        } else if (in.take("/")) {
            in.skip_past(">");
            if (depth > 0) --depth;
        } else if (starts_name(in.peek())) {
            if (!skip_start_tag(in) && ++depth > limit) return true;
        }
    }
    return false;
}
