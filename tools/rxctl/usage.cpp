#include "tools/rxctl/usage.h"

#include "tools/rxctl/console_io.h"

namespace {

// The forms of each command, in the order --help shows them. Scripts read --help: change
// these texts by adding to them, and keep them true to what the commands do.
constexpr command_form scramble_forms[] = {
    {"scramble [--hex]\n",
     "Read a plain text from standard input and write its scrambled form to\n"
     "standard output.\n"},
};
constexpr command_form unscramble_forms[] = {
    {"unscramble [--hex]\n",
     "Read a scrambled text from standard input and write the plain text to\n"
     "standard output.\n"
     "Both sides are UTF-8 text, taken and written byte for byte: no line ending\n"
     "is added or removed. With --hex both sides are 16-bit units written as\n"
     "hexadecimal numbers separated by white space; the output is 4-digit\n"
     "upper-case numbers separated by single spaces, ended by one line feed.\n"
     "Input that is not valid UTF-8, or holds a zero unit, is refused (exit 2).\n"
     "An unscrambled text that is not valid UTF-16 is not written (exit 1):\n"
     "use --hex to see its units.\n"},
};
constexpr command_form xml_forms[] = {
    {"xml IN [OUT]\n",
     "Load the XML document in the file IN. With OUT, save it to the file OUT;\n"
     "without, print the serialized document to standard output as UTF-8.\n"
     "Exit 0 when it loaded, 1 when loading failed (a document nested deeper\n"
     "than 256 levels is named as such), 2 when IN cannot be read or OUT cannot\n"
     "be written.\n"},
};
constexpr command_form vault_forms[] = {
    {"vault unload-user-bkeys [SID]\n"
     "vault remove-sso-data [SID]\n",
     "Unload the keys, or remove the single-sign-on data, of the user with the\n"
     "security identifier SID (such as S-1-5-21-...); without SID the request\n"
     "names no user.\n"},
    {"vault unload-lkey {GUID}\n",
     "Unload the key whose id is GUID, written in braces.\n"},
    {"vault send-op5\n",
     "Send operation 5, which takes no arguments.\n"},
    {"vault load-lkey --kind N --key HEX --id {GUID} [--text1 TEXT] [--text2 TEXT]\n"
     "               [--key-text TEXT] [--flag]\n",
     "Load a key: kind 0 to 255 (decimal), key data as an even number of\n"
     "hexadecimal digits (may be empty), id in braces, the descriptor's two\n"
     "optional texts, the key's optional text, and the flag (0 without --flag).\n"
     "Each vault command runs one operation of the vault driver and prints its\n"
     "result as 8 upper-case hexadecimal digits and a line feed; exit 0 when the\n"
     "result is not negative, 1 when it is negative; a negative result is also\n"
     "named in words on standard error.\n"},
};
constexpr command_form watch_forms[] = {
    {"watch USER NOTIFICATION... [--count N] [--timeout MS]\n",
     "Wait for the named notifications of USER (an account name such as SYSTEM\n"
     "or DOMAIN\\user) as the service signals them: user_logon, user_logoff,\n"
     "screen_lock, screen_unlock, screen_saver_activated,\n"
     "screen_saver_deactivated, system_shutdown. Prints one line per signal:\n"
     "local time, user, SID, notification. Runs until interrupted; with --count\n"
     "it ends after N signals (exit 0), with --timeout it ends with exit 1 when\n"
     "no signal came within MS milliseconds. An account that does not resolve\n"
     "to a security identifier, or a notification not in the list, is refused\n"
     "(exit 2) before anything waits.\n"},
};
constexpr command_form call_forms[] = {
    {"call NAME [--envelope FILE]\n",
     "Call the function NAME through call_function of the running server (COM\n"
     "starts the service, or the local server, when needed). The envelope is\n"
     "<function name=\"NAME\"/>, or the XML document in FILE with NAME as the\n"
     "name of its function element; it is sent scrambled. Prints ret_code as 8\n"
     "upper-case hexadecimal digits and a line feed, then the unscrambled result\n"
     "as UTF-8 (without its leading U+FEFF). Exit 0 when the call was carried\n"
     "out and ret_code is not negative, 1 otherwise, 2 when FILE cannot be read\n"
     "or the server cannot be reached (the HRESULT goes to standard error).\n"
     "Every status is named in words on standard error. An empty NAME is\n"
     "refused, and FILE is read here first: a document that is not well-formed,\n"
     "is nested deeper than 256 levels or has no top-level function element is\n"
     "refused (exit 2) without a call, as the service would refuse it.\n"},
};
constexpr command_form status_forms[] = {
    {"status [--json]\n",
     "Show whether the service QlnVxCoreService is installed and running (with\n"
     "its process id), whether its start event is signalled, what is registered\n"
     "(AppID and its LocalService value, the class and its server, the type\n"
     "library), the service's program and its version, and whether tracing is\n"
     "on. Exit 0 when the service runs and its start event is signalled,\n"
     "1 otherwise; then one line on standard error says why. With --json the\n"
     "same fields as one JSON object, with the reason.\n"},
};
constexpr command_form trace_forms[] = {
    {"trace on | off\n",
     "Turn the trace switch on or off: EnableUserModeTrace (REG_DWORD) 1 or 0\n"
     "under HKEY_CURRENT_USER\\Software\\Quillon\\Cryvane\\Logging. Every process of\n"
     "the product follows within 3 seconds. Prints whether tracing is on now;\n"
     "off exits 1 when another user's hive still turns it on.\n"},
    {"trace show [--follow] [--process PID] [--file PATH]\n",
     "Print the service's trace file TraceFile.kv as UTF-8 lines, without its\n"
     "byte-order mark and carriage returns. The file is looked for where the\n"
     "service writes it: the system's temporary folders of LocalSystem\n"
     "(%SystemRoot%\\SystemTemp, %SystemRoot%\\Temp) and this user's temporary\n"
     "folder (a service or local server running as this user); the newest one\n"
     "found is read, or PATH. With --process only the lines that process wrote;\n"
     "with --follow, then every line appended, until interrupted (a file that\n"
     "shrinks or is replaced is read from its start). Exit 1 when there is no\n"
     "trace file (the message names the paths looked at and whether tracing is\n"
     "on); --follow waits for it. A trace file the service created admits only\n"
     "its account and the administrators: read it from an elevated prompt.\n"},
};
constexpr command_form doctor_forms[] = {
    {"doctor [--exe PATH] [--json]\n",
     "Check what a working install needs, one line per check: OK, or FAIL with\n"
     "what is wrong and the command that mends it; INFO for the trace switch.\n"
     "The checks: the executable (and its version), the signatures of it and of\n"
     "rxctl.exe (WinVerifyTrust: OK signed and intact, FAIL altered or not\n"
     "trusted, INFO unsigned; under Wine only the image hash is checked and any\n"
     "certificate is trusted), the service's configuration (own process,\n"
     "LocalSystem, its path), the AppID and its LocalService value, the class\n"
     "and the ProgIDs pointing at the executable, the type library, the\n"
     "event-log source (its message file is the executable, TypesSupported 7,\n"
     "message 0 formats; the package registers it), the manager\n"
     "component's class, the vault device, the service running, its start event.\n"
     "The executable is PATH, else KvRxCoreService.exe beside rxctl.exe, else the\n"
     "one the service runs. A mend names only the product's own program\n"
     "(KvRxCoreService.exe -Service) or a reinstall of the package. Exit 0 when\n"
     "every check is OK, 1 otherwise. With --json the checks as one JSON object.\n"},
};
constexpr command_form help_forms[] = {
    {"help [COMMAND]\n",
     "Show this text, or the usage of COMMAND. --help, -h or /? anywhere after\n"
     "a command shows that command's usage and does nothing else. Commands and\n"
     "options are matched without regard to case; an option --name may also be\n"
     "written /name.\n"},
};

constexpr command_form version_forms[] = {
    {"--version\n",
     "Print rxctl's file version from its version resource; exit 1, saying so,\n"
     "when it carries none.\n"},
};

constexpr option_spec hex_option[] = {{"--hex", false}};
constexpr option_spec vault_options[] = {{"--kind", true},  {"--key", true},      {"--id", true}, {"--text1", true},
                                         {"--text2", true}, {"--key-text", true}, {"--flag", false}};
constexpr option_spec watch_options[] = {{"--count", true}, {"--timeout", true}};
constexpr option_spec call_options[] = {{"--envelope", true}};
constexpr option_spec status_options[] = {{"--json", false}};
constexpr option_spec trace_options[] = {{"--follow", false}, {"--process", true}, {"--file", true}};
constexpr option_spec doctor_options[] = {{"--exe", true}, {"--json", false}};

int run_scramble(int argc, wchar_t** argv) { return run_scramble_command(argc, argv, true); }
int run_unscramble(int argc, wchar_t** argv) { return run_scramble_command(argc, argv, false); }

// In the order --help shows them.
const command_spec commands[] = {
    {"scramble", scramble_forms, hex_option, run_scramble},
    {"unscramble", unscramble_forms, hex_option, run_unscramble},
    {"xml", xml_forms, {}, run_xml_command},
    {"vault", vault_forms, vault_options, run_vault_command},
    {"watch", watch_forms, watch_options, run_watch_command},
    {"call", call_forms, call_options, run_call_command},
    {"status", status_forms, status_options, run_status_command},
    {"trace", trace_forms, trace_options, run_trace_command},
    {"doctor", doctor_forms, doctor_options, run_doctor_command},
};
constexpr command_spec help_entry = {"help", help_forms, {}, nullptr};
constexpr command_spec version_entry = {"--version", version_forms, {}, nullptr};

constexpr char help_head[] = "usage: rxctl COMMAND [ARGUMENTS]\n\nCommands:\n";
constexpr char help_tail[] = "\nExit codes: 0 success, 1 operation failed, 2 usage or I/O error.\n";

// Each line of `lines` after `indent`.
std::string indent_lines(const char* lines, const char* indent) {
    std::string out;
    bool at_start = true;
    for (const char* p = lines; *p != 0; ++p) {
        if (at_start) out += indent;
        out += *p;
        at_start = *p == '\n';
    }
    return out;
}

const command_spec* entry_of(std::string_view name) {
    for (const command_spec& entry : commands) {
        if (name == entry.name) return &entry;
    }
    if (name == version_entry.name) return &version_entry;
    return name == help_entry.name ? &help_entry : nullptr;
}

// "usage: rxctl FORM" for the first line, "       rxctl FORM" for the next forms.
std::string synopsis_lines(const command_spec& entry) {
    std::string text;
    for (const command_form& form : entry.forms) {
        for (std::string_view line = form.synopsis; !line.empty();) {
            const std::size_t end = line.find('\n') + 1;
            const bool continued = line.front() == ' ';
            text += continued ? "             " : text.empty() ? "usage: rxctl " : "       rxctl ";
            text += line.substr(0, end);
            line.remove_prefix(end);
        }
    }
    return text;
}

}  // namespace

