// rxctl xml IN [OUT]: loads IN with the system's XML library (load_from_file: UTF-16 with
// byte-order mark, or 8-bit read as ANSI or as the declared UTF-8).
//   With OUT: when the document has a root, saves it to OUT with save_to_file (UTF-16LE
//   with byte-order mark); a failed load saves what the load kept.
//   Without OUT: writes the serialized document to standard output as UTF-8, without the
//   leading U+FEFF and otherwise unchanged (CR LF line ends), so the output is stable
//   text for pipes and comparisons; nothing is written when the document has no root.
// Exit code: 0 loaded, 1 the load failed (malformed, nested too deep, or empty: the message
// says which), 2 usage error, IN unreadable, OUT not writable or standard output failing.
#include <windows.h>

#include <memory>
#include <string>

#include "tools/rxctl/commands.h"
#include "tools/rxctl/console_io.h"
#include "tools/rxctl/status_words.h"
#include "tools/rxctl/usage.h"
#include "tools/rxctl/xml_file_win.h"
#include "xml/kv_xml.h"

namespace {
int fail(const std::string& message) {
    write_standard_error("rxctl xml: " + message + "\n");
    return exit_usage_or_io;
}
}  // namespace

int run_xml_command(int argc, wchar_t** argv) {
    if (argc < 1) return usage_error("xml", "name the file IN");
    if (argc > 2) return usage_error("xml", "too many arguments");
    const wchar_t* in = argv[0];
    kv_xml_document doc(create_xml_document());
    if (!doc) return fail("cannot create an XML document (out of memory)");
    std::string message;
    const xml_file_status loaded = load_xml_file(in, *doc, message);
    if (loaded == xml_file_status::unreadable) return fail(message);
    const int status = loaded == xml_file_status::loaded ? exit_success : exit_operation_failed;
    if (loaded != xml_file_status::loaded) write_standard_error("rxctl xml: " + message + "; it did not load\n");
    if (!doc->get_root()) return status;

    if (argc == 2) {
        if (!doc->save_to_file(argv[1])) {
            return fail("cannot write " + argument_text(argv[1]) + " (" + error_words(GetLastError()) + ")");
        }
        return status;
    }
    wchar_t* text = doc->to_string();
    if (text == nullptr) return fail("cannot serialize the document (out of memory)");
    const std::string utf8 = utf8_text(text[0] == xml_byte_order_mark ? text + 1 : text);
    doc->free_string(text);
    unsigned long error = 0;
    if (!write_standard_output(utf8, error)) return fail("cannot write standard output (" + error_words(error) + ")");
    return status;
}
