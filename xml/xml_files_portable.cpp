// The document's file and handle operations for a build without the Windows layer (a
// native build of the platform-free core): there is no file handle there, so they fail.
#if !defined(_WIN32)
#include "xml/xml_model.h"

int KVXML_doc::load_from_handle(xml_handle) { return 0; }
int KVXML_doc::load_from_file(const xml_char*) { return 0; }
int KVXML_doc::save_to_handle(xml_handle) { return 0; }
int KVXML_doc::save_to_file(const xml_char*) { return 0; }
#endif
