// rxctl status: what a support engineer asks first. Prints, one item per line:
//   service QlnVxCoreService: not installed | stopped | start pending | ... | running, process N
//   start event Global\{10C9DE46-...}: signalled | not signalled | absent
//   AppID {04755478-...}: not registered | registered, LocalService = NAME | registered, local server
//   class {3106EB92-...}: not registered | registered, server SERVER
//   type library {E525C81A-...}: not registered | 1.0 locale L: PATH (one line per locale)
//   program: PATH, version V | PATH, no version resource | unknown (...)
//   tracing: on | off
// The start event is only opened (never created), so asking does not make it exist.
// With --json the same items as one JSON object, members named as the lines' labels
// ("service", "start event", "AppID", "class", "type library" (an array), "program",
// "tracing"), then
// "ready" and "reason". When it is not ready, one line on standard error says why.
// Exit code: 0 when the service runs and its start event is signalled (it serves calls
// and its manager has started), 1 otherwise, 2 for a usage error.
#include <windows.h>

#include <string>
#include <vector>

#include "foundation/guid_text_win.h"
#include "foundation/trace_switch_win.h"
#include "service/service_identity_win.h"
#include "tools/rxctl/commands.h"
#include "tools/rxctl/console_io.h"
#include "tools/rxctl/doctor_checks_win.h"
#include "tools/rxctl/file_version_win.h"
#include "tools/rxctl/installed_state_win.h"
#include "tools/rxctl/json_text.h"
#include "tools/rxctl/status_words.h"
#include "tools/rxctl/usage.h"

