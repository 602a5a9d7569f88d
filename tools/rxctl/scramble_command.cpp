// rxctl scramble | unscramble [--hex]: the argument scrambling of the service as a filter
// from standard input to standard output.
//
// Text form (default): UTF-8 on both sides, taken and written exactly; nothing is added
// or removed, a byte-order mark included. Hex form: 16-bit units as hexadecimal numbers.
// Refused with exit 2: input that is not valid UTF-8 or not hexadecimal numbers, and
// input holding a zero unit, since the scrambling works on zero-terminated texts.
// A scrambled text is always valid UTF-16 (0x4000..0xBFFF); an unscrambled one need not
// be: a lone surrogate has no UTF-8 form, so such a result is not written and the command
// exits 1, pointing to --hex. Zero units in an unscrambled result are written as zero bytes.
#include "tools/rxctl/commands.h"
#include "tools/rxctl/console_io.h"
#include "tools/rxctl/usage.h"
#include "tools/rxctl/scramble_call.h"
#include "tools/rxctl/status_words.h"
#include "tools/rxctl/text_units.h"

#include <string>

namespace {

int fail(int code, const std::string& message) {
    write_standard_error("rxctl: " + message + "\n");
    return code;
}

// Longer tokens are cut in messages, so a stray binary file does not flood the terminal.
std::string shown(const std::string& token) {
    return token.size() <= 24 ? token : token.substr(0, 24) + "...";
}

}  // namespace

int run_scramble_command(int argc, wchar_t** argv, bool scramble) {
    const char* command = scramble ? "scramble" : "unscramble";
    bool hex = false;
    for (int i = 0; i < argc; ++i) {
        if (argument_is(argv[i], "--hex")) {
            hex = true;
        } else {
            return fail(exit_usage_or_io, std::string("unknown argument '") + argument_text(argv[i]) + "' for " +
                                        command + "; usage: " + command_synopsis(command));
        }
    }

    std::string input;
    unsigned long error = 0;
    if (!read_standard_input(input, error)) {
        return fail(exit_usage_or_io, "cannot read standard input (" + error_words(error) + ")");
    }
    std::u16string text;
    if (hex) {
        std::string bad_token;
        if (!text_units::from_hex(input, text, bad_token)) {
            return fail(exit_usage_or_io, "standard input: '" + shown(bad_token) + "' is not a 16-bit hexadecimal number");
        }
    } else {
        std::size_t bad_offset = 0;
        if (!text_units::from_utf8(input, text, bad_offset)) {
            return fail(exit_usage_or_io, "standard input is not valid UTF-8 (byte " + std::to_string(bad_offset) + ")");
        }
    }
    if (const auto zero = text.find(u'\0'); zero != std::u16string::npos) {
        return fail(exit_usage_or_io, "standard input holds a zero unit (unit " + std::to_string(zero) +
                                    "), which a text cannot contain");
    }

    std::u16string result;
    const long hr = call_scrambling(scramble, text, result);
    if (hr < 0) return fail(exit_operation_failed, std::string(scramble ? "scramble_text" : "unscramble_text") +
                                             " failed with " + hresult_words(static_cast<std::int32_t>(hr)));

    std::string output;
    if (hex) {
        output = text_units::to_hex(result);
    } else if (std::size_t bad_index = 0; !text_units::to_utf8(result, output, bad_index)) {
        return fail(exit_operation_failed, "the unscrambled text is not valid UTF-16 (unpaired surrogate at unit " +
                                     std::to_string(bad_index) + "); use --hex to see its units");
    }
    if (!write_standard_output(output, error)) {
        return fail(exit_usage_or_io, "cannot write standard output (" + error_words(error) + ")");
    }
    return exit_success;
}
