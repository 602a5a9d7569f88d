#include "service/registration_verb.h"

#include <cstddef>

namespace {

struct verb_spelling {
    const wchar_t* text;
    registration_verb verb;
};

// Looked for first, in this order; the first token naming any of them decides.
constexpr verb_spelling server_verbs[] = {
    {L"UnregServer", registration_verb::unreg_server},
    {L"RegServer", registration_verb::reg_server},
    {L"UnregServerPerUser", registration_verb::unreg_server_per_user},
    {L"RegServerPerUser", registration_verb::reg_server_per_user},
};
constexpr verb_spelling service_verbs[] = {
    {L"Service", registration_verb::service},
};

// ASCII only: a letter outside ASCII must never turn a token into a verb.
constexpr wchar_t upper(wchar_t c) noexcept {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

constexpr bool ends_token(wchar_t c) noexcept { return c == L'\0' || c == L' ' || c == L'\t'; }

bool token_names(const wchar_t* token, const wchar_t* verb) noexcept {
    for (; !ends_token(*token); ++token, ++verb)
        if (*verb == L'\0' || upper(*token) != upper(*verb)) return false;
    return *verb == L'\0';
}

template <std::size_t N>
registration_verb first_token_naming(const wchar_t* line, const verb_spelling (&verbs)[N]) noexcept {
    for (const wchar_t* at = line; *at != L'\0'; ++at) {
        if (*at != L'-' && *at != L'/') continue;
        for (const verb_spelling& candidate : verbs)
            if (token_names(at + 1, candidate.text)) return candidate.verb;
    }
    return registration_verb::none;
}

// The length of `prefix` when `text` begins with it, letter case ignored, and the path ends
// there; 0 otherwise.
std::size_t path_prefix_length(const wchar_t* text, const wchar_t* prefix) noexcept {
    if (prefix == nullptr || *prefix == L'\0') return 0;
    std::size_t at = 0;
    for (; prefix[at] != L'\0'; ++at)
        if (upper(text[at]) != upper(prefix[at])) return 0;
    return ends_token(text[at]) ? at : 0;
}

}  // namespace

const wchar_t* after_program_path(const wchar_t* line, const wchar_t* program_path) noexcept {
    while (*line == L' ' || *line == L'\t') ++line;
    if (*line == L'"') {
        ++line;
        while (*line != L'\0' && *line != L'"') ++line;
        return *line == L'"' ? line + 1 : line;
    }
    if (const std::size_t length = path_prefix_length(line, program_path)) return line + length;
    while (!ends_token(*line)) ++line;
    return line;
}

registration_verb find_registration_verb(const wchar_t* command_line, const wchar_t* program_path) noexcept {
    if (command_line == nullptr) return registration_verb::none;
    const wchar_t* const arguments = after_program_path(command_line, program_path);
    const registration_verb verb = first_token_naming(arguments, server_verbs);
    return verb != registration_verb::none ? verb : first_token_naming(arguments, service_verbs);
}
