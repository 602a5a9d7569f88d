#pragma once
// The registration verbs of the command line. Platform-free: the command line is text the
// caller hands over, and nothing here touches the system.
//
// A token starts after every '-' or '/' anywhere in the line (the program path included)
// and ends at the end of the line, a space or a tab. A token names a verb when it spells
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

// The verb the command line selects; none for a null line.
registration_verb find_registration_verb(const wchar_t* command_line) noexcept;

// True for the two per-user verbs, whose keys go under the current user's classes.
constexpr bool is_per_user(registration_verb verb) noexcept {
    return verb == registration_verb::unreg_server_per_user ||
           verb == registration_verb::reg_server_per_user;
}
