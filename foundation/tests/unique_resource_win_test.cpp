#include "foundation/unique_resource_win.h"

#include <gtest/gtest.h>

#include <thread>

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

// Each LoadLibrary reference is given back by its own owner.
TEST(UniqueResource, ModuleReferenceEndsWithItsOwner) {
    // A module nothing in the process loads (not version.dll: see LibraryList's test).
    const wchar_t* module_name = L"msimg32.dll";
    ASSERT_EQ(GetModuleHandleW(module_name), nullptr) << "the test needs a module nobody else loaded";
    unique_hmodule first(LoadLibraryW(module_name));
    ASSERT_TRUE(first);
    {
        const unique_hmodule second(LoadLibraryW(module_name));
        const unique_hmodule moved(std::move(first));
        EXPECT_FALSE(first);
    }
    EXPECT_EQ(GetModuleHandleW(module_name), nullptr) << "both references released";
}

// An owned mutex is released before it is closed, so another thread may take it at once
// (and finds it free, not abandoned).
TEST(UniqueResource, OwnedMutexIsReleasedThenClosed) {
    unique_owned_mutex owned(CreateMutexW(nullptr, TRUE, nullptr));
    ASSERT_TRUE(owned);
    unique_handle other;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), owned.get(), GetCurrentProcess(), other.put(), 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    const auto wait_elsewhere = [&] {
        DWORD result = WAIT_FAILED;
        std::thread([&] {
            result = WaitForSingleObject(other.get(), 0);
            if (result == WAIT_OBJECT_0) ReleaseMutex(other.get());
        }).join();
        return result;
    };
    EXPECT_EQ(wait_elsewhere(), static_cast<DWORD>(WAIT_TIMEOUT));
    owned.reset();
    EXPECT_EQ(wait_elsewhere(), static_cast<DWORD>(WAIT_OBJECT_0));
}
}  // namespace
