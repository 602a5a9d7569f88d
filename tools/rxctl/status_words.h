#pragma once
// Statuses in words for rxctl's messages: the code stays (scripts read it) and the
// platform's text for it follows, or the product's own meaning where the service defines
// one. Messages go to standard error.
#include <cstdint>
#include <string>

// "error 3: The system cannot find the path specified." (the system's text, when it has one).
std::string error_words(unsigned long error);

// "80070006 (The handle is invalid.)": 8 upper-case hexadecimal digits, then the client
// library's name and meaning for the statuses a client meets, else the system's text.
std::string hresult_words(std::int32_t status);
