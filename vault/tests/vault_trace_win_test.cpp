// The channel's trace lines, read back from "TraceFile.kv" with tracing switched on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/tests/trace_capture_win.h"
#include "tests/doubles/vault_driver_double_win.h"
#include "vault/tests/test_key_support.h"
#include "vault/vault_driver_com_win.h"

namespace {
using vault_double::reply;

const GUID test_guid = {0x12345607, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};

// The lines that contain "name: text" (the trace's form of a message), in order; scope
// lines carry the name alone.
std::vector<std::wstring> messages(const std::vector<std::wstring>& lines) {
    std::vector<std::wstring> found;
    for (const auto& line : lines) {
        for (const wchar_t* name : {L"VX_vault_driver_com::", L"ProtocolBuffersDriverCall::", L"write_key: "}) {
            const auto at = line.find(name);
            if (at != std::wstring::npos && line.find(L": ", at) != std::wstring::npos) {
                found.push_back(line.substr(at));
                break;
            }
        }
    }
    return found;
}

bool has_line_containing(const std::vector<std::wstring>& lines, const std::wstring& text) {
    for (const auto& line : lines)
        if (line.find(text) != std::wstring::npos) return true;
    return false;
}

std::wstring dump(const std::vector<std::wstring>& lines) {
    std::wstring all;
    for (const auto& l : lines) all += l + L"\n";
    return all;
}

struct VaultTraceTest : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(vault_double::start());
        vault_double::script({});
    }
};

TEST_F(VaultTraceTest, ResultLinesOfEveryOperation) {
    test_key key;
    key.key_data = std::vector<std::uint8_t>(32, 0x11);
    const struct { const char* name; HRESULT (*run)(VX_vault_driver_com&, test_key&); std::vector<std::wstring> expected; } rows[] = {
        {"unload_user_bkeys", [](VX_vault_driver_com& c, test_key&) { return c.unload_user_bkeys("S-1-5-18"); },
         {L"VX_vault_driver_com::unload_user_bkeys: Return 10000000"}},
        {"remove_sso_data", [](VX_vault_driver_com& c, test_key&) { return c.remove_sso_data(nullptr); },
         {L"VX_vault_driver_com::remove_sso_data: Return 10000000"}},
        {"unload_lkey", [](VX_vault_driver_com& c, test_key&) { return c.unload_lkey(&test_guid); },
         {L"VX_vault_driver_com::unload_lkey: Unloading key with id {12345607-89AB-CDEF-0123-456789ABCDEF}",
          L"VX_vault_driver_com::unload_lkey: Return 10000000"}},
        {"load_lkey", [](VX_vault_driver_com& c, test_key& k) { return c.load_lkey(&k); },
         {L"write_key: Loading key with id {12345607-89AB-CDEF-0123-456789ABCDEF}",
          L"VX_vault_driver_com::load_lkey: Return 10000000"}},
        {"send_operation_5", [](VX_vault_driver_com& c, test_key&) { return c.send_operation_5(); }, {}},
        {"load_lkey(null)", [](VX_vault_driver_com& c, test_key&) { return c.load_lkey(nullptr); }, {}},
        {"unload_lkey(null)", [](VX_vault_driver_com& c, test_key&) { return c.unload_lkey(nullptr); }, {}},
    };
    for (const auto& row : rows) {
        trace_test::trace_capture capture;
        ASSERT_TRUE(capture.ready());
        {
            VX_vault_driver_com channel;
            row.run(channel, key);
        }
        const auto lines = capture.lines();
        EXPECT_EQ(messages(lines), row.expected) << row.name << "\n" << testing::PrintToString(dump(lines));
        EXPECT_TRUE(has_line_containing(lines, L"VX_vault_driver_com::VX_vault_driver_com")) << row.name;
        EXPECT_TRUE(has_line_containing(lines, L"VX_vault_driver_com::~VX_vault_driver_com")) << row.name;
    }
}

TEST_F(VaultTraceTest, FailedExchangesAreTracedToo) {
    vault_double::script({reply::answer(static_cast<std::int32_t>(0xC0000022), {})});
    trace_test::trace_capture capture;
    ASSERT_TRUE(capture.ready());
    {
        VX_vault_driver_com channel;
        channel.unload_user_bkeys("S-1-5-18");
    }
    EXPECT_EQ(messages(capture.lines()),
              (std::vector<std::wstring>{L"VX_vault_driver_com::unload_user_bkeys: Return D0000022"}));
}

TEST_F(VaultTraceTest, AbsentDriver) {
    ASSERT_TRUE(vault_double::stop());
    trace_test::trace_capture capture;
    ASSERT_TRUE(capture.ready());
    {
        VX_vault_driver_com channel;
        channel.remove_sso_data("S-1-5-18");
        channel.send_operation_5();
    }
    const auto lines = capture.lines();
    EXPECT_EQ(messages(lines),
              (std::vector<std::wstring>{
                  L"VX_vault_driver_com::VX_vault_driver_com: Failed to open connection to vault driver: 2",
                  L"ProtocolBuffersDriverCall::callUnchecked: DeviceIoControl return error: 6",
                  L"VX_vault_driver_com::remove_sso_data: Return 80070006",
                  L"ProtocolBuffersDriverCall::callUnchecked: DeviceIoControl return error: 6",
              }))
        << testing::PrintToString(dump(lines));
}
}  // namespace
