#include "tools/rxctl/trace_lines.h"

#include "tools/rxctl/text_units.h"

namespace trace_lines {
namespace {

constexpr char16_t byte_order_mark = 0xFEFF;

bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

std::optional<std::uint32_t> line_process(std::u16string_view line) {
    // "HH:MM:SS [" is 10 units; then the decimal process id, "] ".
    constexpr std::u16string_view time_shape = u"00:00:00 [";
    if (line.size() < time_shape.size() + 3) return std::nullopt;
    for (std::size_t i = 0; i < time_shape.size(); ++i) {
        const bool ok = time_shape[i] == u'0' ? is_digit(line[i]) : line[i] == time_shape[i];
        if (!ok) return std::nullopt;
    }
    std::uint64_t process = 0;
    std::size_t i = time_shape.size();
    const std::size_t first_digit = i;
    for (; i < line.size() && is_digit(line[i]); ++i) {
        process = process * 10 + static_cast<std::uint64_t>(line[i] - u'0');
        if (process > UINT32_MAX) return std::nullopt;
    }
    if (i == first_digit || i + 1 >= line.size() || line[i] != u']' || line[i + 1] != u' ') return std::nullopt;
    return static_cast<std::uint32_t>(process);
}

void decoder::feed(std::string_view bytes, std::string& utf8) {
    std::size_t i = 0;
    auto next_unit = [&](char16_t& unit) {
        if (has_odd_byte_) {
            if (i >= bytes.size()) return false;
            unit = static_cast<char16_t>(odd_byte_ | static_cast<unsigned char>(bytes[i++]) << 8);
            has_odd_byte_ = false;
            return true;
        }
        if (i + 1 >= bytes.size()) {
            if (i < bytes.size()) {
                odd_byte_ = static_cast<unsigned char>(bytes[i++]);
                has_odd_byte_ = true;
            }
            return false;
        }
        unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
        i += 2;
        return true;
    };
    for (char16_t unit = 0; next_unit(unit);) {
        const bool first = at_file_start_;
        at_file_start_ = false;
        if (first && unit == byte_order_mark) continue;
        if (unit == u'\r') continue;
        if (unit == u'\n') {
            end_line(utf8);
            continue;
        }
        line_ += unit;
    }
}

void decoder::finish(std::string& utf8) {
    has_odd_byte_ = false;
    if (!line_.empty()) end_line(utf8);
}

void decoder::end_line(std::string& utf8) {
    if (!process_ || line_process(line_) == process_) {
        utf8 += text_units::to_utf8_replacing(line_);
        utf8 += '\n';
    }
    line_.clear();
}

}  // namespace trace_lines
