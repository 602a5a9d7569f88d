// Records the request payload of every operation, as the driver double received it, into
// files for an outside decoder: the ctest kvvault_requests_decode_with_protoc then reads
// them with `protoc --decode_raw` and compares the fields (peers/check_request_payloads.py).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "foundation/unique_resource_win.h"
#include "tests/doubles/vault_driver_double_win.h"
#include "tests/support/bytes.h"
#include "vault/tests/test_key_support.h"
#include "vault/vault_driver_com_win.h"

namespace {
// The folder on the Windows side: Wine maps the Linux root to Z:.
std::wstring payload_folder() {
    const char* binary_dir = std::getenv("KV_BINARY_DIR");
    std::wstring folder = L"Z:";
    for (const char* p = binary_dir ? binary_dir : "/tmp"; *p; ++p) folder += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
    folder += L"\\vault";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    folder += L"\\request_payloads";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

bool write_file(const std::wstring& path, const bytes& data) {
    unique_file file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
           written == data.size();
}

TEST(RequestPayloadsPeer, RecordsEveryOperationsPayload) {
    ASSERT_TRUE(vault_double::start());
    vault_double::script({});
    const GUID id = {0x12345607, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
    test_key plain;
    for (int i = 0; i < 32; ++i) plain.key_data.push_back(static_cast<std::uint8_t>(0xC0 + i));
    test_key texts;
    fill_with_every_field(texts);

    VX_vault_driver_com channel;
    const struct { const wchar_t* name; HRESULT (*run)(VX_vault_driver_com&, const GUID&, test_key&, test_key&); } rows[] = {
        {L"send_operation_5", [](VX_vault_driver_com& c, const GUID&, test_key&, test_key&) { return c.send_operation_5(); }},
        {L"unload_user_bkeys_null", [](VX_vault_driver_com& c, const GUID&, test_key&, test_key&) { return c.unload_user_bkeys(nullptr); }},
        {L"unload_user_bkeys_sid", [](VX_vault_driver_com& c, const GUID&, test_key&, test_key&) { return c.unload_user_bkeys("S-1-5-18"); }},
        {L"remove_sso_data_null", [](VX_vault_driver_com& c, const GUID&, test_key&, test_key&) { return c.remove_sso_data(nullptr); }},
        {L"remove_sso_data_sid", [](VX_vault_driver_com& c, const GUID&, test_key&, test_key&) { return c.remove_sso_data("S-1-5-21-7-8-9-1000"); }},
        {L"remove_sso_data_latin1", [](VX_vault_driver_com& c, const GUID&, test_key&, test_key&) { return c.remove_sso_data("J\xF6rg"); }},
        {L"unload_lkey", [](VX_vault_driver_com& c, const GUID& g, test_key&, test_key&) { return c.unload_lkey(&g); }},
        {L"load_lkey", [](VX_vault_driver_com& c, const GUID&, test_key& k, test_key&) { return c.load_lkey(&k); }},
        {L"load_lkey_texts", [](VX_vault_driver_com& c, const GUID&, test_key&, test_key& k) { return c.load_lkey(&k); }},
    };
    const std::wstring folder = payload_folder();
    for (const auto& row : rows) {
        vault_double::clear_requests();
        EXPECT_EQ(static_cast<std::uint32_t>(row.run(channel, id, plain, texts)), 0x10000000u);
        const auto frames = vault_double::requests();
        ASSERT_EQ(frames.size(), 1u);
        ASSERT_GE(frames[0].size(), 16u);
        EXPECT_TRUE(write_file(folder + L"\\" + row.name + L".bin", bytes(frames[0].begin() + 16, frames[0].end())));
    }
}
}  // namespace
