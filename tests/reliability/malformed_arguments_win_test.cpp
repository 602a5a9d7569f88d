// A thousand arguments that are no proper envelope, through COM: random units, texts that are
// not XML, nesting past the parser's limit, texts of a few megabytes. Each gets the answer
// the dispatcher's rules give (almost all: refused with E_INVALIDARG), and the service goes on.
// No answer is predicted by parsing the text: texts the grammar refuses must be refused,
// proper envelopes the test writes in the serializer's layout come back as themselves, and
// for the rest, whose fate depends on the parser's details, the answer must be the refusal
// or a shape the routing rules allow for what the text holds.
#include <gtest/gtest.h>

#include "dispatcher/scramble_text_win.h"
#include "tests/doubles/manager/manager_double_win.h"
#include "tests/reliability/reliability_support_win.h"
#include "xml/kv_xml.h"  // kvxml_max_depth

#include <random>
#include <vector>

namespace {
using namespace reliability;

// How the argument travels: coded as clients code it, as it is, or as a null BSTR.
enum class sent { coded, as_is, null };

// What the answer must be.
enum class expect {
    by_the_rules,  // the refusal or an answer the routing rules allow (answered_by_the_rules)
    refusal,       // refused whatever the parser's details
    own_echo,      // a proper envelope in the serializer's layout: the manager echoes it unchanged
};

struct malformed {
    std::string kind;
    std::wstring argument;
    sent as = sent::coded;
    expect answer = expect::by_the_rules;
};

std::wstring repeat(const std::wstring& piece, std::size_t times) {
    std::wstring text;
    text.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) text += piece;
    return text;
}

const std::wstring echo_open = L"<function name=\"manager_echo\">";
// The same envelope as the serializer writes it (what the manager double echoes).
const std::wstring serialized_echo_open = L"\xFEFF<?xml version=\"1.0\"?>\r\n  <function name=\"manager_echo\">\r\n";
const std::wstring serialized_echo_close = L"  </function>\r\n";
std::wstring indent(std::size_t depth) { return std::wstring(2 * depth, L' '); }

// Texts that are no envelope by the grammar's own rules.
std::vector<malformed> not_envelopes() {
    const wchar_t* texts[] = {
        L"", L" ", L"hello", L"function", L"<", L"<function", L"<function name=\"manager_echo\"",
        L"<function name=\"manager_echo\">", L"<function name=manager_echo/>", L"<function name=\"a>b\"/>",
        L"<function name/>", L"<!DOCTYPE function><function name=\"manager_echo\"/>",
        L"<![CDATA[<function name=\"manager_echo\"/>]]>", L"<?pi x?><function name=\"manager_echo\"/>",
        L"</function>", L"<function name=\"manager_echo\"></functio>",
        L"<a><function name=\"manager_echo\"/></b>", L"{\"function\": \"manager_echo\"}",
        L"<function name=\"manager_echo\"/ >", L"<?xml version=\"1.0\"/><function name=\"manager_echo\"/>",
        L"<functions name=\"manager_echo\"/>", L"<x><function name=\"manager_echo\"/></x>",
        L"<function name=\"manager_echo\">a<!--c-->b</function>", L"<?xml ?><function name=\"manager_echo\"/>",
        L" {5A7C3E21-9B04-4F6D-A2C8-71E0D94B3F65} ", L"<function name=\"core_unknown\"/>",
        L"<function name=\"Xcore_has_agent_GUID_changed\"/>", L"<function name=\"manager_echo\"><a>",
        L"<function name=\"manager_echo\" x=\"1/>", L"<function name='manager_echo\"/>",
    };
    std::vector<malformed> cases;
    for (const wchar_t* text : texts) cases.push_back({"not an envelope", text, sent::coded, expect::refusal});
    cases.push_back({"null argument", L"", sent::null, expect::refusal});
    return cases;
}

// Nesting beyond the parser's limit of 256 levels, in several shapes.
std::vector<malformed> too_deep(std::mt19937& random) {
    std::vector<malformed> cases;
    for (int i = 0; i < 40; ++i) {
        const std::size_t depth = kvxml_max_depth + 1 + random() % (i < 20 ? 16 : 20000);
        std::wstring text;
        switch (i % 4) {
            case 0: text = echo_open + repeat(L"<a>", depth) + repeat(L"</a>", depth) + L"</function>"; break;
            case 1: text = repeat(echo_open, depth) + repeat(L"</function>", depth); break;
            case 2: text = echo_open + repeat(L"<a x='1'>t", depth); break;
            default: text = repeat(L"<a/><b>", depth) + echo_open + L"</function>" + repeat(L"</b>", depth); break;
        }
        cases.push_back({"nesting past the limit", text, sent::coded, expect::refusal});
    }
    // At the limit itself the envelope is proper: the manager echoes it. Written as the
    // serializer writes it: "function" at depth 1, then kvxml_max_depth - 1 empty elements
    // inside each other, each on its own lines with two spaces per level.
    constexpr std::size_t limit = kvxml_max_depth;
    std::wstring text = serialized_echo_open;
    for (std::size_t depth = 2; depth <= limit; ++depth) text += indent(depth) + L"<a>\r\n";
    for (std::size_t depth = limit; depth >= 2; --depth) text += indent(depth) + L"</a>\r\n";
    cases.push_back({"nesting at the limit", text + serialized_echo_close, sent::coded, expect::own_echo});
    return cases;
}

