#include "tools/rxctl/doctor_report.h"

namespace doctor {

std::string line_of(const check& c) {
    switch (c.result) {
    case verdict::ok: return "OK    " + c.name + ": " + c.detail + "\n";
    case verdict::info: return "INFO  " + c.name + ": " + c.detail + "\n";
    case verdict::fail: break;
    }
    std::string line = "FAIL  " + c.name + ": ";
    for (std::size_t i = 0; i < c.problems.size(); ++i) line += (i == 0 ? "" : "; ") + c.problems[i];
    if (!c.mend.empty()) line += "; mend: " + c.mend;
    return line + "\n";
}

bool all_passed(const std::vector<check>& checks) {
    for (const check& c : checks) {
        if (c.result == verdict::fail) return false;
    }
    return true;
}

}  // namespace doctor
