#include "foundation/kv_string_win.h"
#include "tests/support/recording_allocator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include <windows.h>  // GetACP

namespace {
const wchar_t* const null_text = nullptr;

// The text of a string as a comparable value: "<null>" for the null text.
std::wstring shown(const KV_string& s) { return s.text() ? std::wstring(s.text()) : L"<null>"; }

TEST(KvString, ConstructorsKeepNullAndEmptyApart) {
    const KV_string hello(L"hello");
    const KV_string null_string(null_text);
    struct row { const char* what; std::function<KV_string()> make; const wchar_t* expected; std::size_t length; };
    const row rows[] = {
        {"default", [] { return KV_string(); }, L"", 0},
        {"wide text", [] { return KV_string(L"abc"); }, L"abc", 3},
        {"null wide text", [] { return KV_string(null_text); }, nullptr, 0},
        {"nullptr literal", [] { return KV_string(nullptr); }, nullptr, 0},
        {"empty wide text", [] { return KV_string(L""); }, L"", 0},
        {"other string", [&] { return KV_string(&hello); }, L"hello", 5},
        {"null string pointer", [] { return KV_string(static_cast<const KV_string*>(nullptr)); }, nullptr, 0},
        {"string with null text", [&] { return KV_string(&null_string); }, nullptr, 0},
        {"copy", [&] { return KV_string(hello); }, L"hello", 5},
    };
    for (const row& r : rows) {
        const KV_string s = r.make();
        if (r.expected) {
            ASSERT_NE(s.text(), nullptr) << r.what;
            EXPECT_STREQ(s.text(), r.expected) << r.what;
        } else {
            EXPECT_EQ(s.text(), nullptr) << r.what;
        }
        EXPECT_EQ(s.length(), r.length) << r.what;
    }
}

TEST(KvString, EqualsTellsNullFromEmpty) {
    struct row { const wchar_t* mine; const wchar_t* argument; bool expected; };
    const row rows[] = {
        {nullptr, nullptr, true},  {L"", nullptr, false},  {nullptr, L"", false},
        {L"", L"", true},          {L"abc", L"abc", true}, {L"abc", L"ABC", false},
        {L"abc", L"ab", false},    {L"ab", L"abc", false}, {nullptr, L"a", false},
    };
    for (const row& r : rows) {
        EXPECT_EQ(KV_string(r.mine).equals(r.argument), r.expected)
            << (r.mine ? "'" : "") << (r.mine ? "text" : "null") << " vs " << (r.argument ? "text" : "null");
    }
}

TEST(KvString, DiffersIsTheNegationOfEquals) {
    struct row { const wchar_t* a; const wchar_t* b; bool expected; };
    const row rows[] = {
        {nullptr, nullptr, false}, {nullptr, L"", true}, {L"", nullptr, true}, {L"", L"", false},
        {L"x", L"x", false},       {L"x", L"y", true},   {L"x", L"xy", true},  {L"x", L"X", true},
    };
    for (const row& r : rows) {
        const KV_string a(r.a), b(r.b);
        EXPECT_EQ(a.differs(b), r.expected);
        // Through the base's virtual slot, as an outside caller sees it.
        const KV_string& base = a;
        EXPECT_EQ(base.differs(b), !a.equals(b.text()));
    }
}

TEST(KvString, AppendText) {
    struct row { const wchar_t* start; const wchar_t* appended; const wchar_t* expected; };
    const row rows[] = {
        {L"abc", nullptr, L"abc"},  {nullptr, nullptr, nullptr}, {nullptr, L"x", L"x"},
        {L"", L"x", L"x"},          {L"ab", L"cd", L"abcd"},     {L"ab", L"", L"ab"},
        {nullptr, L"", L""},
    };
    for (const row& r : rows) {
        KV_string s(r.start);
        const KV_string returned = s.append(r.appended);
        EXPECT_EQ(shown(s), shown(KV_string(r.expected)));
        EXPECT_EQ(shown(returned), shown(s)) << "the result is returned as a copy";
        if (s.text()) {
            EXPECT_NE(returned.text(), s.text()) << "the copy owns its own buffer";
        }
    }
}

TEST(KvString, AppendString) {
    KV_string s(L"ab");
    s.append(KV_string(null_text));
    EXPECT_STREQ(s.text(), L"ab");
    s.append(KV_string(L"cd"));
    EXPECT_STREQ(s.text(), L"abcd");
    s.append(s);
    EXPECT_STREQ(s.text(), L"abcdabcd");
}

TEST(KvString, Concat) {
    const KV_string base(L"Software");
    const KV_string null_string(null_text);
    struct row { const KV_string* base; const wchar_t* text; const wchar_t* expected; };
    const row rows[] = {
        {nullptr, L"\\Volatile", L"\\Volatile"},
        {&null_string, L"\\Volatile", L"\\Volatile"},
        {&base, L"\\Volatile", L"Software\\Volatile"},
        {&base, nullptr, L"Software"},
        {&null_string, nullptr, nullptr},
        {nullptr, nullptr, nullptr},
    };
    for (const row& r : rows) {
        const KV_string joined = KV_string::concat(r.base, r.text);
        EXPECT_EQ(shown(joined), shown(KV_string(r.expected)));
    }
    EXPECT_STREQ(base.text(), L"Software") << "the base is unchanged";
}

TEST(KvString, Substring) {
    struct row { const wchar_t* text; std::uint32_t start, count; bool ok; const wchar_t* expected; };
    const row rows[] = {
        {L"abcdef", 0, 6, true, L"abcdef"},  {L"abcdef", 2, 5, false, nullptr},
        {L"abcdef", 2, 4, true, L"cdef"},    {L"abcdef", 1, 0, true, L""},
        {L"abcdef", 6, 0, false, nullptr},   {L"abcdef", 5, 1, true, L"f"},
        {L"", 0, 0, false, nullptr},         {nullptr, 0, 0, false, nullptr},
        {L"abcdef", 1, 0xFFFFFFFF, false, nullptr},  // start + count must not wrap
    };
    for (const row& r : rows) {
        const KV_string s(r.text);
        KV_string out(L"untouched");
        EXPECT_EQ(s.substring(out, r.start, r.count), r.ok) << r.start << "," << r.count;
        EXPECT_STREQ(out.text(), r.ok ? r.expected : L"untouched") << r.start << "," << r.count;
    }
}

TEST(KvString, SubstringFrom) {
    struct row { const wchar_t* text; std::uint32_t start; bool ok; const wchar_t* expected; };
    const row rows[] = {
        {L"abcdef", 0, true, L"abcdef"}, {L"abcdef", 5, true, L"f"}, {L"abcdef", 6, false, nullptr},
        {L"abcdef", 0xFFFFFFFF, false, nullptr}, {L"", 0, false, nullptr}, {nullptr, 0, false, nullptr},
    };
    for (const row& r : rows) {
        const KV_string s(r.text);
        KV_string out(L"untouched");
        EXPECT_EQ(s.substring_from(out, r.start), r.ok) << r.start;
        EXPECT_STREQ(out.text(), r.ok ? r.expected : L"untouched") << r.start;
    }
}

TEST(KvString, SubstringIntoItself) {
    KV_string s(L"abcdef");
    ASSERT_TRUE(s.substring(s, 1, 3));
    EXPECT_STREQ(s.text(), L"bcd");
}

TEST(KvString, AssignTextReplacesWideAndKeepsNarrow) {
    KV_string s(L"first");
    const char* narrow = s.narrow();
    s.assign_text(L"second");
    EXPECT_STREQ(s.text(), L"second");
    EXPECT_STREQ(narrow, "first") << "the narrow buffer is left alone";
    s.assign_text(nullptr);
    EXPECT_EQ(s.text(), nullptr);
    s.assign(s);
    EXPECT_EQ(s.text(), nullptr);
    const KV_string other(L"third");
    s.assign(other);
    EXPECT_STREQ(s.text(), L"third");
}

TEST(KvString, AssigningAPartOfItselfCopiesItBeforeTheBufferGoes) {
    KV_string s(L"abcdef");
    s.assign_text(s.text() + 2);
    EXPECT_STREQ(s.text(), L"cdef");
    s.assign_text(s.text());
    EXPECT_STREQ(s.text(), L"cdef");
}

TEST(KvString, Duplicate) {
    recording_allocator recorder;
    const KV_string s(L"copy me");
    recorder.clear_log();
    kv_wide_text copy = s.duplicate();
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy.get(), L"copy me");
    EXPECT_NE(copy.get(), s.text());
    EXPECT_EQ(recorder.allocated_sizes(), (std::vector<std::size_t>{8 * sizeof(wchar_t)}));
    EXPECT_EQ(KV_string(null_text).duplicate(), nullptr);
}

