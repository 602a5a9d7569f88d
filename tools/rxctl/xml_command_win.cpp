// rxctl xml IN [OUT]: loads IN with the system's XML library (load_from_file: UTF-16 with
// byte-order mark, or 8-bit read as ANSI or as the declared UTF-8).
//   With OUT: when the document has a root, saves it to OUT with save_to_file (UTF-16LE
//   with byte-order mark); a failed load saves what the load kept.
//   Without OUT: writes the serialized document to standard output as UTF-8, without the
//   leading U+FEFF and otherwise unchanged (CR LF line ends), so the output is stable
//   text for pipes and comparisons; nothing is written when the document has no root.
// Exit code: 0 loaded, 1 the load failed (malformed or empty), 2 usage error, IN
// unreadable, OUT not writable or standard output failing.
#include <windows.h>

#include <memory>
#include <string>

#include "foundation/unique_resource_win.h"
#include "tools/rxctl/commands.h"
#include "tools/rxctl/console_io.h"
#include "tools/rxctl/usage.h"
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
    {
        // The library reports an unopenable file like a malformed one; tell them apart.
        unique_file probe(CreateFileW(in, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!probe) {
            return fail("cannot read " + argument_text(in) + " (error " +
                        std::to_string(GetLastError()) + ")");
        }
    }
    kv_xml_document doc(create_xml_document());
    const int loaded = doc->load_from_file(in);
    const int status = loaded ? exit_success : exit_operation_failed;
    if (!loaded) write_standard_error("rxctl xml: " + argument_text(in) + " did not load\n");
    if (!doc->get_root()) return status;

    if (argc == 2) {
        if (!doc->save_to_file(argv[1])) {
            return fail("cannot write " + argument_text(argv[1]) + " (error " +
                        std::to_string(GetLastError()) + ")");
        }
        return status;
    }
    wchar_t* text = doc->to_string();
    const std::string utf8 = utf8_text(text[0] == xml_byte_order_mark ? text + 1 : text);
    doc->free_string(text);
    unsigned long error = 0;
    if (!write_standard_output(utf8, error)) return fail("cannot write standard output (error " + std::to_string(error) + ")");
    return status;
}
