// The trace file as rxctl trace show prints it: UTF-16LE bytes in, UTF-8 lines out, fed
// in any split, optionally one process only.
#include "tools/rxctl/trace_lines.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

// UTF-16LE bytes of `units`.
std::string bytes_of(std::u16string_view units) {
    std::string bytes;
    for (const char16_t u : units) {
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
    }
    return bytes;
}

const std::u16string file =
    u"\uFEFF"
    u"09:05:03 [812] P: 812,T:1234 X::y[0]\n"
    u"09:05:03 [90] P:  90,T:  91 X::z: Error: 0x80004005 ==> Unspecified error\r\n"
    u"09:05:04 [812] h\u00E9 \u20AC \xD83D\xDE00 lone \xDC00!\n"
    u"09:05:05 [812] open line";

TEST(TraceLines, EveryLineOrOneProcessInAnySplit) {
    const struct {
        std::optional<std::uint32_t> process;
        std::string expected;
    } rows[] = {
        {std::nullopt,
         "09:05:03 [812] P: 812,T:1234 X::y[0]\n"
         "09:05:03 [90] P:  90,T:  91 X::z: Error: 0x80004005 ==> Unspecified error\n"
         "09:05:04 [812] h\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 lone \xEF\xBF\xBD!\n"
         "09:05:05 [812] open line\n"},
        {90, "09:05:03 [90] P:  90,T:  91 X::z: Error: 0x80004005 ==> Unspecified error\n"},
        {812,
         "09:05:03 [812] P: 812,T:1234 X::y[0]\n"
         "09:05:04 [812] h\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 lone \xEF\xBF\xBD!\n"
         "09:05:05 [812] open line\n"},
        {81, ""},
    };
    const std::string bytes = bytes_of(file);
    for (const auto& row : rows) {
        // Whole, one byte at a time, and in pieces of 7 bytes (cutting units and pairs).
        for (const std::size_t piece : {bytes.size(), std::size_t{1}, std::size_t{7}}) {
            trace_lines::decoder decoder(row.process);
            std::string out;
            for (std::size_t at = 0; at < bytes.size(); at += piece) decoder.feed(bytes.substr(at, piece), out);
            decoder.finish(out);
            EXPECT_EQ(out, row.expected) << "pieces of " << piece;
        }
    }
}

TEST(TraceLines, AnOpenLineWaitsForItsEnd) {
    trace_lines::decoder decoder;
    std::string out;
    decoder.feed(bytes_of(u"\uFEFF10:00:00 [7] first"), out);
    EXPECT_EQ(out, "") << "a follower prints a line once it is complete";
    decoder.feed(bytes_of(u", continued\n\uFEFF10:00:01 [7] x\n") + "\x41", out);
    EXPECT_EQ(out, "10:00:00 [7] first, continued\n\xEF\xBB\xBF" "10:00:01 [7] x\n")
        << "only the mark at the start of the file is dropped";
    decoder.finish(out);
    EXPECT_EQ(out.substr(out.size() - 2), "x\n") << "half a unit at the end is dropped";
}

TEST(TraceLines, TheLinePrefixNamesTheProcess) {
    const struct {
        std::u16string line;
        std::optional<std::uint32_t> process;
    } rows[] = {
        {u"09:05:03 [812] text", 812},
        {u"23:59:59 [0] ", 0},
        {u"09:05:03 [4294967295] x", 4294967295u},
        {u"09:05:03 [4294967296] x", std::nullopt},
        {u"09:05:03 [812]text", std::nullopt},
        {u"09:05:03 [] x", std::nullopt},
        {u"9:05:03 [812] x", std::nullopt},
        {u"09-05-03 [812] x", std::nullopt},
        {u"09:05:03 [8a2] x", std::nullopt},
        {u"P: 812,T:1234 X::y", std::nullopt},
        {u"", std::nullopt},
    };
    for (const auto& row : rows) EXPECT_EQ(trace_lines::line_process(row.line), row.process);
}

}  // namespace
