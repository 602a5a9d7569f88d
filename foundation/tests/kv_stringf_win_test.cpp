#include "foundation/kv_string_win.h"
#include "tests/support/recording_allocator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>

namespace {
TEST(KvStringf, WideFormatsFollowTheLegacyRules) {
    struct row { KV_stringf formatted; const wchar_t* expected; };
    const row rows[] = {
        {KV_stringf(L"%S[%s](%s)", "{G}", L"S-1-5-18", L"user_logoff"), L"{G}[S-1-5-18](user_logoff)"},
        {KV_stringf(L"[%4d]", 42), L"[  42]"},
        {KV_stringf(L"[%02d]", 7), L"[07]"},
        {KV_stringf(L"[%08x]", 0xBEEFu), L"[0000beef]"},
        {KV_stringf(L"%c%C", L'w', 'n'), L"wn"},
        {KV_stringf(L"%s", static_cast<const wchar_t*>(nullptr)), L"(null)"},
        {KV_stringf(L"no arguments"), L"no arguments"},
        {KV_stringf(L""), L""},
    };
    for (const row& r : rows) {
        ASSERT_NE(r.formatted.text(), nullptr);
        EXPECT_STREQ(r.formatted.text(), r.expected);
    }
}

TEST(KvStringf, NarrowFormatsSwapTheRoles) {
    struct row { KV_stringf formatted; const wchar_t* expected; };
    const row rows[] = {
        {KV_stringf("%s[%S]", "narrow", L"wide"), L"narrow[wide]"},
        {KV_stringf("%4d|%02d|%08x", 5, 9, 0xABCDu), L"   5|09|0000abcd"},
        {KV_stringf("caf\xe9"), L"caf\u00e9"},  // widened from the ANSI code page
    };
    for (const row& r : rows) EXPECT_STREQ(r.formatted.text(), r.expected);
}

TEST(KvStringf, NullFormatGivesTheEmptyText) {
    const KV_stringf wide(static_cast<const wchar_t*>(nullptr));
    ASSERT_NE(wide.text(), nullptr);
    EXPECT_STREQ(wide.text(), L"");
    const KV_stringf narrow(static_cast<const char*>(nullptr));
    ASSERT_NE(narrow.text(), nullptr);
    EXPECT_STREQ(narrow.text(), L"");
}

// The buffer sizes tried while formatting a text of `characters` characters.
std::vector<std::size_t> format_attempts(std::size_t characters, bool wide) {
    const std::wstring wide_text(characters, L'w');
    const std::string narrow_text(characters, 'n');
    recording_allocator recorder;
    std::size_t length = 0;
    {
        KV_stringf formatted = wide ? KV_stringf(L"%s", wide_text.c_str()) : KV_stringf("%s", narrow_text.c_str());
        length = formatted.length();
        EXPECT_EQ(std::wstring(formatted.text()), std::wstring(characters, wide ? L'w' : L'n'));
    }
    EXPECT_EQ(length, characters);
    std::vector<std::size_t> sizes = recorder.allocated_sizes();
    // The last block of the text's exact size is the finished string, not an attempt.
    const auto finished = std::find(sizes.rbegin(), sizes.rend(), (characters + 1) * sizeof(wchar_t));
    if (finished != sizes.rend()) sizes.erase(std::next(finished).base());
    std::vector<std::size_t> attempts;
    // Format buffers are the ones of 4096 units (or bytes) and their doublings.
    for (std::size_t size : sizes) {
        const std::size_t units = wide ? size / sizeof(wchar_t) : size;
        if (units >= 4096 && (units & (units - 1)) == 0) attempts.push_back(units);
    }
    EXPECT_EQ(recorder.unwiped_releases(), std::vector<std::size_t>{});
    return attempts;
}

TEST(KvStringf, GrowsByDoublingUntilTheTextFits) {
    struct row { std::size_t characters; bool wide; std::vector<std::size_t> attempts; };
    const row rows[] = {
        {5000, true, {4096, 8192}},
        {5000, false, {4096, 8192}},
        {4095, true, {4096}},            // exactly fills the room, terminator included
        {4096, true, {4096, 8192}},
        {20000, true, {4096, 8192, 16384, 32768}},
        {10, true, {4096}},
    };
    for (const row& r : rows) {
        EXPECT_EQ(format_attempts(r.characters, r.wide), r.attempts) << r.characters << (r.wide ? " wide" : " narrow");
    }
}

// A format the runtime refuses for a reason other than room must not double forever.
TEST(KvStringf, RejectedFormatEndsWithTheEmptyText) {
    recording_allocator recorder;
    {
        // A field width no formatter can produce.
        const KV_stringf wide(L"%*d", INT_MAX, 1);
        ASSERT_NE(wide.text(), nullptr);
        EXPECT_STREQ(wide.text(), L"");
        // A wide argument with no equivalent in a narrow output.
        const KV_stringf narrow("%S", L"\u4e2d\u6587");
        ASSERT_NE(narrow.text(), nullptr);
        EXPECT_STREQ(narrow.text(), L"");
    }
    const auto sizes = recorder.allocated_sizes();
    EXPECT_EQ(*std::max_element(sizes.begin(), sizes.end()), 4096 * sizeof(wchar_t)) << "no doubling";
}

TEST(KvStringf, VaListFormattingLeavesTheListReusable) {
    auto twice = [](const wchar_t* format, ...) {
        va_list args;
        va_start(args, format);
        KV_string first = format_wide_text(format, args);
        KV_string second = format_wide_text(format, args);
        va_end(args);
        return first.equals(second.text()) ? first : KV_string(L"<differs>");
    };
    EXPECT_STREQ(twice(L"%s-%d", L"x", 5).text(), L"x-5");
}
}  // namespace
