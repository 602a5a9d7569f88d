// rxctl: the product's command-line tool. Each command lives in its own file; this one
// reads the command table (usage.h): picks the command, answers a request for help
// without running anything, writes each option in its one form and hands over the rest.
#include "foundation/module_path_win.h"
#include "tools/rxctl/commands.h"
#include "tools/rxctl/console_io.h"
#include "tools/rxctl/file_version_win.h"
#include "tools/rxctl/status_words.h"
#include "tools/rxctl/usage.h"

#include <string>
#include <vector>

namespace {

int print(const std::string& text) {
    unsigned long error = 0;
    return write_standard_output(text, error) ? exit_success : exit_usage_or_io;
}

int unknown_command(const wchar_t* word) {
    write_standard_error("rxctl: unknown command '" + argument_text(word) +
                         "'; run 'rxctl --help' for the list of commands\n");
    return exit_usage_or_io;
}

// `rxctl help [COMMAND]`, `rxctl --help`: the overview, or one command's usage.
int help(int argc, wchar_t** argv) {
    if (argc == 0) return print(rxctl_help_text());
    const command_spec* command = find_command(argv[0]);
    if (command == nullptr) return unknown_command(argv[0]);
    if (argc > 1) return usage_error("help", "unexpected argument '" + argument_text(argv[1]) + "'");
    return print(command_usage(command->name));
}

// `rxctl --version`: the file version from rxctl.exe's own VERSIONINFO resource.
int version() {
    const std::wstring self = module_file_path();
    std::string text;
    unsigned long error = 0;
    switch (read_file_version(self, text, error)) {
    case file_version_status::found: return print("rxctl " + text + "\n");
    case file_version_status::no_resource:
        write_standard_error("rxctl: no version resource in " + utf8_text(self.c_str()) + "\n");
        return exit_operation_failed;
    case file_version_status::unreadable: break;
    }
    write_standard_error("rxctl: cannot read the version of " + utf8_text(self.c_str()) + " (" + error_words(error) +
                         ")\n");
    return exit_operation_failed;
}

// The option of `command` that `argument` names as --name or /name, any case, or null.
const option_spec* option_named(const command_spec& command, const wchar_t* argument) {
    if (argument[0] != L'/' && !(argument[0] == L'-' && argument[1] == L'-')) return nullptr;
    const wchar_t* name = argument[0] == L'/' ? argument + 1 : argument + 2;
    for (const option_spec& option : command.options) {
        if (argument_is(name, option.name + 2)) return &option;
    }
    return nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        write_standard_error(rxctl_help_text());
        return exit_usage_or_io;
    }
    const wchar_t* word = argv[1];
    if (is_help_request(word) || argument_is(word, "help")) return help(argc - 2, argv + 2);
    if (argument_is(word, "--version") || argument_is(word, "/version")) {
        if (argc > 2) return usage_error("--version", "unexpected argument '" + argument_text(argv[2]) + "'");
        return version();
    }
    const command_spec* command = find_command(word);
    if (command == nullptr) return unknown_command(word);

    std::vector<std::wstring> canonical;  // the options as the commands read them
    canonical.reserve(static_cast<std::size_t>(argc));
    std::vector<wchar_t*> rest;
    for (int i = 2; i < argc; ++i) {
        if (is_help_request(argv[i])) return print(command_usage(command->name));
        rest.push_back(argv[i]);
    }
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const option_spec* option = option_named(*command, rest[i]);
        if (option == nullptr) continue;
        canonical.emplace_back(option->name, option->name + std::char_traits<char>::length(option->name));
        rest[i] = canonical.back().data();
        if (option->takes_value) ++i;  // a value is taken as it stands
    }
    rest.push_back(nullptr);
    return command->run(static_cast<int>(rest.size() - 1), rest.data());
}
