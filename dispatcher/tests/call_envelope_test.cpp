// The envelope rules on their own: which texts are the quit token, which names route to
// the service itself, and where a loaded envelope keeps its function name.
#include <gtest/gtest.h>

#include <string>

#include "dispatcher/call_envelope.h"

namespace {
using text = std::basic_string<xml_char>;

TEST(CallEnvelope, QuitTokenIsTheWholeTextInAnyLetterCase) {
    const text token = call_envelope::quit_token;
    const struct { text argument; bool quit; } rows[] = {
        {token, true},
        {KVXML_TEXT("{5a7c3e21-9b04-4f6d-a2c8-71e0d94b3f65}"), true},
        {token + KVXML_TEXT("x"), false},          // begins with the token
        {token.substr(0, token.size() - 1), false},
        {KVXML_TEXT(" ") + token, false},
        {KVXML_TEXT(""), false},
    };
    for (const auto& row : rows) EXPECT_EQ(call_envelope::is_quit_token(row.argument.c_str()), row.quit);
    EXPECT_FALSE(call_envelope::is_quit_token(nullptr));
}

TEST(CallEnvelope, CoreMarkerAnywhereInTheNameCaseSensitive) {
    const struct { const xml_char* name; bool core; } rows[] = {
        {KVXML_TEXT("core_x"), true}, {KVXML_TEXT("has_core_in_the_middle"), true},
        {KVXML_TEXT("x_core_"), true}, {KVXML_TEXT("ccore_"), true},
        {KVXML_TEXT("CORE_x"), false}, {KVXML_TEXT("core"), false}, {KVXML_TEXT(""), false}, {nullptr, false},
    };
    for (const auto& row : rows) EXPECT_EQ(call_envelope::routes_to_core(row.name), row.core);
}

TEST(CallEnvelope, FunctionNameIsTheFirstTopLevelFunctionElementsName) {
    using call_envelope::lookup;
    const struct { const xml_char* envelope; lookup result; const xml_char* name; } rows[] = {
        {KVXML_TEXT("<function name=\"core_x\"/>"), lookup::found, KVXML_TEXT("core_x")},
        {KVXML_TEXT("<FUNCTION NAME=\"a\"/>"), lookup::found, KVXML_TEXT("a")},
        {KVXML_TEXT("<function/>"), lookup::found, KVXML_TEXT("")},
        {KVXML_TEXT("<?xml version=\"1.0\"?><other/><Function Name=\"b\"/><function name=\"c\"/>"),
         lookup::found, KVXML_TEXT("b")},
        {KVXML_TEXT("<call><function name=\"x\"/></call>"), lookup::no_function, nullptr},
        {KVXML_TEXT("<call name=\"x\"/>"), lookup::no_function, nullptr},
    };
    for (const auto& row : rows) {
        kv_xml_document document(create_xml_document());
        ASSERT_EQ(document->load_from_string(row.envelope), 1);
        const xml_char* name = nullptr;
        ASSERT_EQ(call_envelope::find_function_name(*document, name), row.result);
        if (row.name) {
            EXPECT_EQ(text(name), text(row.name));
        }
    }
}
}  // namespace
