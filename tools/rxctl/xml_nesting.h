#pragma once
// Why an XML text did not load, as far as rxctl tells it: whether its elements nest deeper
// than the XML library takes (kvxml_max_depth). Platform-free; reads 8-bit text and
// UTF-16LE alike (zero bytes are skipped, and the markup is ASCII in both).
#include <string_view>

// True when some element lies more than `limit` levels below the document's root. Comments,
// processing instructions, declarations, CDATA sections and quoted attribute values are
// skipped; the scan stops at the first level beyond the limit.
bool nested_deeper_than(std::string_view bytes, int limit) noexcept;
