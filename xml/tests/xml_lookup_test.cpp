// Lookups, tree primitives and comparisons.
#include <gtest/gtest.h>

#include <cstdlib>

#include "xml_test_support.h"

namespace {
doc_ptr load(const char* text) {
    doc_ptr doc = new_doc();
    EXPECT_EQ(1, doc->load_from_string(X(text).c_str())) << text;
    return doc;
}
std::string name_of(KV_xml_node* n) { return n ? narrow(n->get_name()) : "(none)"; }
std::string id_of(KV_xml_node* n) { return n ? narrow(n->get_attribute_value(X("id").c_str())) : "(none)"; }
}  // namespace

TEST(XmlLookup, AttributesByIndexAndFilter) {
    doc_ptr doc = load("<a x='1' y='2' X2='3' Y='dup'/>");
    KV_xml_node* a = doc->get_root()->get_child(0, nullptr);
    // Repeating Y (case-insensitively) replaced y's value in its place.
    EXPECT_EQ("a[x=1;y=dup;X2=3]", dump(a));
    EXPECT_EQ("X2", narrow(a->get_attribute(2, nullptr)->get_name()));
    EXPECT_EQ("dup", narrow(a->get_attribute(0, X("Y").c_str())->get_value()));
    EXPECT_EQ(nullptr, a->get_attribute(1, X("y").c_str()));
    EXPECT_EQ(nullptr, a->get_attribute(-1, nullptr));
    EXPECT_EQ(nullptr, a->get_attribute(3, nullptr));
    const xml_char* missing = a->get_attribute_value(X("nope").c_str());
    ASSERT_NE(nullptr, missing);
    EXPECT_EQ(0, missing[0]);
}

TEST(XmlLookup, ChildrenByIndexAndFilter) {
    doc_ptr doc = load("<r><f id='1'/><g id='2'/><F id='3'/></r>");
    KV_xml_node* r = doc->get_root()->get_child(0, X("R").c_str());
    ASSERT_NE(nullptr, r);
    EXPECT_EQ("3", id_of(r->get_child(1, X("f").c_str())));
    EXPECT_EQ("2", id_of(r->get_child(1, nullptr)));
    EXPECT_EQ(nullptr, r->get_child(2, X("f").c_str()));
    EXPECT_EQ(nullptr, r->get_child(-1, nullptr));
    EXPECT_EQ(1, r->has_children());
    EXPECT_EQ(0, r->get_child(0, nullptr)->has_children());
    EXPECT_EQ(r, r->get_child(0, nullptr)->get_parent());
    EXPECT_EQ(nullptr, doc->get_root()->get_parent());
}

TEST(XmlLookup, FindDescendantIsDepthFirstBelowTheNode) {
    doc_ptr doc = load("<x id='top'><a><x id='deep'/></a><x id='second'/></x>");
    KV_xml_node* top = doc->get_root()->get_child(0, nullptr);
    EXPECT_EQ("deep", id_of(top->find_descendant(X("X").c_str())));
    EXPECT_EQ("top", id_of(doc->get_root()->find_descendant(X("x").c_str())));
    EXPECT_EQ(nullptr, top->find_descendant(X("").c_str()));
    EXPECT_EQ(nullptr, top->find_descendant(nullptr));
    EXPECT_EQ(nullptr, top->find_descendant(X("none").c_str()));
}

TEST(XmlLookup, Paths) {
    doc_ptr doc = load("<r><a id='a1'><c id='no'/></a><a id='a2'><b id='b2'/></a></r>");
    KV_xml_node* r = doc->get_root()->get_child(0, nullptr);
    struct row { const char* path; const char* get; const char* find; };
    const row rows[] = {
        {"", "r", "r"}, {"/", "r", "r"}, {"a", "a1", "a1"}, {"a/b", "(none)", "b2"},
        {"/a//b/", "(none)", "b2"}, {"A/C", "no", "no"}, {"a/c/d", "(none)", "(none)"},
        {"x", "(none)", "(none)"},
    };
    for (const row& p : rows) {
        KV_xml_node* got = r->get_by_path(X(p.path).c_str());
        KV_xml_node* found = r->find_by_path(X(p.path).c_str());
        EXPECT_EQ(p.get, got == r ? "r" : id_of(got)) << p.path;
        EXPECT_EQ(p.find, found == r ? "r" : id_of(found)) << p.path;
    }
    EXPECT_EQ(r->get_by_path(X("/a//c/").c_str()), r->get_by_path(X("a/c").c_str()));
}

TEST(XmlLookup, FindChildByAttribute) {
    doc_ptr doc = load("<r><a k='One'/><b/><c k='two'/></r>");
    KV_xml_node* r = doc->get_root()->get_child(0, nullptr);
    EXPECT_EQ("c", name_of(r->find_child_by_attribute(X("K").c_str(), X("TWO").c_str())));
    EXPECT_EQ("a", name_of(r->find_child_by_attribute(X("k").c_str(), X("one").c_str())));
    EXPECT_EQ("b", name_of(r->find_child_by_attribute(X("k").c_str(), X("").c_str())));
    EXPECT_EQ(nullptr, r->find_child_by_attribute(X("k").c_str(), X("three").c_str()));
}

