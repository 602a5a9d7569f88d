#include "foundation/unique_resource.h"
#include <gtest/gtest.h>

namespace {
// A handle is closed exactly once, by whichever owner holds it last.
TEST(UniqueResource, ClosesOnceAfterMoves) {
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(raw, nullptr);
    {
        unique_handle a(raw);
        unique_handle b(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(b.get(), raw);
        DWORD flags = 0;
        EXPECT_TRUE(GetHandleInformation(raw, &flags));
    }
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(raw, &flags));
}

TEST(UniqueResource, FileHandleTreatsInvalidValueAsEmpty) {
    unique_file f(CreateFileW(L"C:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(f);
    unique_file none;
    EXPECT_EQ(none.get(), INVALID_HANDLE_VALUE);
}
}  // namespace
