#include "tools/rxctl/xml_file_win.h"

#include <windows.h>

#include "foundation/unique_resource_win.h"
#include "tools/rxctl/console_io.h"
#include "tools/rxctl/status_words.h"
#include "tools/rxctl/xml_nesting.h"

namespace {

// The file's bytes; false with the system error when it cannot be read.
bool read_file(const wchar_t* path, std::string& bytes, DWORD& error) {
    unique_file file(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = GetLastError();
        return false;
    }
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
            error = GetLastError();
            return false;
        }
        if (got == 0) return true;
        bytes.append(buffer, got);
    }
}

}  // namespace

xml_file_status load_xml_file(const wchar_t* path, KV_xml_doc& document, std::string& message) {
    message.clear();
    std::string bytes;
    DWORD error = 0;
    if (!read_file(path, bytes, error)) {
        message = "cannot read " + argument_text(path) + " (" + error_words(error) + ")";
        return xml_file_status::unreadable;
    }
    if (document.load_from_file(path)) return xml_file_status::loaded;
    if (nested_deeper_than(bytes, kvxml_max_depth)) {
        message = argument_text(path) + " is nested deeper than " + std::to_string(kvxml_max_depth) +
                  " levels, the limit of the XML library";
        return xml_file_status::too_deep;
    }
    message = argument_text(path) + " is not a well-formed XML document";
    return xml_file_status::malformed;
}
