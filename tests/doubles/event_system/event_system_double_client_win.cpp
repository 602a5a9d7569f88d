// The test side of the event system double: registration, records, the failure switch and
// firing events at the stored subscribers.
#include "tests/doubles/event_system/event_system_double_win.h"

#include <set>

#include "tests/doubles/common/com_double_locations_win.h"
#include "tests/doubles/common/double_registry_win.h"
#include "tests/doubles/event_system/event_system_protocol_win.h"

namespace event_system_double {
namespace {
namespace value = protocol::value;

DWORD root_dword(const wchar_t* name) {
    const unique_hkey key = doubles::open_key(key_path, false);
    return key ? doubles::read_dword(key.get(), name).value_or(0) : 0;
}

std::vector<BYTE> fire_request(const std::wstring& method, const wchar_t* user) {
    const std::wstring user_text = user ? user : L"";
    const protocol::fire_request_header header{static_cast<std::uint32_t>(method.size()),
                                               static_cast<std::uint32_t>(user_text.size()), user ? 1u : 0u};
    std::vector<BYTE> bytes(sizeof header + (method.size() + user_text.size()) * sizeof(wchar_t));
    memcpy(bytes.data(), &header, sizeof header);
    memcpy(bytes.data() + sizeof header, method.data(), method.size() * sizeof(wchar_t));
    memcpy(bytes.data() + sizeof header + method.size() * sizeof(wchar_t), user_text.data(),
           user_text.size() * sizeof(wchar_t));
    return bytes;
}

fire_result fire_at(DWORD process_id, std::vector<BYTE>& request) {
    protocol::fire_reply reply{};
    DWORD got = 0;
    if (!CallNamedPipeW(protocol::pipe_name(process_id).c_str(), request.data(), static_cast<DWORD>(request.size()),
                        &reply, sizeof reply, &got, protocol::pipe_wait_ms))
        return {HRESULT_FROM_WIN32(GetLastError()), 0};
    if (got != sizeof reply) return {E_UNEXPECTED, 0};
    return {reply.status, reply.delivered};
}

}  // namespace

HRESULT register_double() { return doubles::register_double(doubles::event_system_double_dll); }
HRESULT unregister_double() { return doubles::unregister_double(doubles::event_system_double_dll); }

bool reset() { return doubles::delete_tree(key_path); }

std::vector<subscription_record> stored_subscriptions() {
    std::vector<subscription_record> records;
    const unique_hkey list = doubles::open_key(protocol::subscriptions_key, false);
    if (!list) return records;
    for (const std::wstring& name : doubles::subkey_names(list.get())) {
        const unique_hkey key = doubles::open_key(std::wstring(protocol::subscriptions_key) + L"\\" + name, false);
        if (!key) continue;
        subscription_record record;
        record.id = doubles::read_text(key.get(), value::id).value_or(L"");
        record.name = doubles::read_text(key.get(), value::name).value_or(L"");
        record.method = doubles::read_text(key.get(), value::method).value_or(L"");
        record.event_class = doubles::read_text(key.get(), value::event_class).value_or(L"");
        record.prog_id = doubles::read_text(key.get(), value::prog_id).value_or(L"");
        record.has_subscriber = doubles::read_dword(key.get(), value::has_subscriber).value_or(0) != 0;
        record.process_id = doubles::read_dword(key.get(), value::process_id).value_or(0);
        record.thread_id = doubles::read_dword(key.get(), value::thread_id).value_or(0);
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<std::wstring> remove_queries() {
    const unique_hkey key = doubles::open_key(key_path, false);
    return key ? doubles::read_texts(key.get(), value::remove_queries) : std::vector<std::wstring>();
}

DWORD store_count() { return root_dword(value::store_count); }
DWORD live_subscription_objects() { return root_dword(value::live_objects); }

bool set_failure(const wchar_t* call, HRESULT status, const wchar_t* on) {
    const unique_hkey key = doubles::open_key(key_path, true);
    if (!key) return false;
    bool written = doubles::write_text(key.get(), value::fail_call, call) &&
                   doubles::write_dword(key.get(), value::fail_status, static_cast<DWORD>(status));
    written = written && (on ? doubles::write_text(key.get(), value::fail_on, on)
                             : doubles::delete_value(key.get(), value::fail_on));
    return written;
}

bool clear_failure() {
    const unique_hkey key = doubles::open_key(key_path, false);
    if (!key) return true;
    return doubles::delete_value(key.get(), value::fail_call) && doubles::delete_value(key.get(), value::fail_status) &&
           doubles::delete_value(key.get(), value::fail_on);
}

fire_result fire(const wchar_t* method, const wchar_t* user) {
    const std::wstring wanted = method ? method : L"";
    std::set<DWORD> processes;
    for (const subscription_record& record : stored_subscriptions())
        if (CompareStringOrdinal(record.method.c_str(), -1, wanted.c_str(), -1, TRUE) == CSTR_EQUAL)
            processes.insert(record.process_id);
    if (processes.empty()) return {EVENT_S_NOSUBSCRIBERS, 0};

    std::vector<BYTE> request = fire_request(wanted, user);
    fire_result total{S_OK, 0};
    for (const DWORD process_id : processes) {
        const fire_result one = fire_at(process_id, request);
        total.delivered += one.delivered;
        if (SUCCEEDED(total.status)) total.status = one.status;
    }
    return total;
}

}  // namespace event_system_double
