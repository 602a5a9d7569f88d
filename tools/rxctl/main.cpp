// rxctl: the product's command-line tool. Each command lives in its own file; this one
// picks the command, prints the usage and hands over the remaining arguments.
#include "tools/rxctl/commands.h"
#include "tools/rxctl/console_io.h"

#include <string>

namespace {

// Scripts read this text: change it only by adding to it.
constexpr char usage_text[] =
    "usage: rxctl COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  scramble [--hex]\n"
    "      Read a plain text from standard input and write its scrambled form to\n"
    "      standard output.\n"
    "  unscramble [--hex]\n"
    "      Read a scrambled text from standard input and write the plain text to\n"
    "      standard output.\n"
    "      Both sides are UTF-8 text, taken and written byte for byte: no line ending\n"
    "      is added or removed. With --hex both sides are 16-bit units written as\n"
    "      hexadecimal numbers separated by white space; the output is 4-digit\n"
    "      upper-case numbers separated by single spaces, ended by one line feed.\n"
    "      Input that is not valid UTF-8, or holds a zero unit, is refused (exit 2).\n"
    "      An unscrambled text that is not valid UTF-16 is not written (exit 1):\n"
    "      use --hex to see its units.\n"
    "  xml IN [OUT]\n"
    "      Load the XML document in the file IN. With OUT, save it to the file OUT;\n"
    "      without, print the serialized document to standard output as UTF-8.\n"
    "      Exit 0 when it loaded, 1 when loading (or saving) failed.\n"
    "  vault unload-user-bkeys [SID]\n"
    "  vault remove-sso-data [SID]\n"
    "      Unload the keys, or remove the single-sign-on data, of the user with the\n"
    "      security identifier SID (such as S-1-5-21-...); without SID the request\n"
    "      names no user.\n"
    "  vault unload-lkey {GUID}\n"
    "      Unload the key whose id is GUID, written in braces.\n"
    "  vault send-op5\n"
    "      Send operation 5, which takes no arguments.\n"
    "  vault load-lkey --kind N --key HEX --id {GUID} [--text1 TEXT] [--text2 TEXT]\n"
    "                 [--key-text TEXT] [--flag]\n"
    "      Load a key: kind 0 to 255 (decimal), key data as an even number of\n"
    "      hexadecimal digits (may be empty), id in braces, the descriptor's two\n"
    "      optional texts, the key's optional text, and the flag (0 without --flag).\n"
    "      Each vault command runs one operation of the vault driver and prints its\n"
    "      result as 8 upper-case hexadecimal digits and a line feed; exit 0 when the\n"
    "      result is not negative, 1 when it is negative.\n"
    "  watch USER NOTIFICATION... [--count N] [--timeout MS]\n"
    "      Wait for the named notifications of USER (an account name such as SYSTEM\n"
    "      or DOMAIN\\user) as the service signals them: user_logon, user_logoff,\n"
    "      screen_lock, screen_unlock, screen_saver_activated,\n"
    "      screen_saver_deactivated, system_shutdown. Prints one line per signal:\n"
    "      local time, user, SID, notification. Runs until interrupted; with --count\n"
    "      it ends after N signals (exit 0), with --timeout it ends with exit 1 when\n"
    "      no signal came within MS milliseconds.\n"
    "  call NAME [--envelope FILE]\n"
    "      Call the function NAME through call_function of the running server (COM\n"
    "      starts the service, or the local server, when needed). The envelope is\n"
    "      <function name=\"NAME\"/>, or the XML document in FILE with NAME as the\n"
    "      name of its function element; it is sent scrambled. Prints ret_code as 8\n"
    "      upper-case hexadecimal digits and a line feed, then the unscrambled result\n"
    "      as UTF-8 (without its leading U+FEFF). Exit 0 when the call was carried\n"
    "      out and ret_code is not negative, 1 otherwise, 2 when FILE cannot be read\n"
    "      or the server cannot be reached (the HRESULT goes to standard error).\n"
    "  status\n"
    "      Show whether the service QlnVxCoreService is installed and running (with\n"
    "      its process id), whether its start event is signalled, what is registered\n"
    "      (AppID and its LocalService value, the class and its server, the type\n"
    "      library) and whether tracing is on. Exit 0 when the service runs and its\n"
    "      start event is signalled, 1 otherwise.\n"
    "  --help\n"
    "      Show this text.\n"
    "\n"
    "Exit codes: 0 success, 1 operation failed, 2 usage or I/O error.\n";

bool is_help(const wchar_t* word) {
    return argument_is(word, "--help") || argument_is(word, "-h") || argument_is(word, "/?") ||
           argument_is(word, "help");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        write_standard_error(usage_text);
        return 2;
    }
    const wchar_t* command = argv[1];
    const int rest_count = argc - 2;
    wchar_t** rest = argv + 2;
    if (is_help(command)) {
        unsigned long error = 0;
        return write_standard_output(usage_text, error) ? 0 : 2;
    }
    if (argument_is(command, "scramble")) return run_scramble_command(rest_count, rest, true);
    if (argument_is(command, "unscramble")) return run_scramble_command(rest_count, rest, false);
    if (argument_is(command, "xml")) return run_xml_command(rest_count, rest);
    if (argument_is(command, "vault")) return run_vault_command(rest_count, rest);
    if (argument_is(command, "watch")) return run_watch_command(rest_count, rest);
    if (argument_is(command, "call")) return run_call_command(rest_count, rest);
    if (argument_is(command, "status")) return run_status_command(rest_count, rest);
    write_standard_error("rxctl: unknown command '" + argument_text(command) +
                         "'; run 'rxctl --help' for the list of commands\n");
    return 2;
}
