// rxctl watch USER NOTIFICATION... [--count N] [--timeout MS]: opens (or creates) the
// global event of each named notification of USER, named as the service names them, and
// prints one line per signal: local time, user, SID, notification. Runs until
// interrupted; --count ends after N signals (exit 0), --timeout ends with exit 1 when no
// signal came within MS milliseconds. The events reset themselves, so watching takes a
// signal that no other listener has taken, and a signal nobody waited for yet is seen.
#include "tools/rxctl/commands.h"
#include "tools/rxctl/console_io.h"
#include "tools/rxctl/status_words.h"
#include "tools/rxctl/usage.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dispatcher/notifications_win.h"

namespace {

int watch_usage_error(const std::string& message) { return usage_error("watch", message); }

// The notifications the service signals, as it names them (the names are part of the
// events' names, so they are passed on in this form whatever case they were typed in).
constexpr const wchar_t* known_notifications[] = {
    L"user_logon",   L"user_logoff",          L"screen_lock",           L"screen_unlock",
    L"screen_saver_activated", L"screen_saver_deactivated", L"system_shutdown",
};

// The service's name of the notification `word`, or null.
const wchar_t* notification_named(const wchar_t* word) {
    for (const wchar_t* known : known_notifications) {
        if (argument_is(word, utf8_text(known).c_str())) return known;
    }
    return nullptr;
}

// A whole decimal number below 2^32.
bool parse_count(const wchar_t* text, DWORD& value) {
    if (*text == 0) return false;
    unsigned long long parsed = 0;
    for (; *text != 0; ++text) {
        if (*text < L'0' || *text > L'9') return false;
        parsed = parsed * 10 + static_cast<unsigned>(*text - L'0');
        if (parsed > 0xFFFFFFFFull) return false;
    }
    value = static_cast<DWORD>(parsed);
    return true;
}

std::string local_time() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    return text;
}

}  // namespace

int run_watch_command(int argc, wchar_t** argv) {
    const wchar_t* user = nullptr;
    std::vector<const wchar_t*> notifications;
    DWORD count = 0;        // 0: until interrupted
    DWORD timeout = INFINITE;
    for (int i = 0; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (argument_is(argv[i], "--count")) {
            if (!has_value || !parse_count(argv[++i], count) || count == 0)
                return watch_usage_error("--count needs a number above 0");
        } else if (argument_is(argv[i], "--timeout")) {
            if (!has_value || !parse_count(argv[++i], timeout) || timeout == INFINITE)
                return watch_usage_error("--timeout needs a number of milliseconds");
        } else if (user == nullptr) {
            user = argv[i];
        } else if (const wchar_t* known = notification_named(argv[i])) {
            notifications.push_back(known);
        } else {
            return watch_usage_error("'" + argument_text(argv[i]) +
                                     "' is not a notification the service signals (see the list in the help)");
        }
    }
    if (user == nullptr || notifications.empty()) return watch_usage_error("name a user and at least one notification");
    if (notifications.size() > MAXIMUM_WAIT_OBJECTS)
        return watch_usage_error("at most " + std::to_string(MAXIMUM_WAIT_OBJECTS) + " notifications");

    const KV_string sid = account_sid_text(user);
    if (sid.text() == nullptr || *sid.text() == 0)
        return watch_usage_error("the account '" + argument_text(user) +
                                 "' does not resolve to a security identifier; nothing would signal its events");
    const std::string sid_text = argument_text(sid.text());
    std::vector<std::unique_ptr<KV_event>> events;
    std::vector<HANDLE> handles;
    for (const wchar_t* notification : notifications) {
        const KV_string name = notification_event_text(sid.text(), notification);
        events.push_back(std::make_unique<KV_event>(name.text(), true, false));
        if (events.back()->event_handle() == nullptr)
            return watch_usage_error("cannot open the event " + argument_text(events.back()->object_name()) + " (" +
                                     error_words(::GetLastError()) + ")");
        handles.push_back(events.back()->event_handle());
    }
    write_standard_error("rxctl watch: waiting for " + std::to_string(handles.size()) +
                         " notification(s) of " + argument_text(user) + " (" + sid_text + ")\n");

    for (DWORD seen = 0; count == 0 || seen < count; ++seen) {
        const DWORD signalled = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                                         handles.data(), FALSE, timeout);
        if (signalled == WAIT_TIMEOUT) {
            write_standard_error("rxctl watch: no notification within " + std::to_string(timeout) + " ms\n");
            return exit_operation_failed;
        }
        if (signalled >= WAIT_OBJECT_0 + handles.size()) {
            write_standard_error("rxctl watch: wait failed (" + error_words(::GetLastError()) + ")\n");
            return exit_operation_failed;
        }
        const std::string line = local_time() + " " + argument_text(user) + " " + sid_text + " " +
                                 argument_text(notifications[signalled - WAIT_OBJECT_0]) + "\n";
        unsigned long error = 0;
        if (!write_standard_output(line, error)) return exit_usage_or_io;
    }
    return exit_success;
}
