#pragma once
// What the event system double (the DLL) and its test side (fire, records) agree on: the
// registry value names and the firing pipe's messages.
#include <windows.h>

#include <cstdint>
#include <string>

namespace event_system_double::protocol {

inline constexpr const wchar_t* subscriptions_key = L"EventSystem\\Subscriptions";

namespace value {
inline constexpr const wchar_t* store_count = L"StoreCount";
inline constexpr const wchar_t* remove_queries = L"RemoveQueries";
inline constexpr const wchar_t* live_objects = L"LiveSubscriptionObjects";
inline constexpr const wchar_t* fail_call = L"FailCall";
inline constexpr const wchar_t* fail_status = L"FailStatus";
inline constexpr const wchar_t* fail_on = L"FailOn";
// In each Subscriptions\<n> key:
inline constexpr const wchar_t* id = L"SubscriptionID";
inline constexpr const wchar_t* name = L"SubscriptionName";
inline constexpr const wchar_t* method = L"MethodName";
inline constexpr const wchar_t* event_class = L"EventClassID";
inline constexpr const wchar_t* prog_id = L"ProgID";
inline constexpr const wchar_t* has_subscriber = L"HasSubscriber";
inline constexpr const wchar_t* process_id = L"ProcessId";
inline constexpr const wchar_t* thread_id = L"ThreadId";
}  // namespace value

// The pipe a process that stored subscriptions serves.
inline std::wstring pipe_name(DWORD process_id) {
    return L"\\\\.\\pipe\\KvEventSystemDouble-" + std::to_wstring(process_id);
}

// Request message: this header, then the method name's UTF-16 units, then the user name's
// (neither terminated). Reply message: fire_reply.
struct fire_request_header {
    std::uint32_t method_units;
    std::uint32_t user_units;
    std::uint32_t user_present;  // 0: the user name is a null BSTR
};
struct fire_reply {
    std::int32_t status;
    std::uint32_t delivered;
};

inline constexpr DWORD max_request_bytes = 64 * 1024;
// How long a process waits for one storing thread to run a handler: above a logoff's 12 s.
inline constexpr DWORD delivery_timeout_ms = 30000;
// How long fire() waits for a busy pipe.
inline constexpr DWORD pipe_wait_ms = 15000;

}  // namespace event_system_double::protocol
