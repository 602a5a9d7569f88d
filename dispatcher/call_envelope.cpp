#include "dispatcher/call_envelope.h"

namespace call_envelope {

bool is_quit_token(const xml_char* text) noexcept {
    if (text == nullptr) return false;
    const xml_char* expected = quit_token;
    for (; *expected != 0; ++text, ++expected)
        if (*text == 0 || xml_fold(*text) != xml_fold(*expected)) return false;
    return *text == 0;
}

bool routes_to_core(const xml_char* name) noexcept {
    static constexpr xml_char marker[] = KVXML_TEXT("core_");
    if (name == nullptr) return false;
    for (; *name != 0; ++name) {
        std::size_t i = 0;
        while (marker[i] != 0 && name[i] == marker[i]) ++i;
        if (marker[i] == 0) return true;
    }
    return false;
}

lookup find_function_name(KV_xml_doc& document, const xml_char*& name) {
    KV_xml_node* root = document.get_root();
    KV_xml_node* function = root ? root->get_child(0, KVXML_TEXT("function")) : nullptr;
    if (function == nullptr) return lookup::no_function;
    const xml_char* value = function->get_attribute_value(KVXML_TEXT("name"));
    if (value == nullptr) return lookup::no_name;
    name = value;
    return lookup::found;
}

}  // namespace call_envelope
