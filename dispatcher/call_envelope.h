#pragma once
// The call envelope of `call_function`, platform-free: the quit token, the function name
// and the routing rule. The envelope is an XML document whose first top-level element
// named "function" (any letter case) carries the function name in its attribute "name"
// (any letter case); everything else in it is for the executor.
#include "xml/kv_xml.h"

namespace call_envelope {

// Sent as the whole unscrambled argument instead of an envelope.
inline constexpr xml_char quit_token[] = KVXML_TEXT("{5A7C3E21-9B04-4F6D-A2C8-71E0D94B3F65}");

// True when `text` is the quit token, the letters A to Z compared without regard to case
// and every other unit exactly (so surrounding blanks make it an ordinary text).
bool is_quit_token(const xml_char* text) noexcept;

// True when the function name holds "core_" anywhere (case-sensitive): such calls are
// executed by the service itself, every other one by the manager component.
bool routes_to_core(const xml_char* name) noexcept;

enum class lookup { found, no_function, no_name };

// Finds the function name in a loaded document: the first top-level "function" element
// and its "name" attribute ("" when the attribute is absent, which routes like any name).
// On `found`, `name` points into the document and lives as long as its tree.
lookup find_function_name(KV_xml_doc& document, const xml_char*& name);

}  // namespace call_envelope
