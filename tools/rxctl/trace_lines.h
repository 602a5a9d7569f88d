#pragma once
// The trace file as text for people: its UTF-16LE bytes (byte-order mark first, lines ended
// by a line feed, some by a carriage return and a line feed) become UTF-8 lines ended by a
// line feed, without the mark and without carriage returns; optionally only the lines of
// one process, known by the line prefix "HH:MM:SS [PID] " every writer puts at the start
// of a line. Incremental, so a file that grows can be fed as it grows. Platform-free.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trace_lines {

// The process id in a line's prefix "HH:MM:SS [PID] ", or nothing when the line does not
// start with a well-formed prefix.
std::optional<std::uint32_t> line_process(std::u16string_view line);

class decoder {
public:
    // Every line, or only those whose prefix names `process`.
    explicit decoder(std::optional<std::uint32_t> process = std::nullopt) : process_(process) {}

    // Takes the next bytes of the file (any split, even inside a unit) and appends every
    // line they complete to `utf8`. A unit without its partner surrogate shows as U+FFFD.
    void feed(std::string_view bytes, std::string& utf8);
    // At the end of the file: appends the unfinished last line, if any, with a line feed
    // (a last odd byte, half a unit, is dropped).
    void finish(std::string& utf8);

private:
    void end_line(std::string& utf8);

    std::optional<std::uint32_t> process_;
    bool at_file_start_ = true;
    bool has_odd_byte_ = false;
    unsigned char odd_byte_ = 0;
    std::u16string line_;
};

}  // namespace trace_lines
