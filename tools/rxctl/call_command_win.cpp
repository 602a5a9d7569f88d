// rxctl call NAME [--envelope FILE]: one call_function on the running server through the
// client library (client/), the way a client of the product makes it.
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

#include "client/rx_client_win.h"
#include "foundation/kv_memory.h"
#include "foundation/unique_resource_win.h"
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
    write_standard_error(std::string("rxctl call: ") + step + " failed with HRESULT " + rx_client::describe_status(hr) +
                         "\n");
    return exit_usage_or_io;
}

// The envelope of FILE as the XML library writes it, its first "function" element named
// NAME; false (message written) when FILE cannot be read or does not load.
bool envelope_of_file(const wchar_t* name, const wchar_t* file, rx_client::wiped_text& envelope) {
    // The library reports an unopenable file like a malformed one; tell them apart.
    unique_file probe(
        CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!probe) {
        input_error("cannot read " + argument_text(file) + " (error " + std::to_string(GetLastError()) + ")");
        return false;
    }
    probe.reset();
    kv_xml_document document(create_xml_document());
    if (!document->load_from_file(file)) {
        input_error(argument_text(file) + " is not a well-formed XML document");
        return false;
    }
    KV_xml_node* root = document->get_root();
    if (KV_xml_node* function = root ? root->get_child(0, L"function") : nullptr) function->set_attribute(L"name", name);
    kv_xml_string text(document->to_string());
    if (!text) return false;
    envelope.assign(text.get());
    kv_memory::wipe(text.get(), envelope.size() * sizeof(wchar_t));
    return true;
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

    rx_client::wiped_text envelope;
    if (file != nullptr && !envelope_of_file(name, file, envelope)) return exit_usage_or_io;

    const rx_client::com_apartment apartment;
    if (FAILED(apartment.result())) return unreachable("CoInitializeEx", apartment.result());
    rx_client::connection service;
    if (const HRESULT connected = service.connect(); FAILED(connected))
        return unreachable("creating RX_core_service_disp", connected);
    const rx_client::call_result result = file != nullptr ? service.call_envelope(envelope.c_str()) : service.call(name);
    if (result.outcome == rx_client::call_outcome::refused_locally)
        return input_error("the call was not sent: " + rx_client::describe_status(result.status));
    if (result.outcome == rx_client::call_outcome::unreachable) return unreachable("call_function", result.status);

    std::string output = hex32(result.status) + "\n";
    if (result.has_result) output += utf8_text(result.result.c_str());
    unsigned long error = 0;
    if (!write_standard_output(output, error))
        return input_error("cannot write standard output (error " + std::to_string(error) + ")");
    return result.outcome == rx_client::call_outcome::carried_out && result.status >= 0 ? exit_success
                                                                                        : exit_operation_failed;
}