namespace {

using namespace installed_state;

// One item of the report: the text line is "LABEL IDENTIFIER: VALUE"; the JSON member is
// "LABEL": "VALUE" (an array for the type library, one value per registered locale).
struct item {
    std::string label;
    std::string identifier;
    std::vector<std::string> values;
};

// The state of the service, and why it does not serve (empty when it runs).
item service_item(bool& running, std::string& why) {
    running = false;
    item it{"service", argument_text(service_name), {}};
    const service_state state = query_service_state();
    if (!state.installed) {
        const bool absent = state.error == ERROR_SERVICE_DOES_NOT_EXIST;
        it.values.push_back(absent ? std::string("not installed") : "unknown (" + error_words(state.error) + ")");
        why = absent ? "the service is not installed: install the package"
                     : "the service's state cannot be read (" + error_words(state.error) + ")";
        return it;
    }
    if (state.error != 0) {
        it.values.push_back("installed, state unknown (" + error_words(state.error) + ")");
        why = "the service's state cannot be read (" + error_words(state.error) + ")";
        return it;
    }
    const SERVICE_STATUS_PROCESS& status = state.status;
    running = status.dwCurrentState == SERVICE_RUNNING;
    std::string value = state_text(status.dwCurrentState);
    if (status.dwCurrentState != SERVICE_STOPPED) value += ", process " + std::to_string(status.dwProcessId);
    else if (status.dwWin32ExitCode != 0) value += ", exit code " + std::to_string(status.dwWin32ExitCode);
    it.values.push_back(value);
    if (!running) why = "the service is " + value + ", not running: net start " + argument_text(service_name);
    return it;
}

item start_event_item(bool& signalled, std::string& why) {
    item it{"start event", argument_text(start_event_kernel_name().c_str()), {}};
    DWORD error = 0;
    const start_event_state state = query_start_event(error);
    signalled = state == start_event_state::signalled;
    switch (state) {
    case start_event_state::absent:
        it.values.push_back("absent");
        why = "the start event does not exist: the service has not started";
        break;
    case start_event_state::signalled: it.values.push_back("signalled"); break;
    case start_event_state::not_signalled:
        it.values.push_back("not signalled");
        why = "the start event is not signalled: the manager component has not started (rxctl doctor checks it)";
        break;
    case start_event_state::unopenable:
        it.values.push_back("cannot be opened (" + error_words(error) + ")");
        why = "the start event cannot be opened (" + error_words(error) + ")";
        break;
    }
    return it;
}

item app_id_item() {
    const std::wstring key = std::wstring(L"AppID\\") + service_identity::app_id_text;
    item it{"AppID", argument_text(service_identity::app_id_text), {}};
    std::wstring value;
    if (!class_key_exists(key)) it.values.push_back("not registered");
    else if (class_string(key, service_identity::local_service_value, value))
        it.values.push_back("registered, " + argument_text(service_identity::local_service_value) + " = " +
                            argument_text(value.c_str()));
    else it.values.push_back("registered, local server");
    return it;
}

item class_item() {
    const guid_text class_id = text_of_guid(service_identity::class_id);
    const std::wstring key = std::wstring(L"CLSID\\") + class_id.c_str();
    item it{"class", argument_text(class_id.c_str()), {}};
    std::wstring server;
    if (!class_key_exists(key)) it.values.push_back("not registered");
    else if (!class_string(key + L"\\LocalServer32", nullptr, server)) it.values.push_back("registered, no server");
    else it.values.push_back("registered, server " + argument_text(server.c_str()));
    return it;
}

// One value per registered locale of version 1.0 (the product registers 409; a locale-0
// entry is an alias some setups add for their marshaler).
item type_library_item() {
    const guid_text type_library_id = text_of_guid(service_identity::type_library_id);
    const std::wstring version_key = std::wstring(L"TypeLib\\") + type_library_id.c_str() + L"\\1.0";
    item it{"type library", argument_text(type_library_id.c_str()), {}};
    if (!class_key_exists(version_key)) {
        it.values.push_back("not registered");
        return it;
    }
    for (const std::wstring& locale : class_subkeys(version_key)) {
        std::wstring path;
        if (!class_string(version_key + L"\\" + locale + L"\\win64", nullptr, path)) continue;  // FLAGS, HELPDIR
        it.values.push_back("1.0 locale " + argument_text(locale.c_str()) + ": " + argument_text(path.c_str()));
    }
    if (it.values.empty()) it.values.push_back("registered, no win64 file");
    return it;
}

// The program the service runs, with the version its resource carries.
item program_item() {
    const std::wstring exe = doctor::service_executable();
    if (exe.empty()) return {"program", "", {"unknown (the service is not installed)"}};
    return {"program", "", {argument_text(exe.c_str()) + ", " + file_version_text(exe)}};
}

std::string text_of(const std::vector<item>& items) {
    std::string text;
    for (const item& it : items) {
        const std::string head = it.label + (it.identifier.empty() ? "" : " " + it.identifier) + ": ";
        for (const std::string& value : it.values) text += head + value + "\n";
    }
    return text;
}

std::string json_of(const std::vector<item>& items, bool ready, const std::string& why) {
    std::vector<std::pair<std::string, std::string>> members;
    for (const item& it : items) {
        std::vector<std::string> values;
        for (const std::string& value : it.values) values.push_back(json_string(value));
        members.emplace_back(it.label, it.label == "type library" ? json_array(values) : values.front());
    }
    members.emplace_back("ready", ready ? "true" : "false");
    members.emplace_back("reason", json_string(why));
    return json_object(members);
}

}  // namespace

int run_status_command(int argc, wchar_t** argv) {
    bool json = false;
    for (int i = 0; i < argc; ++i) {
        if (!argument_is(argv[i], "--json"))
            return usage_error("status", "unexpected argument '" + argument_text(argv[i]) + "'");
        json = true;
    }
    bool running = false, signalled = false;
    std::string why, event_why;
    std::vector<item> items;
    items.push_back(service_item(running, why));
    items.push_back(start_event_item(signalled, event_why));
    if (why.empty()) why = event_why;  // the service's own state explains first
    items.push_back(app_id_item());
    items.push_back(class_item());
    items.push_back(type_library_item());
    items.push_back(program_item());
    items.push_back({"tracing", "", {trace_read_switch() ? "on" : "off"}});
    const bool ready = running && signalled;
    const std::string report = json ? json_of(items, ready, why) : text_of(items);
    unsigned long error = 0;
    if (!write_standard_output(report, error)) {
        write_standard_error("rxctl status: cannot write standard output (" + error_words(error) + ")\n");
        return exit_usage_or_io;
    }
    if (!ready) write_standard_error("rxctl status: not ready: " + why + "\n");
    return ready ? exit_success : exit_operation_failed;
}
