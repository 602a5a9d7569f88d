// Callers that break append_child's contract: appending a node that is still linked
// elsewhere, then removing it from its old parent. Nothing may crash or write past a
// buffer (the native build runs this under AddressSanitizer).
#include <gtest/gtest.h>

#include "xml/xml_model.h"
#include "xml_test_support.h"

namespace {
KVXML_node* at(KV_xml_doc* doc, const char* path) {
    return kvxml_impl(doc->get_root()->get_by_path(X(path).c_str()));
}
}  // namespace

TEST(XmlMisuse, AppendingALinkedNodeMovesItAndNeverBelowItself) {
    doc_ptr doc = new_doc();
    ASSERT_EQ(1, doc->load_from_string(X("<r><p><a/><x><y>t</y></x><b/></p><q><z/></q></r>").c_str()));
    KVXML_node* x = at(doc.get(), "r/p/x");
    at(doc.get(), "r/q")->append_child(x);
    at(doc.get(), "r/p")->remove_child(x);  // the caller believes x is still there
    const std::string moved = "?xml[version=1.0]{r{p{a,b},q{z,x{y\"t\"}}}}";
    EXPECT_EQ(moved, dump(doc->get_root()));

    at(doc.get(), "r/q/x/y")->append_child(x);  // below itself
    x->append_child(at(doc.get(), "r"));        // an ancestor below its descendant
    EXPECT_EQ(moved, dump(doc->get_root()));

    doc_ptr again = new_doc();
    ASSERT_EQ(1, again->load_from_string(serialize(doc.get()).c_str()));
    EXPECT_TRUE(doc->get_root()->equals_deep(again->get_root()));
}

// The state that linking a node twice leaves behind: x stays in p's child list while its
// parent link names a deeper node elsewhere, or (once removed "from p") no node at all.
// Walks leave x out, as if p's list ended before it.
TEST(XmlMisuse, WalksPassOverANodeWhoseParentLinkDisagrees) {
    const char* source = "<r><p><a/><x><y>t</y></x></p><q><z><w>w</w></z></q></r>";
    const char* without_x = "<r><p><a/></p><q><z><w>w</w></z></q></r>";
    struct row { const char* what; const char* parent; };
    const row rows[] = {{"names a deeper node elsewhere", "r/q/z/w"}, {"is missing", nullptr}};
    for (const row& r : rows) {
        doc_ptr doc = new_doc(), expected = new_doc(), copy = new_doc();
        ASSERT_EQ(1, doc->load_from_string(X(source).c_str()));
        ASSERT_EQ(1, expected->load_from_string(X(without_x).c_str()));
        KVXML_node* x = at(doc.get(), "r/p/x");
        x->parent = r.parent ? at(doc.get(), r.parent) : nullptr;
        KV_xml_node* top = doc->get_root()->get_child(0, nullptr);

        EXPECT_EQ(narrow(serialize(expected.get())), narrow(serialize(doc.get()))) << r.what;
        EXPECT_EQ(nullptr, top->find_descendant(X("y").c_str())) << r.what;
        EXPECT_EQ(nullptr, top->find_by_path(X("p/x/y").c_str())) << r.what;
        xml_char* inner = top->get_inner_text();
        EXPECT_EQ("w", narrow(inner)) << r.what;
        doc->free_string(inner);
        EXPECT_TRUE(top->equals_deep(expected->get_root()->get_child(0, nullptr))) << r.what;
        EXPECT_EQ(1, copy->copy_document(doc.get(), copy.get())) << r.what;
        EXPECT_EQ(narrow(serialize(expected.get())), narrow(serialize(copy.get()))) << r.what;
        x->parent = at(doc.get(), "r/p");
    }
}
