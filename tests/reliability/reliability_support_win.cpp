#include "tests/reliability/reliability_support_win.h"

#include "tests/doubles/manager/manager_double_win.h"
#include "tests/support/process_handles_win.h"

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

bool starts_with_nocase(const std::wstring& text, const std::wstring& start) {
    if (text.size() < start.size()) return false;
    for (std::size_t i = 0; i < start.size(); ++i)
        if (fold(text[i]) != fold(start[i])) return false;
    return true;
}

bool contains_nocase(const std::wstring& text, const std::wstring& part) {
    for (std::size_t at = 0; at + part.size() <= text.size(); ++at) {
        std::size_t i = 0;
        while (i < part.size() && fold(text[at + i]) == fold(part[i])) ++i;
        if (i == part.size()) return true;
    }
    return false;
}

bool contains(const std::wstring& text, const wchar_t* part) { return text.find(part) != std::wstring::npos; }

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
    // No blank at either end and the ampersand escaped: the text reads back and is written
    // again unchanged.
    std::wstring payload;
    while (payload.size() * sizeof(wchar_t) < payload_bytes) payload += L"c" + id + L" &amp; data;";
    return std::wstring(L"\xFEFF<?xml version=\"1.0\"?>\r\n  <function name=\"") + function +
           L"\">\r\n    <call client=\"" + std::to_wstring(client) + L"\" number=\"" + std::to_wstring(call) +
           L"\">" + payload + L"</call>\r\n  </function>\r\n";
}

namespace {

// What the manager double's forward_call gives back for a name (manager_double_win.h).
enum class shape { none, echo, any };
struct double_answer {
    const wchar_t* name;  // nullptr: every name not listed
    HRESULT returned;     // by call_function
    LONG ret_code;
    shape result;
};
constexpr double_answer double_answers[] = {
    {manager_double::no_result, S_OK, S_OK, shape::none},
    {manager_double::s_false_no_result, S_OK, S_FALSE, shape::none},
    {manager_double::fail_no_result, S_FALSE, manager_double::failure_status, shape::none},
    // A failing executor's result is dropped by the service.
    {manager_double::fail, S_FALSE, manager_double::failure_status, shape::none},
    {manager_double::fail_long_text, S_FALSE, manager_double::failure_status, shape::none},
    {manager_double::s_false, S_OK, S_FALSE, shape::echo},
    {manager_double::other_success, S_OK, manager_double::other_success_status, shape::echo},
    {manager_double::event_probe, S_OK, S_OK, shape::any},
};
constexpr double_answer every_other_name{nullptr, S_OK, S_OK, shape::echo};

const double_answer& double_answer_for(const std::wstring& name) {
    for (const double_answer& answer : double_answers)
        if (name == answer.name) return answer;
    return every_other_name;
}

expected_answer core_answer() { return {S_OK, S_OK, core_unchanged_answer}; }

// The text an executor receives: a document written by the serializer (its byte-order
// mark, then the declaration node as root) with a top-level element named "function".
bool is_serialized_envelope(const std::wstring& text) {
    return starts_with_nocase(text, L"\xFEFF<?xml") && contains_nocase(text, L"\r\n  <function");
}

bool fits(const service_host_test::call_outcome& outcome, const double_answer& answer) {
    if (outcome.returned != answer.returned || outcome.ret_code != answer.ret_code) return false;
    switch (answer.result) {
        case shape::none: return !outcome.has_result;
        case shape::any: return outcome.has_result;
        case shape::echo:
            return outcome.has_result && is_serialized_envelope(outcome.result) &&
                   (answer.name == nullptr || contains(outcome.result, answer.name));
    }
    return false;
}

std::string described(const service_host_test::call_outcome& outcome) {
    char codes[64];
    std::snprintf(codes, sizeof codes, "returned %08lX ret_code %08lX", static_cast<unsigned long>(outcome.returned),
                  static_cast<unsigned long>(outcome.ret_code));
    return codes + std::string("; result ") + (outcome.has_result ? "\"" + shown(outcome.result) + "\"" : "null");
}

}  // namespace

std::optional<expected_answer> expected_for(const std::wstring& function, const std::wstring& envelope) {
    if (function.find(L"core_") != std::wstring::npos) return function == core_command ? core_answer() : refused();
    const double_answer& answer = double_answer_for(function);
    if (answer.result == shape::any) return std::nullopt;
    return expected_answer{answer.returned, answer.ret_code,
                           answer.result == shape::echo ? std::optional<std::wstring>(envelope) : std::nullopt};
}

::testing::AssertionResult answered(const service_host_test::call_outcome& outcome, const expected_answer& expected) {
    const bool right = outcome.returned == expected.returned && outcome.ret_code == expected.ret_code &&
                       outcome.has_result == expected.result.has_value() &&
                       (!expected.result || outcome.result == *expected.result);
    if (right) return ::testing::AssertionSuccess();
    char codes[64];
    std::snprintf(codes, sizeof codes, ", expected %08lX %08lX", static_cast<unsigned long>(expected.returned),
                  static_cast<unsigned long>(expected.ret_code));
    return ::testing::AssertionFailure() << described(outcome) << codes << ", result "
                                         << (expected.result ? "\"" + shown(*expected.result) + "\"" : "null");
}

::testing::AssertionResult answered_by_the_rules(const service_host_test::call_outcome& outcome,
                                                 const std::wstring& argument) {
    const std::wstring plain(argument.c_str());  // the service reads up to the first NUL
    if (is_quit_token(plain)) return answered(outcome, {S_OK, S_OK, std::nullopt});
    if (answered(outcome, refused())) return ::testing::AssertionSuccess();
    if (contains(plain, core_command) && answered(outcome, core_answer())) return ::testing::AssertionSuccess();
    for (const double_answer& answer : double_answers)
        if (contains(plain, answer.name) && fits(outcome, answer)) return ::testing::AssertionSuccess();
    if (contains_nocase(plain, L"function") && fits(outcome, every_other_name)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << described(outcome) << ": no rule allows it for the text \""
                                         << shown(plain) << "\"";
}

::testing::AssertionResult call_and_check(RX_core_service_disp_i* dispatcher, const wchar_t* function,
                                          const std::wstring& envelope) {
    const std::optional<expected_answer> expected = expected_for(function, envelope);
    if (!expected) return ::testing::AssertionFailure() << shown(function) << " has no fixed answer";
    return answered(service_host_test::call(dispatcher, envelope), *expected);
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
    const ::testing::AssertionResult echo =
        call_and_check(fresh.get(), manager_double::echo, envelope(manager_double::echo, 0, 1));
    if (!echo) return echo;
    return call_and_check(fresh.get(), core_command, envelope(core_command, 0, 2));
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
