// The core command against the real registry: where the agent's GUID is read, when the
// recorded GUID is written, what the answer is, and how each failure is reported.
#include <gtest/gtest.h>

#include "dispatcher/core_registry_seam_win.h"
#include "dispatcher/tests/dispatcher_support_win.h"
#include "foundation/tests/trace_capture_win.h"
#include "foundation/unique_resource_win.h"
#include "xml/kv_xml.h"

#include <optional>

namespace {
using namespace dispatcher_test;

constexpr wchar_t agent_key[] = L"SOFTWARE\\Halvern\\Ostrand\\Agent";
constexpr wchar_t agent_key_32[] = L"SOFTWARE\\WOW6432Node\\Halvern\\Ostrand\\Agent";
constexpr wchar_t product_key[] = L"SOFTWARE\\Quillon\\Vessaro";
constexpr wchar_t core_scope[] = L"RX_core_service_disp::core_perform_operation";
constexpr wchar_t command[] = L"<function name=\"core_has_agent_GUID_changed\"/>";

void set_string(const wchar_t* key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, type, text.c_str(),
                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))), ERROR_SUCCESS);
}
void remove_key(const wchar_t* key) { RegDeleteTreeW(HKEY_LOCAL_MACHINE, key); RegDeleteKeyW(HKEY_LOCAL_MACHINE, key); }

struct stored_value { DWORD type; DWORD size; std::wstring text; };
std::optional<stored_value> recorded() {
    wchar_t buffer[1024] = {};
    DWORD type = 0, size = sizeof buffer - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, product_key, L"CurrentAgentGUID", RRF_RT_ANY | RRF_NOEXPAND,
                     &type, buffer, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return stored_value{type, size, buffer};
}

// The text of the "value" element of a result document; "?" when it is not one.
std::wstring answer_of(const call_outcome& outcome) {
    if (!outcome.has_result || outcome.result.empty() || outcome.result[0] != 0xFEFF) return L"?";
    kv_xml_document document(create_xml_document());
    if (!document->load_from_string(outcome.result.c_str())) return L"?";
    KV_xml_node* value = document->get_root()->get_child(0, L"value");
    return value ? value->get_text() : L"?";
}

class CoreCommand : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(capture_.ready());
        remove_key(agent_key);
        remove_key(agent_key_32);
        remove_key(product_key);
        dispatcher_ = new_dispatcher();
    }
    void TearDown() override {
        set_core_registry_calls({});
        remove_key(agent_key);
        remove_key(agent_key_32);
        remove_key(product_key);
    }
    std::wstring ask() { return answer_of(call(dispatcher_.get(), command)); }
    main_thread_apartment apartment_;
    trace_test::trace_capture capture_;
    com_ptr<RX_core_service_disp_i> dispatcher_;
};

TEST_F(CoreCommand, AnswersWhetherTheAgentGuidChangedSinceTheLastQuestion) {
    const struct {
        const char* what;
        std::optional<std::wstring> native, wow, before;
        DWORD before_type;
        const wchar_t* answer;
        std::wstring after;
        DWORD after_type;
    } rows[] = {
        {"first call records the native value", L"{A}", std::nullopt, std::nullopt, 0, L"false", L"{A}", REG_EXPAND_SZ},
        {"empty native value: the 32-bit path", L"", L"{W}", std::nullopt, 0, L"false", L"{W}", REG_EXPAND_SZ},
        {"no native key: the 32-bit path", std::nullopt, L"{W}", std::nullopt, 0, L"false", L"{W}", REG_EXPAND_SZ},
        {"native value wins over the 32-bit one", L"{A}", L"{W}", L"{W}", REG_SZ, L"true", L"{A}", REG_EXPAND_SZ},
        {"same GUID: no write (type kept)", L"{A}", std::nullopt, L"{A}", REG_SZ, L"false", L"{A}", REG_SZ},
        {"recorded value of any type is read", L"{A}", std::nullopt, L"{A}", REG_MULTI_SZ, L"false", L"{A}", REG_MULTI_SZ},
        {"changed GUID is recorded", L"{B}", std::nullopt, L"{A}", REG_EXPAND_SZ, L"true", L"{B}", REG_EXPAND_SZ},
        {"a change of letter case is a change", L"{a}", std::nullopt, L"{A}", REG_EXPAND_SZ, L"true", L"{a}", REG_EXPAND_SZ},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        remove_key(agent_key);
        remove_key(agent_key_32);
        remove_key(product_key);
        if (row.native) set_string(agent_key, L"AgentGUID", *row.native);
        if (row.wow) set_string(agent_key_32, L"AgentGUID", *row.wow);
        if (row.before) set_string(product_key, L"CurrentAgentGUID", *row.before, row.before_type);
        EXPECT_EQ(ask(), row.answer);
        const auto after = recorded();
        ASSERT_TRUE(after.has_value());
        EXPECT_EQ(after->text, row.after);
        EXPECT_EQ(after->type, row.after_type);
        if (!row.before) {
            EXPECT_EQ(after->size, (row.after.size() + 1) * sizeof(wchar_t));
        }
    }
}

