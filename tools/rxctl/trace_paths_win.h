#pragma once
// Where the service's trace file lies: the trace writer puts TraceFile.kv into the
// temporary folder of the process that writes it. For the service as LocalSystem that is
// the system's (%SystemRoot%\SystemTemp on newer Windows, %SystemRoot%\Temp before); for a
// service or local server running as the caller's user (as under the test bed) it is the
// caller's own. `rxctl trace show` reads from there and `rxctl doctor` names the same paths.
#include <string>
#include <vector>

// The paths in the order above, without duplicates; those that cannot be made are left out.
std::vector<std::wstring> trace_file_candidates();

// The most recently written of the candidates that exist; empty when none does.
std::wstring newest_trace_file(const std::vector<std::wstring>& candidates);

// "A, B or C" for messages.
std::string listed_paths(const std::vector<std::wstring>& paths);
