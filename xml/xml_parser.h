#pragma once
// The parser: one pass over a NUL-terminated 16-bit text with a single read position.
#include "xml/xml_model.h"

// Makes the provisional root (a node "?xml", stored in root at once) and parses its
// content from text (after any U+FEFF). On failure the root keeps the top-level elements
// that were complete before the failing one. When the parse fails, throws, or leaves a
// first child that is not a declaration, the root has "version" "1.0" on return; when
// the text begins with its own declaration, which the caller makes the root instead, it
// has none. Elements deeper than kvxml_max_depth below the root make the parse fail. end
// points at a NUL of the text (*end == 0): its first, or a later one when the caller
// holds the length. The text ends at its first NUL either way; end only bounds the block
// reads.
bool kvxml_parse_document(KVXML_node*& root, const xml_char* text, const xml_char* end);

// True when the text's first element is a declaration "?xml" whose attribute list
// parses and whose "encoding" is "UTF-8" (case-insensitive).
bool kvxml_declares_utf8(const xml_char* text);
