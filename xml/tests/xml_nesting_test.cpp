// Nesting safety: loads beyond kvxml_max_depth fail like malformed text, hostile depth
// is refused without exhausting the stack, and deep trees built through the interface
// are released, searched, compared, copied and serialized without recursion.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "xml_test_support.h"

namespace {
int depth_of(KV_xml_node* n) {
    int depth = 0;
    // Follows the last child at each level.
    while (n->has_children()) {
        int last = 0;
        while (n->get_child(last + 1, nullptr)) ++last;
        n = n->get_child(last, nullptr);
        ++depth;
    }
    return depth;
}

// A chain of `levels` nodes named "a" below the document's root.
KV_xml_node* build_chain(KV_xml_doc* doc, int levels) {
    doc->create_new();
    KV_xml_node* n = doc->get_root();
    for (int i = 0; i < levels; ++i) n = n->add_child(X("a").c_str());
    return n;
}
}  // namespace

TEST(XmlNesting, LimitIsAtLeast256) { EXPECT_GE(kvxml_max_depth, 256); }

TEST(XmlNesting, LoadAcceptsTheLimitAndRefusesOneMore) {
    struct row { const char* prefix; int levels; int result; };
    const row rows[] = {
        {"", kvxml_max_depth, 1},
        {"", kvxml_max_depth + 1, 0},
        {"<?xml version='1.0'?>", kvxml_max_depth, 1},
        {"<?xml version='1.0'?>", kvxml_max_depth + 1, 0},
        {"<top/>", kvxml_max_depth, 1},
        {"<top/><?xml version='1.0'?>", kvxml_max_depth, 0},  // a second declaration is one level
    };
    for (const row& r : rows) {
        doc_ptr doc = new_doc();
        const xml_string text = X(r.prefix) + nested(r.levels);
        EXPECT_EQ(r.result, doc->load_from_string(text.c_str())) << r.prefix << r.levels;
        if (r.result) {
            EXPECT_EQ(r.levels, depth_of(doc->get_root()));
        }
    }
}

TEST(XmlNesting, ClosedElementAtTheLimitPlusOneFails) {
    doc_ptr doc = new_doc();
    const xml_string inner = nested(kvxml_max_depth);
    const std::size_t middle = inner.find(X("</"));  // inside the innermost element
    const xml_string text = inner.substr(0, middle) + X("<deep/>") + inner.substr(middle);
    EXPECT_EQ(0, doc->load_from_string(text.c_str()));
}

TEST(XmlNesting, HostileDepthIsRefusedWithoutCrash) {
    doc_ptr doc = new_doc();
    EXPECT_EQ(0, doc->load_from_string(nested(100000).c_str()));
    EXPECT_EQ("?xml[version=1.0]", dump(doc->get_root()));
    // Unclosed start tags and chains of declarations (each swallows what follows) too.
    xml_string open;
    for (int i = 0; i < 100000; ++i) open += X("<b x='1'>");
    EXPECT_EQ(0, doc->load_from_string(open.c_str()));
    xml_string declarations;
    for (int i = 0; i < 100000; ++i) declarations += X("<?xml v='1'?>");
    EXPECT_EQ(0, doc->load_from_string(declarations.c_str()));
}

TEST(XmlNesting, DeepTreesBuiltThroughTheInterfaceAreSafe) {
    const int levels = 100000;
    doc_ptr doc = new_doc();
    KV_xml_node* leaf = build_chain(doc.get(), levels);
    leaf->set_text(X("leaf").c_str());
    leaf->add_child(X("hidden").c_str());
    KV_xml_node* root = doc->get_root();

    xml_char* inner = root->get_inner_text();
    EXPECT_EQ("leaf", narrow(inner));
    doc->free_string(inner);
    EXPECT_EQ(leaf, root->find_descendant(X("hidden").c_str())->get_parent());

    xml_string path;
    for (int i = 0; i < levels; ++i) path += X("a/");
    EXPECT_EQ(leaf, root->find_by_path(path.c_str()));
    EXPECT_EQ(leaf, root->get_by_path(path.c_str()));
    EXPECT_EQ(nullptr, root->find_by_path((path + X("nothing")).c_str()));

    doc_ptr copy = new_doc();
    EXPECT_EQ(1, copy->copy_document(doc.get(), copy.get()));
    EXPECT_TRUE(root->equals_deep(copy->get_root()));
    copy->get_root()->find_descendant(X("hidden").c_str())->set_attribute(X("k").c_str(), X("v").c_str());
    EXPECT_FALSE(root->equals_deep(copy->get_root()));

    // The text would exceed what a 32-bit buffer holds (two spaces per level on every
    // line): refused as exhausted memory, not by crashing.
    EXPECT_THROW(doc->to_string(), std::bad_alloc);
    doc->clear();  // releases 100,000 levels
    copy->release();
    copy.release();
}

TEST(XmlNesting, DeepTreeSerializesAndRefusesToLoadBack) {
    const int levels = 3000;
    doc_ptr doc = new_doc();
    build_chain(doc.get(), levels)->set_text(X("x").c_str());
    const xml_string text = serialize(doc.get());
    std::size_t starts = 0;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) starts += (text[i] == u'<' && text[i + 1] == u'a');
    EXPECT_EQ(static_cast<std::size_t>(levels), starts);
    EXPECT_EQ(xml_string(2 * levels, u' ') + X("<a>x</a>\r\n"),
              text.substr(text.find(X("<a>x")) - 2 * levels, 2 * levels + 10));
    doc_ptr again = new_doc();
    EXPECT_EQ(0, again->load_from_string(text.c_str()));
}

TEST(XmlNesting, ReleasingADetachedDeepNode) {
    doc_ptr doc = new_doc();
    build_chain(doc.get(), 50000);
    KV_xml_node* top = doc->get_root()->get_child(0, nullptr);
    doc->get_root()->remove_child(top);
    top->release();
    EXPECT_EQ(0, doc->get_root()->has_children());
}
