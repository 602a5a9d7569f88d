// The AppID's "LocalService" value decides between service and local server; it is read
// here from a scratch classes root so that the machine's registration stays untouched.
#include "service/local_service_value_win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/unique_resource_win.h"

namespace {

constexpr wchar_t scratch_root[] = L"Software\\KvTest\\LocalServiceValue";
constexpr wchar_t app_id_path[] = L"AppID\\{04755478-AF8D-438D-A8B4-235C0EEC2FBF}";

class LocalServiceValue : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, scratch_root);
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, scratch_root, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  root_.put(), nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        root_.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, scratch_root);
        RegDeleteKeyW(HKEY_CURRENT_USER, scratch_root);
    }
    unique_hkey create(const wchar_t* path) {
        unique_hkey key;
        RegCreateKeyExW(root_.get(), path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
        return key;
    }
    unique_hkey root_;
};

std::vector<BYTE> units(const std::wstring& text, std::size_t extra_bytes = 0) {
    std::vector<BYTE> bytes(text.size() * sizeof(wchar_t) + extra_bytes);
    std::memcpy(bytes.data(), text.data(), text.size() * sizeof(wchar_t));
    return bytes;
}

// Stores exactly `data`: the platform takes a terminator found just past the given size
// as part of the value, so the bytes around it are never zero.
LSTATUS store(HKEY key, DWORD type, const std::vector<BYTE>& data) {
    std::vector<BYTE> guarded(data.size() + 6, 'Z');
    if (!data.empty()) std::memcpy(guarded.data() + 2, data.data(), data.size());
    return RegSetValueExW(key, L"LocalService", 0, type, guarded.data() + 2, static_cast<DWORD>(data.size()));
}

TEST_F(LocalServiceValue, MissingKeysGiveTheRegistryError) {
    bool as_service = true;
    EXPECT_EQ(read_local_service(as_service, root_.get()), ERROR_FILE_NOT_FOUND) << "no AppID key";
    EXPECT_FALSE(as_service);
    create(L"AppID");
    as_service = true;
    EXPECT_EQ(read_local_service(as_service, root_.get()), ERROR_FILE_NOT_FOUND) << "no AppID subkey";
    EXPECT_FALSE(as_service);
    create(app_id_path);
    EXPECT_EQ(read_local_service(as_service, root_.get()), ERROR_SUCCESS) << "no value";
    EXPECT_FALSE(as_service);
}

TEST_F(LocalServiceValue, OnlyTerminatedStringsOfAtMost260CharactersCount) {
    const std::wstring name = L"QlnVxCoreService";
    const std::wstring longest(260, L'x');
    const std::wstring too_long(261, L'x');
    struct Case {
        const char* what;
        DWORD type;
        std::vector<BYTE> data;
        bool as_service;
    };
    const DWORD dword = 1;
    const std::vector<BYTE> dword_bytes(reinterpret_cast<const BYTE*>(&dword), reinterpret_cast<const BYTE*>(&dword) + 4);
    const Case cases[] = {
        {"REG_SZ name", REG_SZ, units(name, 2), true},
        {"REG_EXPAND_SZ name", REG_EXPAND_SZ, units(name, 2), true},
        {"REG_SZ empty, terminated", REG_SZ, units(L"", 2), true},
        {"REG_SZ of 260 characters", REG_SZ, units(longest, 2), true},
        {"REG_SZ terminated inside the data", REG_SZ, units(std::wstring(L"ab\0cd", 5)), true},
        {"REG_SZ of 261 characters", REG_SZ, units(too_long, 2), false},
        {"REG_SZ of 260 characters without terminator", REG_SZ, units(longest), false},
        {"REG_SZ without terminator", REG_SZ, units(name), false},
        {"REG_SZ of zero bytes", REG_SZ, {}, false},
        {"REG_SZ of one byte", REG_SZ, {0}, false},
        {"REG_SZ with an odd byte after the name", REG_SZ, units(name, 1), false},
        {"REG_DWORD", REG_DWORD, dword_bytes, false},
        {"REG_BINARY of a terminated name", REG_BINARY, units(name, 2), false},
        {"REG_MULTI_SZ", REG_MULTI_SZ, units(name, 4), false},
    };
    const unique_hkey app_id = create(app_id_path);
    for (const Case& c : cases) {
        ASSERT_EQ(store(app_id.get(), c.type, c.data), ERROR_SUCCESS) << c.what;
        bool as_service = !c.as_service;
        EXPECT_EQ(read_local_service(as_service, root_.get()), ERROR_SUCCESS) << c.what;
        EXPECT_EQ(as_service, c.as_service) << c.what;
    }
}

}  // namespace
