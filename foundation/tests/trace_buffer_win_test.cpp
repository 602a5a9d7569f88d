// The trace formatter: legacy wide printf, doubling from the starting size, and the
// cases where it must stop instead of growing for ever.
#include "foundation/trace_buffer_win.h"

#include <gtest/gtest.h>

#include <string>

namespace {
TEST(TraceFormat, UsesLegacyWideRulesAndGrowsByDoubling) {
    struct Case { std::size_t start, text_length, capacity; };
    const Case cases[] = {
        {256, 10, 256},
        {256, 255, 256},   // fits with its terminator
        {256, 256, 512},   // exactly the size: no room for the terminator
        {256, 1000, 1024},
        {1, 5000, 8192},
        {0, 3, 4},
    };
    for (const auto& c : cases) {
        const std::wstring text(c.text_length, L'x');
        trace_buffer out;
        ASSERT_TRUE(trace_format_into(out, c.start, L"%s", text.c_str()));
        EXPECT_EQ(out.length(), c.text_length);
        EXPECT_EQ(out.capacity(), c.capacity) << c.text_length;
        EXPECT_EQ(std::wstring(out.data()), text);
    }
    trace_buffer out;
    ASSERT_TRUE(trace_format_into(out, 4, L"%S[%s](%s) %4d|%02d|%08x", "{G}", L"S-1-5-18",
                                  L"user_logoff", 7, 3, 0x80004005u));
    EXPECT_STREQ(out.data(), L"{G}[S-1-5-18](user_logoff)    7|03|80004005");
}

TEST(TraceFormat, StopsOnRejectedFormatOrImpossibleSize) {
    trace_buffer out;
    // The runtime rejects a null format (not lack of room): no line, no endless growth.
    EXPECT_FALSE(trace_vformat(out, 16, nullptr, nullptr));
    // A starting size past what the runtime can report is refused, not wrapped around.
    EXPECT_FALSE(trace_format_into(out, trace_max_units + 1, L"x"));
    EXPECT_FALSE(trace_format_into(out, static_cast<std::size_t>(-1), L"x"));
}

TEST(TraceFormat, SizeSumsSaturateInsteadOfWrapping) {
    const std::size_t max = static_cast<std::size_t>(-1);
    EXPECT_EQ(trace_add_units(3, 4), 7u);
    EXPECT_EQ(trace_add_units(trace_max_units, 0), trace_max_units);
    EXPECT_EQ(trace_add_units(trace_max_units, 1), trace_max_units + 1);
    EXPECT_EQ(trace_add_units(max, 260), trace_max_units + 1);
    EXPECT_EQ(trace_add_units(260, max), trace_max_units + 1);
}
}  // namespace
