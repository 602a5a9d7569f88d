#pragma once
// What a client of the service does around one call_function, without the platform: build
// the envelope, scramble it, judge the two statuses that come back, unscramble the result
// and read its value. docs/protocol.md describes the same rules for clients in any language.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "client/wiped_text.h"
#include "xml/xml_char.h"

namespace rx_client {

// One argument of a call: an element <NAME>VALUE</NAME> inside the function element.
// NAME must be an XML name made of ASCII letters, digits, '_', '-' and '.', not starting
// with a digit, '-' or '.' (names are written unescaped); VALUE is any text without a zero
// unit (it is escaped).
struct argument {
    const xml_char* name;
    const xml_char* value;
};

enum class envelope_status { built, bad_function_name, bad_argument_name, out_of_memory };

// The envelope <function name="NAME"> with one child element per argument, in order, as
// the XML library serializes it (beginning with U+FEFF). NAME may be any text but not null.
// On a refusal `envelope` is left empty. None of these calls throws: a failure is a status.
envelope_status build_envelope(const xml_char* name, std::span<const argument> arguments,
                               wiped_text& envelope) noexcept;

// The argument scrambling of call_function, both ways (exact inverses on every text
// without a zero unit; unscrambling accepts anything). The input is read up to its first
// zero unit, as the service reads it; null reads as the empty text. False, with `out`
// empty, when the result does not fit in memory (or its length in a size_t).
bool scramble(const xml_char* plain, wiped_text& out) noexcept;
bool unscramble(const xml_char* coded, wiped_text& out) noexcept;

// How one call_function ended, from its return value and ret_code.
enum class call_outcome {
    carried_out,   // returned S_OK: ret_code is the executor's status (0, S_FALSE or another success)
    refused,       // returned S_FALSE: ret_code is the failure (E_INVALIDARG for a bad envelope, ...)
    refused_locally,  // never sent: the client could not make the envelope (bad name, no memory)
    unreachable,   // the call itself failed (a negative return value), or there is no connection
    unexpected,    // any other positive return value, which the service never gives
};
call_outcome judge_call(std::int32_t returned) noexcept;

// The unscrambled result without its leading U+FEFF (a result document begins with one).
// False, with `text` empty, when it does not fit in memory.
bool result_text(const xml_char* unscrambled, wiped_text& text) noexcept;

// The text of the first top-level "value" element of a result document (the form of the
// core command's answer, "true" or "false"). False when the text is not a well-formed
// document or has no such element.
bool result_value(const xml_char* result_document, wiped_text& value) noexcept;

// A line for people about a status: 8 hexadecimal digits and, for the ones a client
// meets, what they mean ("80040154 (REGDB_E_CLASSNOTREG: the class ... is not registered)").
// Empty only when even that does not fit in memory.
std::string describe_status(std::int32_t status) noexcept;

// What the service means by a status it sets itself, or null: E_INVALIDARG (an envelope it
// could not read, or a core command that does not exist) and E_FAIL (a call that reached
// the object on a thread other than the service's main thread, or an executor's failure).
// The quit token is answered with S_OK, which needs no words.
const char* service_meaning(std::int32_t status) noexcept;

}  // namespace rx_client
