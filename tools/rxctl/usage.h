#pragma once
// The one source of rxctl's usage texts: --help shows all of them, and a command's
// usage error shows the part of its own command.
#include <string>
#include <string_view>

#include "tools/rxctl/commands.h"

// Everything --help prints: every command, its forms and what it does, and the exit codes.
std::string rxctl_help_text();

// "rxctl COMMAND ..." on one line: the first form of the command.
std::string command_synopsis(std::string_view command);

// The forms of one command ("usage: rxctl ...", one line each) and their descriptions.
std::string command_usage(std::string_view command);

// Writes "rxctl COMMAND: MESSAGE" and the command's usage to standard error; returns
// exit_usage_or_io.
int usage_error(std::string_view command, const std::string& message);
