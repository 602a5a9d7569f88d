// rxctl scramble / unscramble end to end: real processes, real pipes, exact bytes.
#include "tools/rxctl/tests/rxctl_runner_win.h"

#include "dispatcher/scramble_text_win.h"
#include "foundation/com_resource_win.h"
#include "tools/rxctl/text_units.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using namespace std::string_literals;

// What the service's own functions make of a text, for comparison with the tool.
std::u16string service_scramble(const std::u16string& units, bool scramble) {
    unique_bstr out;
    const auto* in = reinterpret_cast<const wchar_t*>(units.data());
    const HRESULT hr = scramble ? scramble_counted_text(in, units.size(), out.put())
                                : unscramble_counted_text(in, units.size(), out.put());
    EXPECT_EQ(hr, S_OK);
    return std::u16string(reinterpret_cast<const char16_t*>(out.get()), SysStringLen(out.get()) - 1);
}

std::string utf8(const std::u16string& units) {
    std::string bytes;
    std::size_t bad = 0;
    EXPECT_TRUE(text_units::to_utf8(units, bytes, bad));
    return bytes;
}

std::u16string utf16(const std::string& bytes) {
    std::u16string units;
    std::size_t bad = 0;
    EXPECT_TRUE(text_units::from_utf8(bytes, units, bad));
    return units;
}

std::string large_text() {
    std::mt19937 rng(23);
    std::uniform_int_distribution<int> pick(0x20, 0x7E);
    std::string text;
    for (int i = 0; i < 300000; ++i) text += static_cast<char>(i % 77 == 0 ? '\n' : pick(rng));
    return text + "\xE2\x82\xAC\xF0\x9F\x98\x80";
}

// Each case costs two Wine processes, so the rows are few but cover: empty input, line
// endings kept as they are, a byte-order mark kept, two- to four-byte sequences, the group
// seam at 15 units and a text larger than one pipe buffer.
const std::string texts[] = {
    "", "one newline\n", "crlf\r\nlines\r\nno final one",
    "\xEF\xBB\xBF" "starts with a byte-order mark", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80",
    std::string(15, 'x'), std::string(16, 'y'), large_text(),
};

TEST(ScrambleCommand, TextRoundTripsThroughTwoProcessesMatchingTheService) {
    for (const std::string& text : texts) {
        const rxctl_result coded = run_rxctl(L"scramble", text);
        ASSERT_EQ(coded.exit_code, 0u) << coded.err;
        EXPECT_EQ(coded.err, "");
        EXPECT_EQ(coded.out, utf8(service_scramble(utf16(text), true))) << text.substr(0, 40);
        const rxctl_result plain = run_rxctl(L"unscramble", coded.out);
        ASSERT_EQ(plain.exit_code, 0u) << plain.err;
        EXPECT_EQ(plain.err, "");
        EXPECT_EQ(plain.out, text) << text.substr(0, 40);
    }
}

TEST(ScrambleCommand, HexFormIsExact) {
    struct row { const wchar_t* command; std::string in, out; };
    const row rows[] = {
        {L"scramble --hex", "", "\n"},
        {L"unscramble --hex", " \r\n", "\n"},
        {L"unscramble --hex", "4000", "\n"},  // one coded unit decodes to the empty text
        // The worked packing example: these plain units chain to 0x8001, 0x0002, 0xFFFF.
        {L"scramble --hex", "6C9B 8201 FFFD", "4001 4002 BFFF 4005\n"},
        {L"scramble --hex", "6c9b\t0x8201\r\n  fffd\n", "4001 4002 BFFF 4005\n"},
        {L"unscramble --hex", "4001 4002 BFFF 4005", "6C9B 8201 FFFD\n"},
        {L"unscramble --hex", "4001\n4002\n BFFF 4005 \n", "6C9B 8201 FFFD\n"},
    };
    for (const row& r : rows) {
        const rxctl_result got = run_rxctl(r.command, r.in);
        EXPECT_EQ(got.exit_code, 0u) << got.err;
        EXPECT_EQ(got.out, r.out) << r.in;
        EXPECT_EQ(got.err, "");
    }
}

