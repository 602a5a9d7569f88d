#include "client/call_protocol.h"

#include <exception>
#include <new>

#include "dispatcher/argument_scrambling.h"
#include "foundation/hex_digits.h"
#include "xml/kv_xml.h"

namespace rx_client {
namespace {

namespace as = argument_scrambling;
static_assert(sizeof(xml_char) == sizeof(as::unit), "the scrambling works on the XML library's units");

bool is_ascii_letter(xml_char c) noexcept { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool is_ascii_digit(xml_char c) noexcept { return c >= u'0' && c <= u'9'; }

// Element names go into the text unescaped, so only plain XML names are taken.
bool is_plain_name(const xml_char* name) noexcept {
    if (name == nullptr || !(is_ascii_letter(*name) || *name == u'_')) return false;
    for (; *name != 0; ++name) {
        if (!is_ascii_letter(*name) && !is_ascii_digit(*name) && *name != u'_' && *name != u'-' && *name != u'.')
            return false;
    }
    return true;
}

// A serialized document in a wiped text; the library's copy is wiped before it is freed.
wiped_text take_serialized(KV_xml_doc& document) {
    kv_xml_string serialized(document.to_string());
    if (!serialized) return {};
    const std::size_t length = xml_length(serialized.get());
    wiped_text text(serialized.get(), length);
    wipe_memory(serialized.get(), length * sizeof(xml_char));
    return text;
}

const as::unit* units(const xml_char* text) noexcept { return reinterpret_cast<const as::unit*>(text); }
as::unit* units(xml_char* text) noexcept { return reinterpret_cast<as::unit*>(text); }

struct known_status {
    std::uint32_t status;
    const char* meaning;
};
// The statuses a client meets: the service's own refusals and what COM reports when the
// service cannot be reached.
constexpr known_status known_statuses[] = {
    {0x00000000, "S_OK"},
    {0x00000001, "S_FALSE"},
    {0x80004005, "E_FAIL: unspecified failure"},
    {0x80070057, "E_INVALIDARG: an argument was not valid"},
    {0x8007000E, "E_OUTOFMEMORY"},
    {0x80040154, "REGDB_E_CLASSNOTREG: the class RX_core_service_disp is not registered"},
    {0x80080005, "CO_E_SERVER_EXEC_FAILURE: the service or local server did not start"},
    {0x80004002, "E_NOINTERFACE: the type library RxCoreServiceLib is not registered for marshaling"},
    {0x800706BA, "RPC_S_SERVER_UNAVAILABLE: the server went away"},
    {0x80010108, "RPC_E_DISCONNECTED: the server went away during the call"},
    {0x80070005, "E_ACCESSDENIED: the caller may not start or reach the service"},
    {0x80070422, "the service is disabled"},
};

}  // namespace

envelope_status build_envelope(const xml_char* name, std::span<const argument> arguments,
                               wiped_text& envelope) noexcept try {
    envelope.clear();
    if (name == nullptr) return envelope_status::bad_function_name;
    for (const argument& each : arguments) {
        if (!is_plain_name(each.name)) return envelope_status::bad_argument_name;
    }
    kv_xml_document document(create_xml_document());
    if (!document || !document->load_from_string(KVXML_TEXT("<function/>"))) return envelope_status::bad_function_name;
    KV_xml_node* function = document->get_root()->get_child(0, KVXML_TEXT("function"));
    function->set_attribute(KVXML_TEXT("name"), name);
    for (const argument& each : arguments) {
        KV_xml_node* element = function->add_child(each.name);
        if (element == nullptr) return envelope_status::bad_argument_name;
        element->set_text(each.value ? each.value : KVXML_TEXT(""));
    }
    envelope = take_serialized(*document);
    return envelope.empty() ? envelope_status::out_of_memory : envelope_status::built;
} catch (const std::bad_alloc&) {
    envelope.clear();
    return envelope_status::out_of_memory;
}

bool scramble(const xml_char* plain, wiped_text& out) noexcept try {
    out.clear();
    if (plain == nullptr) return true;
    const std::size_t length = as::text_length(units(plain));
    std::size_t coded_length = 0;
    if (!as::scrambled_length(length, coded_length)) return false;
    out.assign(coded_length, xml_char{0});
    as::scramble_units(units(plain), length, units(out.data()));
    return true;
} catch (const std::exception&) {  // bad_alloc, or a length beyond the text's maximum
    out.clear();
    return false;
}

bool unscramble(const xml_char* coded, wiped_text& out) noexcept try {
    out.clear();
    if (coded == nullptr) return true;
    const std::size_t length = as::text_length(units(coded));
    out.assign(as::unscrambled_length(length), xml_char{0});
    as::unscramble_units(units(coded), length, units(out.data()));
    return true;
} catch (const std::exception&) {
    out.clear();
    return false;
}

call_outcome judge_call(std::int32_t returned) noexcept {
    if (returned < 0) return call_outcome::unreachable;
    if (returned == 0) return call_outcome::carried_out;
    if (returned == 1) return call_outcome::refused;
    return call_outcome::unexpected;
}

bool result_text(const xml_char* unscrambled, wiped_text& text) noexcept try {
    text.clear();
    if (unscrambled == nullptr) return true;
    if (*unscrambled == xml_byte_order_mark) ++unscrambled;
    text.assign(unscrambled);
    return true;
} catch (const std::exception&) {
    text.clear();
    return false;
}

bool result_value(const xml_char* result_document, wiped_text& value) noexcept try {
    value.clear();
    if (result_document == nullptr) return false;
    kv_xml_document document(create_xml_document());
    if (!document || !document->load_from_string(result_document)) return false;
    KV_xml_node* root = document->get_root();
    KV_xml_node* element = root ? root->get_child(0, KVXML_TEXT("value")) : nullptr;
    if (element == nullptr) return false;
    const xml_char* text = element->get_text();
    value.assign(text ? text : KVXML_TEXT(""));
    return true;
} catch (const std::exception&) {
    value.clear();
    return false;
}

std::string describe_status(std::int32_t status) noexcept try {
    const auto bits = static_cast<std::uint32_t>(status);
    std::string text(8, '0');
    std::uint32_t rest = bits;
    for (int i = 7; i >= 0; --i, rest >>= 4) text[static_cast<std::size_t>(i)] = hex_digit_upper(rest);
    for (const known_status& known : known_statuses) {
        if (known.status == bits) return text + " (" + known.meaning + ")";
    }
    return text;
} catch (const std::exception&) {
    return {};
}

const char* service_meaning(std::int32_t status) noexcept {
    switch (static_cast<std::uint32_t>(status)) {
    case 0x80070057: return "the service could not read the envelope, or no core command has that name";
    case 0x80004005: return "the call reached the service off its main thread, or the executor failed";
    case 0x8007000E: return "the service ran out of memory";
    default: return nullptr;
    }
}

}  // namespace rx_client
