#include "tools/rxctl/doctor_report.h"

#include "tools/rxctl/json_text.h"

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

std::string json_of(const std::vector<check>& checks) {
    std::vector<std::string> entries;
    for (const check& c : checks) {
        std::vector<std::pair<std::string, std::string>> fields;
        const char* verdict_word = c.result == verdict::ok ? "OK" : c.result == verdict::info ? "INFO" : "FAIL";
        fields.emplace_back("verdict", json_string(verdict_word));
        fields.emplace_back("name", json_string(c.name));
        if (c.result != verdict::fail) {
            fields.emplace_back("detail", json_string(c.detail));
        } else {
            std::vector<std::string> problems;
            for (const std::string& problem : c.problems) problems.push_back(json_string(problem));
            fields.emplace_back("problems", json_array(problems));
            fields.emplace_back("mend", json_string(c.mend));
        }
        std::string entry = json_object(fields);
        entry.pop_back();  // the line feed ends only the whole object
        entries.push_back(entry);
    }
    return json_object({{"passed", all_passed(checks) ? "true" : "false"}, {"checks", json_array(entries)}});
}

}  // namespace doctor
