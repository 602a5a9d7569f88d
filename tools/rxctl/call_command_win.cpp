// rxctl call NAME [--envelope FILE]: one call_function on the running server, the way a
// client of the product makes it.
//   The envelope is <function name="NAME"/>, or the document in FILE (read by the XML
//   library's load_from_file: UTF-16 with byte-order mark, or 8-bit text read as ANSI or
//   as the declared UTF-8) whose first "function" element gets NAME as its name; a file
//   without a "function" element goes as it is, for the server to refuse. The envelope
//   travels as the library serializes it, scrambled as every client scrambles it.
//   The class RX_core_service_disp is created out of process (CLSCTX_LOCAL_SERVER): COM
//   starts the service, or the local server, when it does not run yet.
// Prints ret_code as 8 upper-case hexadecimal digits and a line feed, then the
// unscrambled result as UTF-8 without its leading U+FEFF (nothing without a result).
// Exit code: 0 the call was carried out and ret_code is not negative; 1 otherwise; 2 for
// a usage error, an unreadable FILE, or a server that cannot be reached (with the HRESULT).
#include <windows.h>

#include <string>

#include "dispatcher/rx_core_service.h"
#include "dispatcher/scramble_text_win.h"
#include "foundation/com_resource_win.h"
#include "tools/rxctl/commands.h"
#include "tools/rxctl/console_io.h"
#include "tools/rxctl/text_units.h"
#include "tools/rxctl/usage.h"
#include "xml/kv_xml.h"

namespace {

int call_usage_error(const std::string& message) { return usage_error("call", message); }

std::string hex32(long value) { return text_units::to_hex32(static_cast<std::uint32_t>(value)); }

int input_error(const std::string& message) {
    write_standard_error("rxctl call: " + message + "\n");
    return exit_usage_or_io;
}

int unreachable(const char* step, HRESULT hr) {
    write_standard_error(std::string("rxctl call: ") + step + " failed with HRESULT " + hex32(hr) + "\n");
    return exit_usage_or_io;
}

// COM on this thread for the length of the command.
class com_apartment {
public:
    com_apartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~com_apartment() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    com_apartment(const com_apartment&) = delete;
    com_apartment& operator=(const com_apartment&) = delete;
    HRESULT result() const noexcept { return result_; }
private:
    HRESULT result_;
};

// The envelope text as the XML library writes it; false (message written) when FILE
// cannot be read or does not load.
bool make_envelope(const wchar_t* name, const wchar_t* file, kv_xml_string& envelope) {
    kv_xml_document document(create_xml_document());
    if (file == nullptr) {
        document->load_from_string(L"<function/>");
    } else {
        // The library reports an unopenable file like a malformed one; tell them apart.
        unique_file probe(CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!probe) {
            input_error("cannot read " + argument_text(file) + " (error " + std::to_string(GetLastError()) + ")");
            return false;
        }
        probe.reset();
        if (!document->load_from_file(file)) {
            input_error(argument_text(file) + " is not a well-formed XML document");
            return false;
        }
    }
    KV_xml_node* root = document->get_root();
    if (KV_xml_node* function = root ? root->get_child(0, L"function") : nullptr) function->set_attribute(L"name", name);
    envelope.reset(document->to_string());
    return static_cast<bool>(envelope);
}

}  // namespace

int run_call_command(int argc, wchar_t** argv) {
    const wchar_t* name = nullptr;
    const wchar_t* file = nullptr;
    for (int i = 0; i < argc; ++i) {
        if (argument_is(argv[i], "--envelope")) {
            if (i + 1 >= argc || file != nullptr) return call_usage_error("--envelope takes one FILE");
            file = argv[++i];
        } else if (name == nullptr) {
            name = argv[i];
        } else {
            return call_usage_error("unexpected argument '" + argument_text(argv[i]) + "'");
        }
    }
    if (name == nullptr) return call_usage_error("name the function to call");

    kv_xml_string envelope;
    if (!make_envelope(name, file, envelope)) return exit_usage_or_io;
    unique_wiped_bstr argument;
    const HRESULT scrambled = scramble_text(envelope.get(), argument.put());
    if (FAILED(scrambled)) return unreachable("scramble_text", scrambled);

    const com_apartment apartment;
    if (FAILED(apartment.result())) return unreachable("CoInitializeEx", apartment.result());
    com_ptr<RX_core_service_disp_i> dispatcher;
    const HRESULT created = CoCreateInstance(CLSID_RX_core_service_disp, nullptr, CLSCTX_LOCAL_SERVER,
                                             IID_RX_core_service_disp_i, dispatcher.put_void());
    if (FAILED(created)) return unreachable("creating RX_core_service_disp", created);

    unique_wiped_bstr coded;
    LONG ret_code = 0;
    const HRESULT returned = dispatcher->call_function(argument.get(), coded.put(), &ret_code);
    // A failure here is the transport's: call_function itself answers S_OK or S_FALSE.
    if (FAILED(returned)) return unreachable("call_function", returned);

    std::string output = hex32(ret_code) + "\n";
    if (coded) {
        unique_wiped_bstr plain;
        const HRESULT unscrambled = unscramble_text(coded.get(), plain.put());
        if (FAILED(unscrambled)) {
            write_standard_error("rxctl call: the result could not be unscrambled (HRESULT " + hex32(unscrambled) + ")\n");
            ret_code = unscrambled;
        } else {
            const wchar_t* text = plain.get();
            output += utf8_text(text[0] == xml_byte_order_mark ? text + 1 : text);
        }
    }
    unsigned long error = 0;
    if (!write_standard_output(output, error))
        return input_error("cannot write standard output (error " + std::to_string(error) + ")");
    return returned == S_OK && ret_code >= 0 ? exit_success : exit_operation_failed;
}