TEST(KvString, Narrow) {
    struct row { const wchar_t* text; const char* expected; };
    const row rows[] = {
        {L"plain", "plain"}, {L"", ""}, {nullptr, ""},
        {L"caf\u00e9", "caf\xe9"},        // in the ANSI code page (1252 in the test prefix)
        {L"\u4e2d", "?"},                 // no equivalent: the code page's default character
    };
    ASSERT_EQ(GetACP(), 1252u) << "the table assumes the Western code page";
    for (const row& r : rows) {
        KV_string s(r.text);
        EXPECT_STREQ(s.narrow(), r.expected);
    }
}

TEST(KvString, BuffersHaveExactSize) {
    recording_allocator recorder;
    {
        KV_string s(L"abc");                 // 4 units
        s.assign_text(L"abcdefgh");          // 9 units
        s.narrow();                          // scratch 9 bytes, kept 9 bytes
        KV_string empty;                     // 1 unit
    }
    const std::vector<std::size_t> expected{4 * sizeof(wchar_t), 9 * sizeof(wchar_t), 9, 9, 1 * sizeof(wchar_t)};
    EXPECT_EQ(recorder.allocated_sizes(), expected);
    EXPECT_EQ(recorder.live_blocks(), 0u);
}

// Every buffer that held text, scratch buffers included, is zero when it goes back.
TEST(KvString, EveryReleasedBufferIsWiped) {
    recording_allocator recorder;
    {
        KV_string s(L"secret one");
        s.narrow();
        s.narrow();
        s.assign_text(L"secret two");
        s.append(L" and more");
        s.append(s);
        KV_string c = KV_string::concat(&s, L"tail");
        KV_string part;
        s.substring(part, 2, 4);
        s.substring_from(part, 3);
        kv_wide_text copy = s.duplicate();
        KV_string moved(std::move(c));
        moved = KV_string(L"replacement");
        KV_stringf formatted(L"%s=%d", L"pin", 1234);
        KV_stringf narrow_formatted("%s=%d", "pin", 1234);
    }
    EXPECT_GT(recorder.releases(), 10u);
    EXPECT_EQ(recorder.unwiped_releases(), std::vector<std::size_t>{});
    EXPECT_EQ(recorder.live_blocks(), 0u);
}

