// Masking of secrets and cutting into lines, on platform-free 16-bit text.
#include "foundation/trace_mask.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
std::u16string masked(std::u16string text) {
    trace_mask_secrets(text.data(), text.size());
    return text;
}

TEST(TraceMask, ReplacesSecretContentUpToTheNextTag) {
    struct Case { std::u16string in, out; };
    const Case cases[] = {
        {u"<secret>abcd</secret>", u"<secret>****</secret>"},
        {u"a<secret>x</secret>b<secret>yz</secret>c", u"a<secret>*</secret>b<secret>**</secret>c"},
        {u"text<secret>", u"text<secret>"},                 // marker at the end masks nothing
        {u"<secret>", u"<secret>"},
        {u"<secret>rest of text", u"<secret>************"},  // no '<' after: up to the end
        {u"<SECRET>abcd</SECRET>", u"<SECRET>abcd</SECRET>"},  // case-sensitive
        {u"<secret><secret>ab<", u"<secret><secret>**<"},   // masking stops at '<', search resumes there
        {u"<secre>ab", u"<secre>ab"},
        {u"", u""},
        {u"<secret></secret>", u"<secret></secret>"},
    };
    for (const auto& c : cases) EXPECT_EQ(masked(c.in), c.out);
}

TEST(TraceMask, SegmentsEndJustAfterEachLineFeed) {
    struct Case { std::u16string text; std::vector<std::u16string> segments; };
    const Case cases[] = {
        {u"one\ntwo\n", {u"one\n", u"two\n"}},
        {u"open", {u"open"}},
        {u"a\nb", {u"a\n", u"b"}},
        {u"\n\n", {u"\n", u"\n"}},
        {u"crlf\r\n", {u"crlf\r\n"}},
        {u"", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::u16string> got;
        for (std::size_t start = 0; start < c.text.size();) {
            const std::size_t end = trace_segment_end(c.text.data(), c.text.size(), start);
            got.push_back(c.text.substr(start, end - start));
            start = end;
        }
        EXPECT_EQ(got, c.segments);
    }
}
}  // namespace