TEST_F(CoreCommand, AnswersTrueExactlyOnceAfterEachChange) {
    set_string(agent_key, L"AgentGUID", L"{1}");
    EXPECT_EQ(ask(), L"false");
    EXPECT_EQ(ask(), L"false");
    set_string(agent_key, L"AgentGUID", L"{2}");
    EXPECT_EQ(ask(), L"true");
    EXPECT_EQ(ask(), L"false");
}

LSTATUS WINAPI denied_query(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE data, LPDWORD) {
    return data ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;  // the size query works, the read not
}
LSTATUS WINAPI denied_set(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD) { return ERROR_ACCESS_DENIED; }

TEST_F(CoreCommand, FailuresAreTracedAndReportedAsEFail) {
    const struct {
        const char* what;
        bool agent, volatile_parent, recorded_before;
        core_registry_calls calls;
        const wchar_t* trace;
    } rows[] = {
        {"no agent GUID", false, false, false, {}, L"Failed to get current agent GUID"},
        {"product key cannot be created", true, true, false, {},
         L"Failed to open registry key HKLM\\SOFTWARE\\Quillon\\Vessaro: 000003FD."},
        {"recorded value unreadable", true, false, true, {denied_query, nullptr},
         L"Failed to read registry value HKLM\\SOFTWARE\\Quillon\\Vessaro\\CurrentAgentGUID 00000005."},
        {"first record unwritable", true, false, false, {nullptr, denied_set},
         L"Failed to write registry value HKLM\\SOFTWARE\\Quillon\\Vessaro\\CurrentAgentGUID 00000005."},
        {"changed record unwritable", true, false, true, {nullptr, denied_set},
         L"Failed to write registry value HKLM\\SOFTWARE\\Quillon\\Vessaro\\CurrentAgentGUID 00000005."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(trace_test::delete_trace_file());
        remove_key(agent_key);
        remove_key(product_key);
        if (row.agent) set_string(agent_key, L"AgentGUID", L"{NEW}");
        if (row.recorded_before) set_string(product_key, L"CurrentAgentGUID", L"{OLD}");
        // A non-volatile key cannot be made below a volatile one.
        unique_hkey parent;
        if (row.volatile_parent) {
            remove_key(L"SOFTWARE\\Quillon");
            ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quillon", 0, nullptr, REG_OPTION_VOLATILE,
                                      KEY_ALL_ACCESS, nullptr, parent.put(), nullptr), ERROR_SUCCESS);
        }
        set_core_registry_calls(row.calls);
        const call_outcome outcome = call(dispatcher_.get(), command);
        set_core_registry_calls({});
        parent.reset();
        if (row.volatile_parent) remove_key(L"SOFTWARE\\Quillon");
        EXPECT_EQ(outcome.returned, S_FALSE);
        EXPECT_EQ(outcome.ret_code, E_FAIL);
        const auto lines = trace_messages(core_scope);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], row.trace);
        if (!row.agent) {
            EXPECT_FALSE(recorded().has_value()) << "product key untouched";
        }
    }
}

TEST_F(CoreCommand, OtherNamesHoldingCoreAreUnknownCommands) {
    for (const wchar_t* name : {L"core_has_agent_guid_changed", L"core_has_agent_GUID_changed2", L"core_"}) {
        ASSERT_TRUE(trace_test::delete_trace_file());
        const call_outcome outcome = call(dispatcher_.get(), std::wstring(L"<function name=\"") + name + L"\"/>");
        EXPECT_EQ(outcome.ret_code, E_INVALIDARG);
        EXPECT_EQ(trace_messages(core_scope), std::vector<std::wstring>{L"Unknown command!"});
        EXPECT_FALSE(recorded().has_value()) << "no registry access";
    }
}

}  // namespace
