#pragma once
// The registration verbs of the command line. Platform-free: the command line is text the
// caller hands over, and nothing here touches the system.
//
// The line begins with the program's own path, which is never searched: a folder may be
// called "C:\kv -Service tree". A token starts after every '-' or '/' in the rest of the
// line and ends at the end of the line, a space or a tab. A token names a verb when it spells
// it letter by letter, case ignored (ASCII letters only), and ends where the verb ends.
// The tokens are compared, left to right, with the four server verbs first; only when
// none of them names one is "Service" looked for. Any other text is ignored.

enum class registration_verb {
    none,                   // no verb: the program runs
    unreg_server,           // "UnregServer"
    reg_server,             // "RegServer"
    unreg_server_per_user,  // "UnregServerPerUser"
    reg_server_per_user,    // "RegServerPerUser"
    service,                // "Service"
};

// The verb the command line selects; none for a null line. The program's path at the
// start of the line ends at its closing double quote when it is quoted; unquoted, it is
// `program_path` when the line begins with it (letter case ignored) and else ends at the
// first space or tab.
registration_verb find_registration_verb(const wchar_t* command_line, const wchar_t* program_path = nullptr) noexcept;

// Where the arguments begin: just after the program's path (see above).
const wchar_t* after_program_path(const wchar_t* command_line, const wchar_t* program_path) noexcept;

// True for the two per-user verbs, whose keys go under the current user's classes.
constexpr bool is_per_user(registration_verb verb) noexcept {
    return verb == registration_verb::unreg_server_per_user ||
           verb == registration_verb::reg_server_per_user;
}