TEST(ScrambleCommand, HexRoundTripsAnyUnitsThroughTwoProcesses) {
    // Units the text form cannot carry alone (lone surrogates, U+FFFF) travel in hex.
    const std::u16string plain = u"\xD800\xFFFF\x8000\x0001\xDC00\xABAB" + std::u16string(40, u'\x7F7F');
    const std::string hex = text_units::to_hex(plain);
    const rxctl_result coded = run_rxctl(L"scramble --hex", hex);
    ASSERT_EQ(coded.exit_code, 0u) << coded.err;
    EXPECT_EQ(coded.out, text_units::to_hex(service_scramble(plain, true)));
    const rxctl_result back = run_rxctl(L"unscramble --hex", coded.out);
    ASSERT_EQ(back.exit_code, 0u) << back.err;
    EXPECT_EQ(back.out, hex);
}

TEST(ScrambleCommand, UnwritableUnscrambledTextExitsOne) {
    // A plain text with a lone surrogate scrambles fine, but has no UTF-8 form.
    const std::string coded = utf8(service_scramble(u"ab\xD800" "cd", true));
    const rxctl_result r = run_rxctl(L"unscramble", coded);
    EXPECT_EQ(r.exit_code, 1u);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "rxctl: the unscrambled text is not valid UTF-16 (unpaired surrogate at unit 2); "
                     "use --hex to see its units\n");
}

TEST(ScrambleCommand, ZeroUnitsOfAnUnscrambledTextAreWrittenAsZeroBytes) {
    const std::string coded = utf8(service_scramble(u"A\0B"s, true));
    const rxctl_result r = run_rxctl(L"unscramble", coded);
    EXPECT_EQ(r.exit_code, 0u) << r.err;
    EXPECT_EQ(r.out, "A\0B"s);
}

TEST(ScrambleCommand, RefusedInputExitsTwoWithAStableMessage) {
    struct row { const wchar_t* command; std::string in, message; };
    const row rows[] = {
        {L"scramble", "ok\xFF", "rxctl: standard input is not valid UTF-8 (byte 2)\n"},
        {L"unscramble", "\xC0\x80", "rxctl: standard input is not valid UTF-8 (byte 0)\n"},
        {L"scramble", "\xED\xA0\x80", "rxctl: standard input is not valid UTF-8 (byte 0)\n"},
        {L"scramble", "cut \xE2\x82", "rxctl: standard input is not valid UTF-8 (byte 4)\n"},
        {L"scramble", "a\0b"s, "rxctl: standard input holds a zero unit (unit 1), which a text cannot contain\n"},
        {L"unscramble", "\0"s, "rxctl: standard input holds a zero unit (unit 0), which a text cannot contain\n"},
        {L"scramble --hex", "41 0000", "rxctl: standard input holds a zero unit (unit 1), which a text cannot contain\n"},
        {L"scramble --hex", "41 10000", "rxctl: standard input: '10000' is not a 16-bit hexadecimal number\n"},
        {L"unscramble --hex", "Hello", "rxctl: standard input: 'Hello' is not a 16-bit hexadecimal number\n"},
        {L"unscramble --hex", std::string(100, 'z'),
         "rxctl: standard input: '" + std::string(24, 'z') + "...' is not a 16-bit hexadecimal number\n"},
        {L"scramble --bogus", "x", "rxctl: unknown argument '--bogus' for scramble; usage: rxctl scramble [--hex]\n"},
        {L"unscramble extra", "x", "rxctl: unknown argument 'extra' for unscramble; usage: rxctl unscramble [--hex]\n"},
    };
    for (const row& r : rows) {
        const rxctl_result got = run_rxctl(r.command, r.in);
        EXPECT_EQ(got.exit_code, 2u) << r.message;
        EXPECT_EQ(got.out, "") << r.message;
        EXPECT_EQ(got.err, r.message);
    }
}

}  // namespace
