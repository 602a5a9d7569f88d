// The format loop itself, with buffers handed out by the test: where it stops growing.
// (Its two callers' tests cover the sizes tried, rejected formats and wiping.)
#include "foundation/format_growing_win.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

namespace {
struct recorded_provider {
    std::vector<std::size_t> asked;
    std::vector<wchar_t> units;
    std::size_t fail_from = static_cast<std::size_t>(-1);  // the request index that fails
    wchar_t* operator()(std::size_t count) {
        asked.push_back(count);
        if (asked.size() - 1 >= fail_from) return nullptr;
        units.assign(count, L'\0');
        return units.data();
    }
};

long long grow(recorded_provider& provider, std::size_t start, std::size_t max, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const long long length = kv_format::format_growing(format, args, start, max, provider);
    va_end(args);
    return length;
}

TEST(FormatGrowing, StopsAtTheLimitAndWhenMemoryRunsOut) {
    const std::wstring text(20, L'x');
    struct row { std::size_t start, max, fail_from; long long length; std::vector<std::size_t> asked; };
    const row rows[] = {
        {4, 64, -1ull, 20, {4, 8, 16, 32}},
        {4, 32, -1ull, 20, {4, 8, 16, 32}},  // the limit itself may be reached
        {4, 31, -1ull, -1, {4, 8, 16}},      // but not passed: no request above it
        {4, 64, 2, -1, {4, 8, 16}},          // the third buffer cannot be had
        {4, 64, 0, -1, {4}},
    };
    for (const row& r : rows) {
        recorded_provider provider;
        provider.fail_from = r.fail_from;
        EXPECT_EQ(grow(provider, r.start, r.max, L"%s", text.c_str()), r.length) << r.max << " " << r.fail_from;
        EXPECT_EQ(provider.asked, r.asked) << r.max << " " << r.fail_from;
        if (r.length >= 0) {
            EXPECT_EQ(std::wstring(provider.units.data()), text);
        }
    }
}
}  // namespace
