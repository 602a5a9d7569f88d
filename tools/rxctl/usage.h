#pragma once
// rxctl's one table of commands: each command's name, its usage forms, its options and its
// handler. The parsing (which command, the case rule, the `/name` option form, help
// anywhere in the arguments), the overview, each command's own help and the usage errors
// all come from it.
#include <span>
#include <string>
#include <string_view>

#include "tools/rxctl/commands.h"

// An option of a command, written "--name"; it is also taken as "/name", and without
// regard to case. `takes_value`: the next argument is its value, taken as it stands.
struct option_spec {
    const char* name;
    bool takes_value;
};

// One usage form: the synopsis lines (a line that starts with blanks continues the one
// before) and the description.
struct command_form {
    const char* synopsis;
    const char* description;
};

struct command_spec {
    const char* name;
    std::span<const command_form> forms;
    std::span<const option_spec> options;
    int (*run)(int argc, wchar_t** argv);  // the arguments after the command word
};

// The command named `word` (matched without regard to case), or null.
const command_spec* find_command(const wchar_t* word);

// Whether the argument asks for help: --help, -h or /? (any case).
bool is_help_request(const wchar_t* argument);

// Everything --help prints: every command, its forms and what it does, and the exit codes.
std::string rxctl_help_text();

// "rxctl COMMAND ..." on one line: the first form of the command.
std::string command_synopsis(std::string_view command);

// The forms of one command ("usage: rxctl ...", one line each) and their descriptions:
// what `rxctl help COMMAND` and `rxctl COMMAND --help` print.
std::string command_usage(std::string_view command);

// Writes "rxctl COMMAND: MESSAGE", the command's usage lines and where its help is to
// standard error; returns exit_usage_or_io.
int usage_error(std::string_view command, const std::string& message);
