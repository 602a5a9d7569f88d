#pragma once
// rxctl command entry points. Each takes the arguments after the command word and
// returns the process exit code (0 success, 1 operation failed, 2 usage or I/O error).
int run_scramble_command(int argc, wchar_t** argv, bool scramble);
int run_xml_command(int argc, wchar_t** argv);
int run_vault_command(int argc, wchar_t** argv);
int run_watch_command(int argc, wchar_t** argv);
int run_call_command(int argc, wchar_t** argv);
int run_status_command(int argc, wchar_t** argv);
