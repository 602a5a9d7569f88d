#pragma once
// Entity references: decoding of attribute values and texts, and the serializer's escaping.
#include <cstdint>

#include "xml/xml_char.h"

class xml_buffer;

// True when s[0..n) holds an "&" with a ";" somewhere after it (decoding would change it).
bool xml_needs_decoding(const xml_char* s, std::int32_t n) noexcept;

// Appends the decoding of s[0..n) to out. An "&" with a ";" after it starts a reference
// that runs to the first ";"; names (case-insensitive) amp, quot, apos, lt, gt give their
// character, "#" + text gives the unit of the low 16 bits of the decimal number read as
// _wtoi reads it (nothing when 0), anything else gives nothing. Results are not re-read.
void xml_decode_entities(const xml_char* s, std::int32_t n, xml_buffer& out);
// The same decoding written to dst, which may be s itself (decoding never lengthens a
// text); returns the decoded length. dst is not NUL-terminated.
std::int32_t xml_decode_entities_to(const xml_char* s, std::int32_t n, xml_char* dst) noexcept;

// Length of s[0..n) after escaping: +5 per '"', +4 per '&' and '\'', +3 per '<' and '>'.
std::int32_t xml_escaped_length(const xml_char* s, std::int32_t n);
// Writes the escaping of s[0..n) to dst, which has room for xml_escaped_length units.
xml_char* xml_write_escaped(const xml_char* s, std::int32_t n, xml_char* dst) noexcept;
