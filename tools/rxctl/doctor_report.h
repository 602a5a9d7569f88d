#pragma once
// The lines of rxctl doctor: one per check, its verdict first, so a script can grep them
// and a person reads what is wrong and how to mend it. Platform-free.
//   "OK    NAME: DETAIL"
//   "FAIL  NAME: PROBLEM; PROBLEM...; mend: COMMAND"
//   "INFO  NAME: DETAIL"
#include <string>
#include <vector>

namespace doctor {

enum class verdict { ok, fail, info };

struct check {
    verdict result = verdict::ok;
    std::string name;
    std::string detail;                 // ok, info: what was found
    std::vector<std::string> problems;  // fail: each thing that is wrong
    std::string mend;                   // fail: the command that mends it

    // Adds a problem (and makes the check fail).
    void problem(std::string text) {
        result = verdict::fail;
        problems.push_back(std::move(text));
    }
};

// The check's line, ended by a line feed.
std::string line_of(const check& c);

// True when no check failed (informational ones never do).
bool all_passed(const std::vector<check>& checks);

// The checks as one JSON object for scripts, with the fields of the lines:
// {"passed":BOOL,"checks":[{"verdict":"OK|FAIL|INFO","name":..,"detail":..,
// "problems":[..],"mend":..}, ...]} (detail for OK and INFO, problems and mend for FAIL).
std::string json_of(const std::vector<check>& checks);

}  // namespace doctor