// Texts of a few megabytes.
std::vector<malformed> huge(std::mt19937& random) {
    const std::size_t units = 1536 * 1024;  // 3 MB
    std::wstring noise(units, L'x');
    for (wchar_t& unit : noise) unit = static_cast<wchar_t>(1 + random() % 0xFFFF);
    return {
        {"huge text without markup", repeat(L"plain words ", units / 12), sent::coded, expect::refusal},
        {"huge unclosed element", echo_open + repeat(L"text ", units / 5), sent::coded, expect::refusal},
        {"huge unclosed attribute value", L"<function name=\"manager_echo\" data=\"" + repeat(L"v", units), sent::coded, expect::refusal},
        {"huge list of unfinished attributes", L"<function name=\"manager_echo\"" + repeat(L" a=\"1\"", units / 7), sent::coded, expect::refusal},
        {"huge unclosed comment", L"<!--" + repeat(L"<function name=\"manager_echo\"/>", units / 32), sent::coded, expect::refusal},
        {"huge nesting", repeat(L"<a>", units / 3), sent::coded, expect::refusal},
        {"huge random units", noise},
        {"huge random units, not coded", noise, sent::as_is},
        {"huge proper envelope",
         serialized_echo_open + repeat(L"    <item key=\"k\">some &amp; text</item>\r\n", units / 40) + serialized_echo_close,
         sent::coded, expect::own_echo},
    };
}

// Proper envelopes with one fault put in at random: the parser decides.
std::vector<malformed> mutated(std::mt19937& random, std::size_t count) {
    const wchar_t faults[] = L"<>\"'/&=; !-?";
    std::vector<malformed> cases;
    for (std::size_t i = 0; i < count; ++i) {
        std::wstring text = i % 3 == 0 ? envelope(core_command, 7, static_cast<unsigned>(i))
                                        : envelope(manager_double::echo, 7, static_cast<unsigned>(i), 200);
        const std::size_t at = random() % text.size();
        switch (random() % 4) {
            case 0: text.resize(at); break;
            case 1: text[at] = faults[random() % (sizeof faults / sizeof faults[0] - 1)]; break;
            case 2: text.erase(at, 1); break;
            default: text.insert(at, text.substr(random() % text.size(), 1 + random() % 16)); break;
        }
        cases.push_back({"mutated envelope", text});
    }
    return cases;
}

// Random units, coded by the client or not, and envelopes the client forgot to code.
std::vector<malformed> random_units(std::mt19937& random, std::size_t count) {
    std::vector<malformed> cases;
    for (std::size_t i = 0; i < count; ++i) {
        if (i % 6 == 5) {
            cases.push_back({"envelope not coded", envelope(manager_double::echo, 8, static_cast<unsigned>(i)), sent::as_is});
            continue;
        }
        std::wstring units(1 + random() % 4000, L'\0');
        const bool coded_range = i % 3 == 0;  // units a coded text is made of
        for (wchar_t& unit : units)
            unit = static_cast<wchar_t>(coded_range ? 0x4000 + random() % 0x8000 : random() % 0x10000);
        cases.push_back({"random units", units, i % 2 == 0 ? sent::coded : sent::as_is});
    }
    return cases;
}

std::vector<malformed> thousand_cases(std::mt19937& random) {
    std::vector<malformed> cases = not_envelopes();
    for (auto* more : {&too_deep, &huge})
        for (malformed& one : (*more)(random)) cases.push_back(std::move(one));
    for (malformed& one : mutated(random, 200)) cases.push_back(std::move(one));
    for (malformed& one : random_units(random, 1000 - cases.size())) cases.push_back(std::move(one));
    return cases;
}

using MalformedArguments = RunningService;

TEST_F(MalformedArguments, AThousandAreAnsweredByTheRulesAndTheServiceGoesOn) {
    std::mt19937 random(20240613);
    const std::vector<malformed> cases = thousand_cases(random);
    ASSERT_EQ(cases.size(), 1000u);
    std::size_t refusals = 0, answered_otherwise = 0, wrong = 0;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const malformed& one = cases[i];
        unique_bstr argument;
        if (one.as == sent::coded) {
            ASSERT_TRUE(SUCCEEDED(scramble_text(one.argument.c_str(), argument.put())));
        } else if (one.as == sent::as_is) {
            argument.reset(SysAllocStringLen(one.argument.data(), static_cast<UINT>(one.argument.size())));
        }
        // The plain text the service will see: decoded from what travels, up to its first NUL.
        std::wstring plain;
        if (argument) {
            unique_bstr decoded;
            ASSERT_TRUE(SUCCEEDED(unscramble_text(argument.get(), decoded.put())));
            plain = decoded.get();
        }
        const service_host_test::call_outcome outcome = service_host_test::call_with_argument(dispatcher_.get(), argument.get());
        const ::testing::AssertionResult right =
            one.answer == expect::refusal    ? answered(outcome, refused())
            : one.answer == expect::own_echo ? answered(outcome, {S_OK, S_OK, one.argument})
                                             : answered_by_the_rules(outcome, plain);
        if (!right) {
            if (++wrong <= 10) ADD_FAILURE() << "case " << i << " (" << one.kind << "): " << right.message();
            continue;
        }
        ++(outcome.ret_code == E_INVALIDARG ? refusals : answered_otherwise);
    }
    std::printf("1000 malformed arguments: %zu refused with E_INVALIDARG, %zu parsed and answered by the rules, %zu wrong\n",
                refusals, answered_otherwise, wrong);
    EXPECT_EQ(wrong, 0u);
    EXPECT_GE(refusals, 900u) << "the cases are meant to be malformed";
    EXPECT_TRUE(still_serving());
}

}  // namespace
