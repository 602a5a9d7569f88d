// clone_into, copy_children and copy_document.
#include <gtest/gtest.h>

#include "xml_test_support.h"

namespace {
doc_ptr load(const char* text) {
    doc_ptr doc = new_doc();
    EXPECT_EQ(1, doc->load_from_string(X(text).c_str())) << text;
    return doc;
}
}  // namespace

TEST(XmlCopy, CloneIntoIsShallowAndCopiesValuesUnchanged) {
    doc_ptr src = load("<a k='&amp;amp;' m='2'>t &amp;amp; u<child/></a>");
    KV_xml_node* a = src->get_root()->get_child(0, nullptr);
    a->set_text(X("&amp;").c_str());
    doc_ptr dst = new_doc();
    dst->create_new();
    KV_xml_node* root = dst->get_root();
    root->add_child(X("first").c_str());
    KV_xml_node* copy = root->clone_into(a, root);
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(root, copy->get_parent());
    EXPECT_EQ("?xml[version=1.0]{first,a[k=&amp;;m=2]\"&amp;\"}", dump(root));
    EXPECT_NE(std::string::npos,
              narrow(serialize(dst.get())).find("<a k=\"&amp;amp;\" m=\"2\">&amp;amp;</a>"));
}

TEST(XmlCopy, CopyChildrenIsDeepAndFiltered) {
    doc_ptr src = load("<r><f n='1'><g><h>x</h></g><i/></f><skip/><F n='2'/></r>");
    KV_xml_node* r = src->get_root()->get_child(0, nullptr);
    doc_ptr dst = new_doc();
    dst->create_new();
    KV_xml_node* root = dst->get_root();
    EXPECT_EQ(1, root->copy_children(r, root, X("f").c_str()));
    EXPECT_EQ("?xml[version=1.0]{f[n=1]{g{h\"x\"},i},F[n=2]}", dump(root));
    EXPECT_EQ(1, root->copy_children(r, root, nullptr));
    EXPECT_EQ("?xml[version=1.0]{f[n=1]{g{h\"x\"},i},F[n=2],f[n=1]{g{h\"x\"},i},skip,F[n=2]}",
              dump(root));
    // Parent links of the copies lead back up the new tree.
    KV_xml_node* h = root->find_by_path(X("f/g/h").c_str());
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(root, h->get_parent()->get_parent()->get_parent());
}

TEST(XmlCopy, CopyIntoTheSourceItselfCopiesTheOriginalChildrenOnce) {
    doc_ptr doc = load("<r><a><b/></a><c/></r>");
    KV_xml_node* r = doc->get_root()->get_child(0, nullptr);
    EXPECT_EQ(1, r->copy_children(r, r, nullptr));
    EXPECT_EQ("r{a{b},c,a{b},c}", dump(r));
    KV_xml_node* b = r->find_by_path(X("a/b").c_str());
    EXPECT_EQ(1, r->copy_children(r, b, nullptr));
    EXPECT_EQ("r{a{b{a{b},c,a{b},c}},c,a{b},c}", dump(r));
}

TEST(XmlCopy, CopyDocumentKeepsOnlyTheVersionOnTheRoot) {
    doc_ptr src = load("<?xml version='1.1' encoding='UTF-8'?><call><f n='x'>t</f></call><z/>");
    doc_ptr dst = load("<old/>");
    EXPECT_EQ(1, dst->copy_document(src.get(), dst.get()));
    EXPECT_EQ("?xml[version=1.0]{call{f[n=x]\"t\"},z}", dump(dst->get_root()));
    // The object called on does not matter.
    doc_ptr third = new_doc();
    EXPECT_EQ(1, src->copy_document(dst.get(), third.get()));
    EXPECT_EQ(dump(dst->get_root()), dump(third->get_root()));
}

TEST(XmlCopy, CopyDocumentFromEmptyOrOntoItself) {
    doc_ptr empty = new_doc();
    doc_ptr dst = load("<old/>");
    EXPECT_EQ(1, dst->copy_document(empty.get(), dst.get()));
    EXPECT_EQ("?xml[version=1.0]", dump(dst->get_root()));
    doc_ptr self = load("<a><b/></a>");
    EXPECT_EQ(1, self->copy_document(self.get(), self.get()));
    EXPECT_EQ("?xml[version=1.0]", dump(self->get_root()));
}
