// The client library against KvRxCoreService.exe registered as a local server (COM starts
// it), with the manager double behind it: each outcome a client can meet, and the
// arguments arriving at the executor.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "client/rx_client_win.h"
#include "client/tests/local_server_fixture_win.h"

namespace {
using namespace rx_client;

constexpr wchar_t agent_key[] = L"SOFTWARE\\Halvern\\Ostrand\\Agent";
constexpr wchar_t product_key[] = L"SOFTWARE\\Quillon\\Vessaro";

void remove_agent_keys() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, agent_key);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, product_key);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, agent_key);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, product_key);
}

std::wstring text_of(const wiped_text& t) { return std::wstring(t.data(), t.size()); }

class ClientCalls : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.ready());
        remove_agent_keys();
        ASSERT_TRUE(SUCCEEDED(service_.connect()));
    }
    void TearDown() override { remove_agent_keys(); }
    local_server_test::registered_local_server server_;  // first: COM on this thread
    connection service_;
};

TEST_F(ClientCalls, EachOutcomeWithItsStatusAndResult) {
    const argument arguments[] = {{L"path", L"C:\\a&b"}, {L"user", L"S-1-5-18"}};
    const struct {
        const char* what;
        std::vector<argument> arguments;
        const wchar_t* name;        // called by name, or
        const wchar_t* envelope;    // sent as a whole envelope
        call_outcome outcome;
        std::uint32_t status;
        bool has_result;
        const wchar_t* result_part;  // found in the result
    } rows[] = {
        {"core command without an agent GUID", {}, L"core_has_agent_GUID_changed", nullptr, call_outcome::refused,
         0x80004005, false, nullptr},
        {"unknown core command", {}, L"core_nothing", nullptr, call_outcome::refused, 0x80070057, false, nullptr},
        {"arguments reach the manager", {std::begin(arguments), std::end(arguments)}, L"manager_echo", nullptr,
         call_outcome::carried_out, 0, true, L"<path>C:\\a&amp;b</path>\r\n    <user>S-1-5-18</user>"},
        {"a success code passes", {}, L"manager_s_false", nullptr, call_outcome::carried_out, 1, true,
         L"<function name=\"manager_s_false\">"},
        {"no result", {}, L"manager_no_result", nullptr, call_outcome::carried_out, 0, false, nullptr},
        {"the manager's failure", {}, L"manager_fail", nullptr, call_outcome::refused, 0x80040D01, false, nullptr},
        {"a whole envelope", {}, nullptr, L"<x/><FUNCTION NAME=\"manager_echo\"><a>1</a></FUNCTION>",
         call_outcome::carried_out, 0, true, L"<FUNCTION NAME=\"manager_echo\">\r\n    <a>1</a>"},
        {"an envelope that is no XML", {}, nullptr, L"<function name=\"x\">", call_outcome::refused, 0x80070057, false,
         nullptr},
        {"an envelope without function", {}, nullptr, L"<call name=\"x\"/>", call_outcome::refused, 0x80070057, false,
         nullptr},
    };
    for (const auto& row : rows) {
        const call_result r = row.name ? service_.call(row.name, row.arguments) : service_.call_envelope(row.envelope);
        EXPECT_EQ(r.outcome, row.outcome) << row.what;
        EXPECT_EQ(static_cast<std::uint32_t>(r.status), row.status) << row.what;
        EXPECT_EQ(r.has_result, row.has_result) << row.what;
        if (row.result_part) {
            EXPECT_NE(text_of(r.result).find(row.result_part), std::wstring::npos) << row.what;
            EXPECT_NE(r.result[0], static_cast<wchar_t>(0xFEFF)) << row.what << ": the mark is dropped";
        } else {
            EXPECT_TRUE(r.result.empty()) << row.what;
        }
    }
}

TEST_F(ClientCalls, TheCoreAnswerReadsAsAValue) {
    const std::wstring guid = L"{6F1C2D3E-0000-4000-8000-00000000A11C}";
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, agent_key, L"AgentGUID", REG_SZ, guid.c_str(),
                              static_cast<DWORD>((guid.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    const call_result r = service_.call(L"core_has_agent_GUID_changed");
    ASSERT_EQ(r.outcome, call_outcome::carried_out);
    EXPECT_EQ(r.status, S_OK);
    wiped_text value;
    EXPECT_TRUE(result_value(r.result.c_str(), value)) << text_of(r.result);
    EXPECT_EQ(text_of(value), L"false");
}

TEST(ClientUnreachable, NoServiceNoConnectionOrAnEnvelopeItCannotWrite) {
    local_server_test::unregister_everything();
    const com_apartment apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.result()));
    connection service;
    EXPECT_EQ(service.connect(), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(service.connected());
    const argument bad[] = {{L"a b", L"v"}};
    const struct {
        call_result result;
        HRESULT status;
        call_outcome outcome = call_outcome::unreachable;
    } rows[] = {
        {service.call(L"core_has_agent_GUID_changed"), CO_E_OBJNOTCONNECTED},
        {service.call_envelope(L"<function name=\"x\"/>"), CO_E_OBJNOTCONNECTED},
        {service.call(L"x", bad), E_INVALIDARG, call_outcome::refused_locally},
        {service.call(nullptr), E_INVALIDARG, call_outcome::refused_locally},
        {service.call_envelope(nullptr), E_INVALIDARG, call_outcome::refused_locally},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.result.outcome, row.outcome);
        EXPECT_EQ(row.result.status, row.status);
        EXPECT_FALSE(row.result.has_result);
    }
}

}  // namespace
