// The call envelope path as the dispatcher takes it: unscramble the argument, recognise
// the quit token, load it, find the function name (call_envelope), route by it, serialize
// the envelope again. The lookups are checked against a walk of the tree.
// The first byte picks what the remaining units are: the coded argument itself, or a
// plain envelope that is scrambled first (so that the loader sees well-formed XML too,
// and the argument must unscramble to exactly that envelope).
#include <vector>

#include "dispatcher/argument_scrambling.h"
#include "dispatcher/call_envelope.h"
#include "tests/fuzz/fuzz_support.h"

namespace as = argument_scrambling;

namespace {
// The plain envelope of a coded argument, NUL-terminated.
std::u16string unscrambled(const std::u16string& coded) {
    std::u16string plain(as::unscrambled_length(coded.size()), u'\0');
    as::unscramble_units(coded.data(), coded.size(), plain.data());
    return plain;
}

std::u16string scrambled(const std::u16string& plain) {
    std::size_t length = 0;
    FUZZ_CHECK(as::scrambled_length(plain.size(), length));
    std::u16string coded(length, u'\0');
    as::scramble_units(plain.data(), plain.size(), coded.data());
    return coded;
}

void run_envelope(const std::u16string& argument) {
    // The argument arrives as a NUL-terminated text: its length ends at the first NUL.
    const std::u16string coded = argument.substr(0, argument.find(u'\0'));
    const std::u16string plain = unscrambled(coded);
    const xml_text envelope(plain.begin(), plain.end());

    // The quit token: exactly its 38 units, letters A to Z in any case.
    const std::u16string token(call_envelope::quit_token, call_envelope::quit_token + 38);
    bool quit = plain.size() == token.size();
    for (std::size_t i = 0; quit && i < token.size(); ++i) quit = xml_fold(plain[i]) == xml_fold(token[i]);
    FUZZ_CHECK(call_envelope::is_quit_token(envelope.c_str()) == quit);
    if (quit) return;

    fuzz_doc doc = fuzz_new_doc();
    if (!doc->load_from_string(envelope.c_str())) return;
    KV_xml_node* root = doc->get_root();
    FUZZ_CHECK(root != nullptr);
    KV_xml_node* function = root->get_child(0, KVXML_TEXT("function"));
    const xml_char* found_name = nullptr;
    const call_envelope::lookup found = call_envelope::find_function_name(*doc, found_name);
    FUZZ_CHECK((found == call_envelope::lookup::found) == (function != nullptr));
    if (!function) return;
    FUZZ_CHECK(function->get_parent() == root);
    FUZZ_CHECK(xml_equal_nocase(function->get_name(), KVXML_TEXT("FUNCTION")));
    // No earlier top-level element carries that name.
    for (int i = 0; KV_xml_node* child = root->get_child(i, nullptr); ++i) {
        if (child == function) break;
        FUZZ_CHECK(!xml_equal_nocase(child->get_name(), KVXML_TEXT("function")));
    }
    const xml_char* name = function->get_attribute_value(KVXML_TEXT("name"));
    FUZZ_CHECK(name != nullptr && name == found_name);
    const std::u16string name_text(name, name + xml_length(name));
    FUZZ_CHECK(call_envelope::routes_to_core(name) == (name_text.find(u"core_") != std::u16string::npos));
    const xml_text serialized = fuzz_serialize(*doc);
    FUZZ_CHECK(!serialized.empty() && serialized[0] == 0xFEFF);

    // The executor's result travels back scrambled; it must come back intact.
    const std::u16string result(serialized.begin(), serialized.end());
    FUZZ_CHECK(unscrambled(scrambled(result)) == result);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::u16string units = fuzz_units(data + 1, size - 1);
    if (data[0] & 1) {
        const std::u16string plain = units.substr(0, units.find(u'\0'));
        const std::u16string coded = scrambled(plain);
        FUZZ_CHECK(unscrambled(coded) == plain);
        run_envelope(coded);
    } else {
        run_envelope(units);
    }
    return 0;
}
