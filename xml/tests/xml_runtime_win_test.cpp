// The platform-free helpers behave as the Windows runtime's own functions do: iswspace,
// _wtoi and _wcsicmp (default locale), checked against the runtime in use.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <cwctype>

#include "xml/xml_char.h"

TEST(XmlRuntime, WhiteSpaceMatchesIswspaceForEveryUnit) {
    for (unsigned c = 0; c <= 0xFFFF; ++c) {
        const wchar_t unit = static_cast<wchar_t>(c);
        ASSERT_EQ(iswspace(unit) != 0, xml_is_space(unit)) << std::hex << c;
    }
}

TEST(XmlRuntime, ReadIntMatchesWtoi) {
    const wchar_t* const inputs[] = {
        L"0", L"42", L"  42", L"\t\r\n-17", L"+8", L"-", L"+", L"", L"x1", L"1x", L"- 1",
        L"2147483647", L"2147483648", L"-2147483648", L"-2147483649", L"99999999999999999999",
        L"-99999999999999999999", L"65601;", L"\x3000" L"5", L"0012", L"1 2",
    };
    for (const wchar_t* s : inputs) EXPECT_EQ(_wtoi(s), xml_read_int(s)) << s;
}

TEST(XmlRuntime, CaseFoldingMatchesWcsicmpForAsciiAndLatin) {
    // Every pair of units below U+0180 compares equal by both or by neither.
    for (unsigned a = 1; a < 0x180; ++a) {
        for (unsigned b = a; b < 0x180; ++b) {
            const wchar_t left[2] = {static_cast<wchar_t>(a), 0};
            const wchar_t right[2] = {static_cast<wchar_t>(b), 0};
            ASSERT_EQ(_wcsicmp(left, right) == 0, xml_equal_nocase(left, right)) << std::hex << a << " " << b;
        }
    }
}
