#pragma once
// Standard streams and arguments of rxctl. The streams are raw bytes: no text-mode
// translation, no code page, so what a script pipes in is what a command sees and what
// it writes is exact. Implemented in console_io_win.cpp.
#include <string>
#include <string_view>

// Reads standard input to its end; a missing standard input reads as empty.
// On failure returns false with the system error code.
bool read_standard_input(std::string& bytes, unsigned long& error);

// Writes UTF-8 bytes to standard output (to a console they are shown as text).
// On failure returns false with the system error code.
bool write_standard_output(std::string_view utf8, unsigned long& error);

// Writes a UTF-8 message to standard error, best effort.
void write_standard_error(std::string_view utf8);

// A 16-bit text as UTF-8, for output and messages: an unpaired surrogate becomes U+FFFD
// (text_units::to_utf8_replacing). Null gives the empty text.
std::string utf8_text(const wchar_t* text);

// A command-line argument as UTF-8, for messages.
inline std::string argument_text(const wchar_t* argument) { return utf8_text(argument); }

// Whether the argument is the ASCII word, without regard to the case of A to Z (commands,
// their actions and options are words of rxctl, matched like sc, reg and net match theirs).
inline bool argument_is(const wchar_t* argument, const char* word) {
    const auto folded = [](unsigned c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    for (; *argument != 0 && *word != 0; ++argument, ++word) {
        if (folded(static_cast<unsigned>(*argument)) != folded(static_cast<unsigned char>(*word))) return false;
    }
    return *argument == 0 && *word == 0;
}