const command_spec* find_command(const wchar_t* word) {
    for (const command_spec& entry : commands) {
        if (argument_is(word, entry.name)) return &entry;
    }
    return nullptr;
}

bool is_help_request(const wchar_t* argument) {
    return argument_is(argument, "--help") || argument_is(argument, "-h") || argument_is(argument, "/?");
}

std::string rxctl_help_text() {
    std::string text = help_head;
    auto add = [&text](const command_spec& entry) {
        for (const command_form& form : entry.forms) {
            text += indent_lines(form.synopsis, "  ");
            text += indent_lines(form.description, "      ");
        }
    };
    for (const command_spec& entry : commands) add(entry);
    add(version_entry);
    add(help_entry);
    return text + help_tail;
}

std::string command_synopsis(std::string_view command) {
    const command_spec* entry = entry_of(command);
    if (entry == nullptr || entry->forms.empty()) return "rxctl " + std::string(command);
    const std::string_view synopsis = entry->forms.front().synopsis;
    return "rxctl " + std::string(synopsis.substr(0, synopsis.find('\n')));
}

std::string command_usage(std::string_view command) {
    const command_spec* entry = entry_of(command);
    if (entry == nullptr) return {};
    std::string text = synopsis_lines(*entry);
    for (const command_form& form : entry->forms) text += indent_lines(form.description, "         ");
    return text;
}

int usage_error(std::string_view command, const std::string& message) {
    const command_spec* entry = entry_of(command);
    const std::string usage = entry ? synopsis_lines(*entry) : std::string();
    write_standard_error("rxctl " + std::string(command) + ": " + message + "\n" + usage + "run 'rxctl help " +
                         std::string(command) + "' for what it does\n");
    return exit_usage_or_io;
}
