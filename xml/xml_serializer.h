#pragma once
// The serializer: a tree as indented UTF-16 text, beginning with U+FEFF.
#include "xml/xml_model.h"

// Appends U+FEFF and, when root is not null, the serialization of root at depth 0.
// The buffer doubles as it fills, so the text is written in one pass.
void kvxml_serialize(KVXML_node* root, xml_buffer& out);
