#include "tools/rxctl/usage.h"

#include "tools/rxctl/console_io.h"

namespace {

// One entry per form of a command, in the order --help shows them: the command word,
// the synopsis lines (a line that starts with blanks continues the one before) and the
// description. Scripts read --help: change these texts only by adding to them.
struct command_help {
    const char* command;
    const char* synopsis;
    const char* description;
};

constexpr command_help commands[] = {
    {"scramble",
     "scramble [--hex]\n",
     "Read a plain text from standard input and write its scrambled form to\n"
     "standard output.\n"},
    {"unscramble",
     "unscramble [--hex]\n",
     "Read a scrambled text from standard input and write the plain text to\n"
     "standard output.\n"
     "Both sides are UTF-8 text, taken and written byte for byte: no line ending\n"
     "is added or removed. With --hex both sides are 16-bit units written as\n"
     "hexadecimal numbers separated by white space; the output is 4-digit\n"
     "upper-case numbers separated by single spaces, ended by one line feed.\n"
     "Input that is not valid UTF-8, or holds a zero unit, is refused (exit 2).\n"
     "An unscrambled text that is not valid UTF-16 is not written (exit 1):\n"
     "use --hex to see its units.\n"},
    {"xml",
     "xml IN [OUT]\n",
     "Load the XML document in the file IN. With OUT, save it to the file OUT;\n"
     "without, print the serialized document to standard output as UTF-8.\n"
     "Exit 0 when it loaded, 1 when loading (or saving) failed.\n"},
    {"vault",
     "vault unload-user-bkeys [SID]\n"
     "vault remove-sso-data [SID]\n",
     "Unload the keys, or remove the single-sign-on data, of the user with the\n"
     "security identifier SID (such as S-1-5-21-...); without SID the request\n"
     "names no user.\n"},
    {"vault",
     "vault unload-lkey {GUID}\n",
     "Unload the key whose id is GUID, written in braces.\n"},
    {"vault",
     "vault send-op5\n",
     "Send operation 5, which takes no arguments.\n"},
    {"vault",
     "vault load-lkey --kind N --key HEX --id {GUID} [--text1 TEXT] [--text2 TEXT]\n"
     "               [--key-text TEXT] [--flag]\n",
     "Load a key: kind 0 to 255 (decimal), key data as an even number of\n"
     "hexadecimal digits (may be empty), id in braces, the descriptor's two\n"
     "optional texts, the key's optional text, and the flag (0 without --flag).\n"
     "Each vault command runs one operation of the vault driver and prints its\n"
     "result as 8 upper-case hexadecimal digits and a line feed; exit 0 when the\n"
     "result is not negative, 1 when it is negative.\n"},
    {"watch",
     "watch USER NOTIFICATION... [--count N] [--timeout MS]\n",
     "Wait for the named notifications of USER (an account name such as SYSTEM\n"
     "or DOMAIN\\user) as the service signals them: user_logon, user_logoff,\n"
     "screen_lock, screen_unlock, screen_saver_activated,\n"
     "screen_saver_deactivated, system_shutdown. Prints one line per signal:\n"
     "local time, user, SID, notification. Runs until interrupted; with --count\n"
     "it ends after N signals (exit 0), with --timeout it ends with exit 1 when\n"
     "no signal came within MS milliseconds.\n"},
    {"call",
     "call NAME [--envelope FILE]\n",
     "Call the function NAME through call_function of the running server (COM\n"
     "starts the service, or the local server, when needed). The envelope is\n"
     "<function name=\"NAME\"/>, or the XML document in FILE with NAME as the\n"
     "name of its function element; it is sent scrambled. Prints ret_code as 8\n"
     "upper-case hexadecimal digits and a line feed, then the unscrambled result\n"
     "as UTF-8 (without its leading U+FEFF). Exit 0 when the call was carried\n"
     "out and ret_code is not negative, 1 otherwise, 2 when FILE cannot be read\n"
     "or the server cannot be reached (the HRESULT goes to standard error).\n"},
    {"status",
     "status\n",
     "Show whether the service QlnVxCoreService is installed and running (with\n"
     "its process id), whether its start event is signalled, what is registered\n"
     "(AppID and its LocalService value, the class and its server, the type\n"
     "library) and whether tracing is on. Exit 0 when the service runs and its\n"
     "start event is signalled, 1 otherwise.\n"},
    {"trace",
     "trace on | off\n",
     "Turn the trace switch on or off: EnableUserModeTrace (REG_DWORD) 1 or 0\n"
     "under HKEY_CURRENT_USER\\Software\\Quillon\\Cryvane\\Logging. Every process of\n"
     "the product follows within 3 seconds. Prints whether tracing is on now;\n"
     "off exits 1 when another user's hive still turns it on.\n"},
    {"trace",
     "trace show [--follow] [--process PID] [--file PATH]\n",
     "Print the trace file TraceFile.kv of this user's temporary-files directory\n"
     "(or PATH) as UTF-8 lines, without its byte-order mark and carriage returns.\n"
     "With --process only the lines that process wrote; with --follow, then\n"
     "every line appended, until interrupted (a file that shrinks or is replaced\n"
     "is read from its start). A service running as LocalSystem writes into the\n"
     "system's temporary directory, usually %SystemRoot%\\Temp: name it with --file.\n"
     "Exit 1 when there is no trace file (without --follow, which waits for it).\n"},
    {"doctor",
     "doctor [--exe PATH]\n",
     "Check what a working install needs, one line per check: OK, or FAIL with\n"
     "what is wrong and the command that mends it; INFO for the trace switch.\n"
     "The checks: the executable, the service's configuration (own process,\n"
     "LocalSystem, its path), the AppID and its LocalService value, the class\n"
     "and the ProgIDs pointing at the executable, the type library, the manager\n"
     "component's class, the vault device, the service running, its start event.\n"
     "The executable is PATH, else KvRxCoreService.exe beside rxctl.exe, else the\n"
     "one the service runs. Exit 0 when every check is OK, 1 otherwise.\n"},
    {"--help",
     "--help\n",
     "Show this text.\n"},
};

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

bool is_command(const command_help& entry, std::string_view command) { return command == entry.command; }

}  // namespace

std::string rxctl_help_text() {
    std::string text = help_head;
    for (const command_help& entry : commands) {
        text += indent_lines(entry.synopsis, "  ");
        text += indent_lines(entry.description, "      ");
    }
    return text + help_tail;
}

std::string command_synopsis(std::string_view command) {
    for (const command_help& entry : commands) {
        if (!is_command(entry, command)) continue;
        const std::string_view synopsis = entry.synopsis;
        return "rxctl " + std::string(synopsis.substr(0, synopsis.find('\n')));
    }
    return "rxctl " + std::string(command);
}

std::string command_usage(std::string_view command) {
    std::string text;
    for (const command_help& entry : commands) {
        if (!is_command(entry, command)) continue;
        for (std::string_view line = entry.synopsis; !line.empty();) {
            const std::size_t end = line.find('\n') + 1;
            const bool continued = line.front() == ' ';
            text += continued ? "             " : text.empty() ? "usage: rxctl " : "       rxctl ";
            text += line.substr(0, end);
            line.remove_prefix(end);
        }
        text += indent_lines(entry.description, "         ");
    }
    return text;
}

int usage_error(std::string_view command, const std::string& message) {
    write_standard_error("rxctl " + std::string(command) + ": " + message + "\n" + command_usage(command));
    return exit_usage_or_io;
}
