#pragma once
// rxctl command entry points. Each takes the arguments after the command word and
// returns the process exit code, one of rxctl_exit.

// The exit codes of every rxctl command (the --help text lists them).
enum rxctl_exit : int {
    exit_success = 0,           // the operation was carried out and succeeded
    exit_operation_failed = 1,  // the operation ran and failed (or reported failure)
    exit_usage_or_io = 2,       // bad arguments, unreadable input, unwritable output
};

int run_scramble_command(int argc, wchar_t** argv, bool scramble);
int run_xml_command(int argc, wchar_t** argv);
int run_vault_command(int argc, wchar_t** argv);
int run_watch_command(int argc, wchar_t** argv);
int run_call_command(int argc, wchar_t** argv);
int run_status_command(int argc, wchar_t** argv);
int run_trace_command(int argc, wchar_t** argv);
int run_doctor_command(int argc, wchar_t** argv);
