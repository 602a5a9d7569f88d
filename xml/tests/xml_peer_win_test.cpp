// Documents whose names are valid XML names, saved to files, for the xmllint peer check
// (tests/xmllint_peer.sh runs this test with KV_XML_PEER_DIR set, then xmllint on every
// file). Run alone, it checks that each saved file loads back into the same tree.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "xml_test_support.h"

namespace {
std::wstring peer_dir() {
    wchar_t dir[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"KV_XML_PEER_DIR", dir, MAX_PATH)) return std::wstring(dir) + L"\\";
    GetTempPathW(MAX_PATH, dir);
    return dir;
}

// One well-formed XML document needs exactly one top-level element.
doc_ptr built_document() {
    doc_ptr doc = new_doc();
    doc->create_new();
    KV_xml_node* result = doc->get_root()->add_child(L"result");
    result->add_child(L"value")->set_text(L"true");
    KV_xml_node* odd = result->add_child(L"odd");
    odd->set_attribute(L"q", L"a<b & \"c\" 'd' >");
    odd->set_text(L"x < y && y > z 'quoted' \"double\"");
    result->add_child(L"empty");
    result->add_child(L"with-attr")->set_attribute(L"k", L"");
    KV_xml_node* deep = result;
    for (int i = 0; i < 100; ++i) deep = deep->add_child(L"level");
    deep->set_text(L"bottom");
    return doc;
}
}  // namespace

TEST(XmlPeer, SavedDocumentsReadBack) {
    const wchar_t* const texts[] = {
        L"<?xml version='1.0' encoding='UTF-8'?><call><function name='core_has_agent_GUID_changed'>"
        L"<arg i='0'>a &amp; b</arg></function></call>",
        L"<envelope a='&quot;' b=\"'\" c='&lt;&gt;'><t>\x00E9\x4E2D\xD83D\xDE00</t><u/><v w='1'/></envelope>",
        L"<?xml version='1.0'?><r><x.y_z-1 n:s='v'>text</x.y_z-1></r>",
    };
    const std::wstring dir = peer_dir();
    int n = 0;
    auto save_and_check = [&](KV_xml_doc* doc) {
        const std::wstring path = dir + L"kvxml_peer_" + std::to_wstring(n++) + L".xml";
        ASSERT_EQ(1, doc->save_to_file(path.c_str()));
        doc_ptr again = new_doc();
        ASSERT_EQ(1, again->load_from_file(path.c_str()));
        EXPECT_EQ(dump(doc->get_root()), dump(again->get_root()));
        if (!GetEnvironmentVariableW(L"KV_XML_PEER_DIR", nullptr, 0)) DeleteFileW(path.c_str());
    };
    for (const wchar_t* text : texts) {
        doc_ptr doc = new_doc();
        ASSERT_EQ(1, doc->load_from_string(text));
        save_and_check(doc.get());
    }
    doc_ptr built = built_document();
    save_and_check(built.get());
}