TEST(KvString, DifferIsTheFirstVirtualAfterTheDestructor) {
    // The table holds the two destructor entries of this compiler's ABI, then `differs`.
    bool (KV_string::*member)(const KV_string&) const noexcept = &KV_string::differs;
    std::uintptr_t representation[2];
    std::memcpy(representation, &member, sizeof representation);
    EXPECT_EQ(representation[0], 1 + 2 * sizeof(void*)) << "a virtual member's table offset, plus one";

    const KV_string a(L"a"), b(L"b");
    using slot = bool (*)(const KV_string*, const KV_string&);
    void* const* table = *reinterpret_cast<void* const* const*>(&a);
    EXPECT_TRUE(reinterpret_cast<slot>(table[2])(&a, b));
    EXPECT_FALSE(reinterpret_cast<slot>(table[2])(&a, a));
}

TEST(KvMemory, SizeArithmeticSaturates) {
    constexpr std::size_t max = kv_memory::size_max;
    EXPECT_EQ(kv_memory::add_sizes(max, 1), max);
    EXPECT_EQ(kv_memory::add_sizes(max - 1, 1), max);
    EXPECT_EQ(kv_memory::add_sizes(2, 3), 5u);
    EXPECT_EQ(kv_memory::multiply_sizes(max / 2 + 1, 2), max);
    EXPECT_EQ(kv_memory::multiply_sizes(max / 2, 2), max - 1);
    EXPECT_EQ(kv_memory::multiply_sizes(0, max), 0u);
    EXPECT_THROW(kv_memory::allocate_zeroed(max), std::bad_alloc);
}
}  // namespace
