// rxctl call NAME [--envelope FILE]: one call_function on the running server through the
// client library (client/), the way a client of the product makes it.
//   The envelope is <function name="NAME"/>, or the document in FILE (read by the XML
//   library's load_from_file: UTF-16 with byte-order mark, or 8-bit text read as ANSI or
//   as the declared UTF-8) whose first top-level "function" element gets NAME as its
//   name. FILE is judged here before anything is sent: a document the service would
//   refuse (not well-formed, nested too deep, no top-level "function" element) is a usage
//   error. The envelope travels as the library serializes it, scrambled as every client
//   scrambles it. The class RX_core_service_disp is created out of process
//   (CLSCTX_LOCAL_SERVER): COM starts the service, or the local server, when it does not
//   run yet.
// Prints ret_code as 8 upper-case hexadecimal digits and a line feed, then the
// unscrambled result as UTF-8 without its leading U+FEFF (nothing without a result); a
// status other than S_OK is named in words on standard error.
// Exit code: 0 the call was carried out and ret_code is not negative; 1 otherwise; 2 for
// a usage error, an envelope refused here, or a server that cannot be reached.
#include <windows.h>

#include <string>

#include "client/rx_client_win.h"
#include "foundation/kv_memory.h"
#include "tools/rxctl/commands.h"
#include "tools/rxctl/console_io.h"
#include "tools/rxctl/status_words.h"
#include "tools/rxctl/text_units.h"
#include "tools/rxctl/usage.h"
#include "tools/rxctl/xml_file_win.h"
#include "xml/kv_xml.h"

namespace {

int call_usage_error(const std::string& message) { return usage_error("call", message); }

std::string hex32(long value) { return text_units::to_hex32(static_cast<std::uint32_t>(value)); }

int input_error(const std::string& message) {
    write_standard_error("rxctl call: " + message + "\n");
    return exit_usage_or_io;
}

int unreachable(const char* step, HRESULT hr) {
    return input_error(std::string(step) + " failed with HRESULT " + hresult_words(hr));
}

// The envelope of FILE as the XML library writes it, its first top-level "function"
// element named NAME; false (message written) when FILE cannot be read, does not load or
// holds no such element: the service would refuse it.
bool envelope_of_file(const wchar_t* name, const wchar_t* file, rx_client::wiped_text& envelope) {
    kv_xml_document document(create_xml_document());
    if (!document) return input_error("cannot create an XML document (out of memory)"), false;
    std::string message;
    if (load_xml_file(file, *document, message) != xml_file_status::loaded)
        return input_error(message + "; the service would refuse it, nothing was sent"), false;
    KV_xml_node* root = document->get_root();
    KV_xml_node* function = root ? root->get_child(0, L"function") : nullptr;
    if (function == nullptr)
        return input_error(argument_text(file) +
                           " has no top-level \"function\" element; the service would refuse it, nothing was sent"),
               false;
    if (!function->set_attribute(L"name", name)) return input_error("cannot name the function (out of memory)"), false;
    kv_xml_string text(document->to_string());
    if (!text) return input_error("cannot serialize the envelope (out of memory)"), false;
    envelope.assign(text.get());
    kv_memory::wipe(text.get(), envelope.size() * sizeof(wchar_t));
    return true;
}

// What a status other than S_OK means, on standard error.
void name_status(const char* what, HRESULT status) {
    if (status == S_OK) return;
    std::string line = std::string("rxctl call: ") + what + ": " + hresult_words(status);
    if (const char* meaning = rx_client::service_meaning(status); meaning && status < 0)
        line += std::string("; ") + meaning;
    write_standard_error(line + "\n");
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
    if (*name == 0) return call_usage_error("the function name is empty");

    rx_client::wiped_text envelope;
    if (file != nullptr && !envelope_of_file(name, file, envelope)) return exit_usage_or_io;

    const rx_client::com_apartment apartment;
    if (FAILED(apartment.result())) return unreachable("CoInitializeEx", apartment.result());
    rx_client::connection service;
    if (const HRESULT connected = service.connect(); FAILED(connected))
        return unreachable("creating RX_core_service_disp", connected);
    const rx_client::call_result result = file != nullptr ? service.call_envelope(envelope.c_str()) : service.call(name);
    switch (result.outcome) {
    case rx_client::call_outcome::refused_locally:
        return input_error("the call was not sent: " + hresult_words(result.status));
    case rx_client::call_outcome::unreachable: return unreachable("call_function", result.status);
    case rx_client::call_outcome::unexpected:
        name_status("call_function returned a value the service never gives", result.status);
        break;
    case rx_client::call_outcome::refused: name_status("the service refused the call", result.status); break;
    case rx_client::call_outcome::carried_out: name_status("carried out with status", result.status); break;
    }

    std::string output = hex32(result.status) + "\n";
    if (result.has_result) output += utf8_text(result.result.c_str());
    unsigned long error = 0;
    if (!write_standard_output(output, error)) return input_error("cannot write standard output (" + error_words(error) + ")");
    return result.outcome == rx_client::call_outcome::carried_out && result.status >= 0 ? exit_success
                                                                                        : exit_operation_failed;
}