TEST(XmlLookup, InnerText) {
    doc_ptr doc = load("<r><a>one</a><b><c>two</c><d/><e>three</e></b></r>");
    KV_xml_node* r = doc->get_root()->get_child(0, nullptr);
    xml_char* text = r->get_inner_text();
    EXPECT_EQ("onetwothree", narrow(text));
    std::free(text);  // a runtime heap string: free() releases it too
    r->set_text(X("own").c_str());
    text = r->get_inner_text();
    EXPECT_EQ("own", narrow(text));
    doc->free_string(text);
    doc->free_string(nullptr);
}

TEST(XmlLookup, ShallowComparisonIgnoresTextAndCompareAttributesByPosition) {
    doc_ptr doc = load("<r><a x='1' y='2'>t</a><A X='1' Y='2'/><a y='2' x='1'/><a x='1'/>"
                       "<a x='1' y='2' z='3'/><b x='1' y='2'/></r>");
    KV_xml_node* r = doc->get_root()->get_child(0, nullptr);
    KV_xml_node* first = r->get_child(0, nullptr);
    const bool expected[] = {true, true, false, false, false, false};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(expected[i], first->equals_shallow(r->get_child(i, nullptr))) << i;
        EXPECT_EQ(!expected[i], first->differs_shallow(r->get_child(i, nullptr))) << i;
    }
    EXPECT_FALSE(first->equals_shallow(nullptr));
    EXPECT_FALSE(first->equals_deep(nullptr));
}

TEST(XmlLookup, DeepComparison) {
    struct row { const char* left; const char* right; bool equal; };
    const row rows[] = {
        {"<a><b/><c x='1'/></a>", "<A><B/><C X='1'/></A>", true},
        {"<a><b>text</b></a>", "<a><b>other</b></a>", true},
        {"<a><b/><c/></a>", "<a><b/></a>", false},
        {"<a><b/></a>", "<a><b/><c/></a>", false},
        {"<a><b><c/></b></a>", "<a><b/></a>", false},
        {"<a><b/></a>", "<a><b><c/></b></a>", false},
        {"<a><b><c x='1'/></b><d/></a>", "<a><b><c x='2'/></b><d/></a>", false},
        {"<a><b><c/></b><d/></a>", "<a><b><c/></b><e/></a>", false},
    };
    for (const row& r : rows) {
        doc_ptr left = load(r.left), right = load(r.right);
        KV_xml_node* a = left->get_root()->get_child(0, nullptr);
        KV_xml_node* b = right->get_root()->get_child(0, nullptr);
        EXPECT_EQ(r.equal, a->equals_deep(b)) << r.left << " vs " << r.right;
    }
}

TEST(XmlLookup, TreePrimitives) {
    doc_ptr doc = new_doc();
    EXPECT_EQ(nullptr, doc->get_root());
    EXPECT_EQ(1, doc->create_new());
    KV_xml_node* root = doc->get_root();
    EXPECT_EQ("?xml[version=1.0]", dump(root));
    KV_xml_node* a = root->add_child(X("a").c_str());
    KV_xml_node* b = root->add_child(X("b").c_str());
    root->remove_child(a);
    EXPECT_EQ(nullptr, a->get_parent());
    EXPECT_EQ("?xml[version=1.0]{b}", dump(root));
    root->remove_child(a);  // not a child any more: ignored
    b->append_child(a);
    EXPECT_EQ(b, a->get_parent());
    EXPECT_EQ("?xml[version=1.0]{b{a}}", dump(root));
    EXPECT_EQ(1, a->set_attribute(X("k").c_str(), X("1").c_str()));
    EXPECT_EQ(1, a->set_attribute(X("m").c_str(), X("2").c_str()));
    EXPECT_EQ(1, a->set_attribute(X("K").c_str(), X("3").c_str()));
    EXPECT_EQ("a[k=3;m=2]", dump(a));
    a->remove_attribute(X("K").c_str());
    EXPECT_EQ("a[m=2]", dump(a));
    a->remove_attribute(X("missing").c_str());
    a->remove_attribute(X("m").c_str());
    EXPECT_EQ("a", dump(a));
    a->set_text(X("&amp;").c_str());
    EXPECT_EQ("&amp;", narrow(a->get_text()));
    a->set_text(nullptr);
    EXPECT_EQ("", narrow(a->get_text()));
    b->remove_child(a);
    a->release();  // detached: the client's to release
    doc->clear();
    EXPECT_EQ(nullptr, doc->get_root());
}

TEST(XmlLookup, RemoveAttributeUnlinksMiddleAndHead) {
    doc_ptr doc = load("<a p='1' q='2' r='3'/>");
    KV_xml_node* a = doc->get_root()->get_child(0, nullptr);
    a->remove_attribute(X("q").c_str());
    EXPECT_EQ("a[p=1;r=3]", dump(a));
    a->remove_attribute(X("p").c_str());
    EXPECT_EQ("a[r=3]", dump(a));
    a->set_attribute(X("s").c_str(), X("4").c_str());
    EXPECT_EQ("a[r=3;s=4]", dump(a));
}
