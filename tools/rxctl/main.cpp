// rxctl: the product's command-line tool. Each command lives in its own file; this one
// picks the command, prints the usage and hands over the remaining arguments.
#include "tools/rxctl/commands.h"
#include "tools/rxctl/console_io.h"
#include "tools/rxctl/usage.h"

#include <string>

namespace {

bool is_help(const wchar_t* word) {
    return argument_is(word, "--help") || argument_is(word, "-h") || argument_is(word, "/?") ||
           argument_is(word, "help");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        write_standard_error(rxctl_help_text());
        return exit_usage_or_io;
    }
    const wchar_t* command = argv[1];
    const int rest_count = argc - 2;
    wchar_t** rest = argv + 2;
    if (is_help(command)) {
        unsigned long error = 0;
        return write_standard_output(rxctl_help_text(), error) ? exit_success : exit_usage_or_io;
    }
    if (argument_is(command, "scramble")) return run_scramble_command(rest_count, rest, true);
    if (argument_is(command, "unscramble")) return run_scramble_command(rest_count, rest, false);
    if (argument_is(command, "xml")) return run_xml_command(rest_count, rest);
    if (argument_is(command, "vault")) return run_vault_command(rest_count, rest);
    if (argument_is(command, "watch")) return run_watch_command(rest_count, rest);
    if (argument_is(command, "call")) return run_call_command(rest_count, rest);
    if (argument_is(command, "status")) return run_status_command(rest_count, rest);
    if (argument_is(command, "trace")) return run_trace_command(rest_count, rest);
    if (argument_is(command, "doctor")) return run_doctor_command(rest_count, rest);
    write_standard_error("rxctl: unknown command '" + argument_text(command) +
                         "'; run 'rxctl --help' for the list of commands\n");
    return exit_usage_or_io;
}
