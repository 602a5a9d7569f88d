#include "tests/reliability/reliability_support_win.h"

#include "tests/doubles/manager/manager_double_win.h"
#include "tests/support/process_handles_win.h"
#include "xml/kv_xml.h"

#include <psapi.h>

#include <cstdio>
#include <vector>

namespace reliability {
namespace {

constexpr wchar_t agent_key[] = L"SOFTWARE\\Halvern\\Ostrand\\Agent";
constexpr wchar_t product_key[] = L"SOFTWARE\\Quillon\\Vessaro";
constexpr wchar_t agent_guid[] = L"{0C7D52E8-3B61-4F0A-9E2D-6A45B1C8F370}";
constexpr wchar_t quit_token[] = L"{5A7C3E21-9B04-4F6D-A2C8-71E0D94B3F65}";

void remove_key(const wchar_t* key) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
}

// Deletes the key when it holds neither subkeys nor values (a parent the test made).
void remove_if_empty(const wchar_t* key) {
    unique_hkey opened;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, opened.put()) != ERROR_SUCCESS) return;
    DWORD subkeys = 0, values = 0;
    if (RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr) == ERROR_SUCCESS && subkeys == 0 && values == 0) {
        opened.reset();
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
    }
}

bool set_text(const wchar_t* key, const wchar_t* name, const wchar_t* text, DWORD type) {
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, type, text,
                           static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

wchar_t fold(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + (L'a' - L'A')) : c; }

bool is_quit_token(const std::wstring& text) {
    const std::wstring token = quit_token;
    if (text.size() != token.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (fold(text[i]) != fold(token[i])) return false;
    return true;
}

std::string shown(const std::wstring& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < 120; ++i)
        out += text[i] >= 0x20 && text[i] < 0x7F ? static_cast<char>(text[i]) : '.';
    return out + (text.size() > 120 ? "... (" + std::to_string(text.size()) + " units)" : "");
}

}  // namespace

recorded_agent_guid::recorded_agent_guid() {
    remove_key(product_key);
    ready_ = set_text(agent_key, L"AgentGUID", agent_guid, REG_SZ) &&
             set_text(product_key, L"CurrentAgentGUID", agent_guid, REG_EXPAND_SZ);
}

recorded_agent_guid::~recorded_agent_guid() {
    remove_key(agent_key);
    remove_key(product_key);
    for (const wchar_t* parent : {L"SOFTWARE\\Halvern\\Ostrand", L"SOFTWARE\\Halvern", L"SOFTWARE\\Quillon"})
        remove_if_empty(parent);
}

std::wstring envelope(const wchar_t* function, unsigned client, unsigned call, std::size_t payload_bytes) {
    const std::wstring id = std::to_wstring(client) + L"." + std::to_wstring(call);
    std::wstring payload;
    while (payload.size() * sizeof(wchar_t) < payload_bytes) payload += L"c" + id + L" &amp; data ";
    return std::wstring(L"<function name=\"") + function + L"\"><call client=\"" + std::to_wstring(client) +
           L"\" number=\"" + std::to_wstring(call) + L"\">" + payload + L"</call></function>";
}

expected_answer expected_for(const std::wstring& argument) {
    const std::wstring plain(argument.c_str());  // the service reads up to the first NUL
    if (is_quit_token(plain)) return {S_OK, S_OK, std::nullopt};
    const kv_xml_document document(create_xml_document());
    if (!document->load_from_string(plain.c_str())) return refused();
    KV_xml_node* function = document->get_root()->get_child(0, L"function");
    if (function == nullptr) return refused();
    const std::wstring name = function->get_attribute_value(L"name");
    if (name.find(L"core_") != std::wstring::npos)
        return name == core_command ? expected_answer{S_OK, S_OK, core_unchanged_answer} : refused();

    // The manager double: see manager_double_win.h (never_done is never sent here).
    const kv_xml_string serialized(document->to_string());
    const std::wstring echo = serialized.get();
    if (name == manager_double::no_result) return {S_OK, S_OK, std::nullopt};
    if (name == manager_double::s_false) return {S_OK, S_FALSE, echo};
    if (name == manager_double::fail) return {S_FALSE, manager_double::failure_status, std::nullopt};
    return {S_OK, S_OK, echo};
}

::testing::AssertionResult answered(const service_host_test::call_outcome& outcome, const expected_answer& expected) {
    const bool right = outcome.returned == expected.returned && outcome.ret_code == expected.ret_code &&
                       outcome.has_result == expected.result.has_value() &&
                       (!expected.result || outcome.result == *expected.result);
    if (right) return ::testing::AssertionSuccess();
    char codes[128];
    std::snprintf(codes, sizeof codes, "returned %08lX ret_code %08lX, expected %08lX %08lX",
                  static_cast<unsigned long>(outcome.returned), static_cast<unsigned long>(outcome.ret_code),
                  static_cast<unsigned long>(expected.returned), static_cast<unsigned long>(expected.ret_code));
    return ::testing::AssertionFailure()
           << codes << "; result " << (outcome.has_result ? "\"" + shown(outcome.result) + "\"" : "null")
           << ", expected " << (expected.result ? "\"" + shown(*expected.result) + "\"" : "null");
}

::testing::AssertionResult call_and_check(RX_core_service_disp_i* dispatcher, const std::wstring& envelope) {
    return answered(service_host_test::call(dispatcher, envelope), expected_for(envelope));
}

void RunningService::SetUp() {
    ASSERT_TRUE(service_.ready());
    ASSERT_TRUE(agent_.ready());
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_TRUE(service_host_test::start_service());
    ASSERT_TRUE(service_host_test::wait_for_start_event(30000));
    process_id_ = service_host_test::service_process_id();
    ASSERT_NE(process_id_, 0u);
    dispatcher_ = service_host_test::connect();
    ASSERT_TRUE(dispatcher_);
}

void RunningService::TearDown() {
    dispatcher_.reset();
    CoUninitialize();
}

::testing::AssertionResult RunningService::still_serving() {
    if (service_host_test::state() != SERVICE_RUNNING) return ::testing::AssertionFailure() << "not running";
    if (service_host_test::service_process_id() != process_id_)
        return ::testing::AssertionFailure() << "another service process";
    const auto fresh = service_host_test::connect();
    if (!fresh) return ::testing::AssertionFailure() << "no new connection";
    const ::testing::AssertionResult echo = call_and_check(fresh.get(), envelope(manager_double::echo, 0, 1));
    if (!echo) return echo;
    return call_and_check(fresh.get(), envelope(core_command, 0, 2));
}

process_usage usage_of(DWORD process_id) {
    process_usage usage;
    const unique_handle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id));
    if (!process) return usage;
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (!GetProcessHandleCount(process.get(), &usage.reported_handles) ||
        !GetProcessMemoryInfo(process.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory))
        return usage;
    usage.reported_private_usage = memory.PrivateUsage;
    usage.private_bytes = memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
    usage.handles = usage.reported_handles;
    if (usage.handles == 0) {  // a live process always holds handles: the count is not kept
        const std::optional<DWORD> counted = process_handles::in_system_table(process_id);
        if (!counted) return usage;
        usage.handles = *counted;
    }
    usage.valid = usage.private_bytes != 0 && usage.handles != 0;
    return usage;
}

}  // namespace reliability
