// The client's platform-free rules: the envelope it writes, the scrambling round trip,
// how it judges call_function's two statuses, and how it reads a result.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/call_protocol.h"

namespace {
using namespace rx_client;

using text = std::basic_string<xml_char>;
text plain(const wiped_text& t) { return text(t.data(), t.size()); }
// The calls that answer through an out parameter, each expected to succeed.
template <bool (*call)(const xml_char*, wiped_text&) noexcept>
wiped_text out_of(const xml_char* in) {
    wiped_text out(KVXML_TEXT("left over"));
    EXPECT_TRUE(call(in, out));
    return out;
}

constexpr xml_char head[] = KVXML_TEXT("\uFEFF<?xml version=\"1.0\"?>\r\n");

TEST(ClientEnvelope, NamesAndArgumentsAreWrittenAsTheLibrarySerializesThem) {
    const argument escaped[] = {{KVXML_TEXT("path"), KVXML_TEXT("C:\\a&b<\"'>")}, {KVXML_TEXT("n.1"), KVXML_TEXT("")}};
    const argument one[] = {{KVXML_TEXT("_x-y"), KVXML_TEXT("\u20AC")}};
    const struct {
        const char* what;
        const xml_char* name;
        std::vector<argument> arguments;
        text expected;
    } rows[] = {
        {"name only", KVXML_TEXT("core_has_agent_GUID_changed"), {},
         text(head) + KVXML_TEXT("  <function name=\"core_has_agent_GUID_changed\"></function>\r\n")},
        {"name escaped", KVXML_TEXT("a\"&<b"), {}, text(head) + KVXML_TEXT("  <function name=\"a&quot;&amp;&lt;b\"></function>\r\n")},
        {"empty name", KVXML_TEXT(""), {}, text(head) + KVXML_TEXT("  <function name=\"\"></function>\r\n")},
        {"values escaped, empty value", KVXML_TEXT("f"), {std::begin(escaped), std::end(escaped)},
         text(head) + KVXML_TEXT("  <function name=\"f\">\r\n    <path>C:\\a&amp;b&lt;&quot;&#39;&gt;</path>\r\n") +
             KVXML_TEXT("    <n.1>\r\n    </n.1>\r\n  </function>\r\n")},
        {"non-ASCII value", KVXML_TEXT("f"), {std::begin(one), std::end(one)},
         text(head) + KVXML_TEXT("  <function name=\"f\">\r\n    <_x-y>\u20AC</_x-y>\r\n  </function>\r\n")},
    };
    for (const auto& row : rows) {
        wiped_text envelope;
        EXPECT_EQ(build_envelope(row.name, row.arguments, envelope), envelope_status::built) << row.what;
        EXPECT_EQ(plain(envelope), row.expected) << row.what;
    }
}

TEST(ClientEnvelope, RefusesWhatItCannotWrite) {
    const struct {
        const xml_char* name;
        const xml_char* argument_name;
        envelope_status expected;
    } rows[] = {
        {nullptr, KVXML_TEXT("a"), envelope_status::bad_function_name},
        {KVXML_TEXT("f"), KVXML_TEXT(""), envelope_status::bad_argument_name},
        {KVXML_TEXT("f"), KVXML_TEXT("1st"), envelope_status::bad_argument_name},
        {KVXML_TEXT("f"), KVXML_TEXT("-a"), envelope_status::bad_argument_name},
        {KVXML_TEXT("f"), KVXML_TEXT("a b"), envelope_status::bad_argument_name},
        {KVXML_TEXT("f"), KVXML_TEXT("a>"), envelope_status::bad_argument_name},
        {KVXML_TEXT("f"), KVXML_TEXT("\u00E9"), envelope_status::bad_argument_name},
        {KVXML_TEXT("f"), nullptr, envelope_status::bad_argument_name},
    };
    for (const auto& row : rows) {
        const argument arguments[] = {{row.argument_name, KVXML_TEXT("v")}};
        wiped_text envelope(KVXML_TEXT("left over"));
        EXPECT_EQ(build_envelope(row.name, arguments, envelope), row.expected);
        EXPECT_TRUE(envelope.empty());
    }
}

TEST(ClientScrambling, RoundTripsAndStaysInItsRange) {
    const struct {
        text plain;
        std::size_t coded_length;
    } rows[] = {
        {text(), 0},
        {text(1, xml_char(0xFFFF)), 2},
        {text(14, xml_char(0x4141)), 15},
        {text(15, KVXML_TEXT('a')), 16},
        {text(16, xml_char(0x8000)), 18},
        {text(KVXML_TEXT("\xD800\xDC00 lone \xDFFF")), 10},
        {text(31, xml_char(0x6D1B)), 34},  // equal to the seed: chain words of zero
    };
    for (const auto& row : rows) {
        const wiped_text coded = out_of<scramble>(row.plain.c_str());
        ASSERT_EQ(coded.size(), row.coded_length);
        for (const xml_char unit : coded) {
            EXPECT_GE(static_cast<unsigned>(unit), 0x4000u);
            EXPECT_LE(static_cast<unsigned>(unit), 0xBFFFu);
        }
        EXPECT_EQ(plain(out_of<unscramble>(coded.c_str())), row.plain);
    }
    // The published example (docs/protocol.md): the first units of a known envelope.
    const wiped_text coded = out_of<scramble>(KVXML_TEXT("<function name=\"core_x\"/>"));
    const text expected_start = {0x676D, 0x4B27, 0x920B, 0xA552};
    EXPECT_EQ(plain(coded).substr(0, 4), expected_start);
    EXPECT_TRUE(out_of<scramble>(nullptr).empty());
    EXPECT_TRUE(out_of<unscramble>(nullptr).empty());
}

TEST(ClientStatus, TheReturnValueSaysWhetherTheCallWasCarriedOut) {
    const struct {
        std::uint32_t returned;
        call_outcome expected;
    } rows[] = {
        {0x00000000, call_outcome::carried_out}, {0x00000001, call_outcome::refused},
        {0x80004005, call_outcome::unreachable}, {0x800706BA, call_outcome::unreachable},
        {0x00000002, call_outcome::unexpected},  {0x00040000, call_outcome::unexpected},
    };
    for (const auto& row : rows) EXPECT_EQ(judge_call(static_cast<std::int32_t>(row.returned)), row.expected) << row.returned;

    EXPECT_EQ(describe_status(0), "00000000 (S_OK)");
    EXPECT_EQ(describe_status(static_cast<std::int32_t>(0x80070057)).rfind("80070057 (E_INVALIDARG", 0), 0u);
    EXPECT_EQ(describe_status(0x12345678), "12345678");
}

TEST(ClientResult, TheMarkIsDroppedAndTheValueRead) {
    EXPECT_EQ(plain(out_of<result_text>(KVXML_TEXT("\uFEFF<a/>"))), KVXML_TEXT("<a/>"));
    EXPECT_EQ(plain(out_of<result_text>(KVXML_TEXT("<a/>"))), KVXML_TEXT("<a/>"));
    EXPECT_EQ(plain(out_of<result_text>(KVXML_TEXT("\uFEFF\uFEFF"))), KVXML_TEXT("\uFEFF")) << "only the leading mark";
    EXPECT_TRUE(out_of<result_text>(nullptr).empty());

    const struct {
        const xml_char* document;
        bool found;
        const xml_char* value;
    } rows[] = {
        {KVXML_TEXT("\uFEFF<?xml version=\"1.0\"?>\r\n  <value>true</value>\r\n"), true, KVXML_TEXT("true")},
        {KVXML_TEXT("<value>false</value>"), true, KVXML_TEXT("false")},
        {KVXML_TEXT("<other/><VALUE>a&amp;b</VALUE>"), true, KVXML_TEXT("a&b")},
        {KVXML_TEXT("<value/>"), true, KVXML_TEXT("")},
        {KVXML_TEXT("<r><value>x</value></r>"), false, KVXML_TEXT("")},
        {KVXML_TEXT("<value>x"), false, KVXML_TEXT("")},
        {KVXML_TEXT(""), false, KVXML_TEXT("")},
    };
    for (const auto& row : rows) {
        wiped_text value(KVXML_TEXT("stale"));
        EXPECT_EQ(result_value(row.document, value), row.found);
        EXPECT_EQ(plain(value), row.value);
    }
}

}  // namespace
