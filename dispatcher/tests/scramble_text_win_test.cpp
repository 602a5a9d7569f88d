#include "dispatcher/scramble_text_win.h"

#include "dispatcher/tests/scrambling_reference.h"
#include "foundation/com_resource_win.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

namespace {

namespace ref = scrambling_reference;
using ref::units;

const wchar_t* wide(const units& text) { return reinterpret_cast<const wchar_t*>(text.data()); }

units contents(BSTR s) {
    // Everything but the trailing 0 unit, which the recorded length includes.
    const UINT length = SysStringLen(s);
    EXPECT_GE(length, 1u);
    EXPECT_EQ(s[length - 1], L'\0');
    return units(reinterpret_cast<const char16_t*>(s), reinterpret_cast<const char16_t*>(s) + length - 1);
}

units zero_terminated(units text) {
    text.push_back(0);
    return text;
}

TEST(ScrambleText, RecordedLengthIsProducedLengthPlusOne) {
    struct row { std::size_t plain, coded; };
    const row rows[] = {{0, 0}, {1, 2}, {14, 15}, {15, 16}, {16, 18}, {100, 107}};
    std::mt19937 rng(3);
    for (const row& r : rows) {
        const units plain = zero_terminated(ref::random_units(rng, r.plain));
        unique_bstr coded, back;
        ASSERT_EQ(scramble_text(wide(plain), coded.put()), S_OK);
        EXPECT_EQ(SysStringLen(coded.get()), r.coded + 1) << r.plain;
        EXPECT_EQ(SysStringByteLen(coded.get()), 2 * r.coded + 2) << r.plain;
        EXPECT_EQ(coded.get()[r.coded], L'\0');
        ASSERT_EQ(unscramble_text(coded.get(), back.put()), S_OK);
        EXPECT_EQ(SysStringLen(back.get()), r.plain + 1) << r.plain;
        EXPECT_EQ(back.get()[r.plain], L'\0');
    }
}

TEST(ScrambleText, AgreesWithReferenceAndRoundTrips) {
    std::mt19937 rng(5);
    for (std::size_t length : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 64u, 1000u, 70000u}) {
        const units plain = ref::random_units(rng, length);
        unique_bstr coded, back;
        ASSERT_EQ(scramble_text(wide(zero_terminated(plain)), coded.put()), S_OK);
        EXPECT_EQ(contents(coded.get()), ref::scramble(plain)) << length;
        ASSERT_EQ(unscramble_text(coded.get(), back.put()), S_OK);
        EXPECT_EQ(contents(back.get()), plain) << length;
    }
}

TEST(ScrambleText, NullArgumentsLeaveTheResultUntouched) {
    const BSTR sentinel = reinterpret_cast<BSTR>(std::uintptr_t{0x1234});
    BSTR out = sentinel;
    EXPECT_EQ(scramble_text(nullptr, &out), E_INVALIDARG);
    EXPECT_EQ(unscramble_text(nullptr, &out), E_INVALIDARG);
    EXPECT_EQ(scramble_counted_text(nullptr, 3, &out), E_INVALIDARG);
    EXPECT_EQ(unscramble_counted_text(nullptr, 3, &out), E_INVALIDARG);
    EXPECT_EQ(out, sentinel);
    EXPECT_EQ(scramble_text(L"abc", nullptr), E_INVALIDARG);
    EXPECT_EQ(unscramble_text(L"abc", nullptr), E_INVALIDARG);
    EXPECT_EQ(scramble_counted_text(L"abc", 3, nullptr), E_INVALIDARG);
    EXPECT_EQ(unscramble_counted_text(L"abc", 3, nullptr), E_INVALIDARG);
}

TEST(ScrambleText, UnrepresentableResultIsOutOfMemoryWithNullResult) {
    // Lengths whose result would not fit a system string: refused before any unit is read.
    const wchar_t one[] = L"x";
    const BSTR sentinel = reinterpret_cast<BSTR>(std::uintptr_t{0x1234});
    struct row { bool scramble; std::size_t length; };
    const row rows[] = {
        {true, std::size_t{0x7FFFFFFF}},       // m * 2 + 2 passes 32 bits
        {true, SIZE_MAX},                      // m itself cannot be represented
        {false, std::size_t{1} << 33},         // n * 2 + 2 passes 32 bits
        {false, SIZE_MAX},
    };
    for (const row& r : rows) {
        BSTR out = sentinel;
        const HRESULT hr = r.scramble ? scramble_counted_text(one, r.length, &out)
                                      : unscramble_counted_text(one, r.length, &out);
        EXPECT_EQ(hr, E_OUTOFMEMORY) << r.length;
        EXPECT_EQ(out, nullptr) << r.length;
    }
}

TEST(ScrambleText, CountedFormReadsOnlyTheGivenUnits) {
    // The counted form codes units 0 as well and stops at the given length.
    const units plain = {0x0041, 0x0000, 0x0042};
    const units longer = {0x0041, 0x0000, 0x0042, 0x0043};
    unique_bstr coded;
    ASSERT_EQ(scramble_counted_text(wide(longer), plain.size(), coded.put()), S_OK);
    EXPECT_EQ(contents(coded.get()), ref::scramble(plain));
}

}  // namespace
