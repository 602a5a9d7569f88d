#pragma once
// An XML file loaded for rxctl's commands, with the reason when it did not load: the XML
// library reports an unopenable file, a malformed one and one nested too deep alike, and a
// support engineer needs to know which.
#include <string>

#include "xml/kv_xml.h"

enum class xml_file_status { loaded, unreadable, too_deep, malformed };

// Loads `path` into `document` with load_from_file. `message` says what went wrong
// ("cannot read PATH (error 3: ...)", "PATH is nested deeper than ...", ...).
xml_file_status load_xml_file(const wchar_t* path, KV_xml_doc& document, std::string& message);
