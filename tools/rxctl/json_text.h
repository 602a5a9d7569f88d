#pragma once
// JSON for rxctl's --json outputs, which fleet tools read instead of the text lines.
// Platform-free.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// `text` (UTF-8) as a JSON string, quotes included: '"', '\' and the control characters
// escaped, every other byte as it is.
std::string json_string(std::string_view text);

// A JSON object on one line, ended by a line feed, of members whose values are JSON
// already (json_string, "true", an array ...), in the order given.
std::string json_object(const std::vector<std::pair<std::string, std::string>>& members);

// A JSON array of values that are JSON already.
std::string json_array(const std::vector<std::string>& values);
