// The serializer's three forms and the exact texts of the edge cases.
#include <gtest/gtest.h>

#include "xml_test_support.h"

namespace {
const std::string bom = "\\uFEFF";
std::string text_of(KV_xml_doc* doc) { return narrow(serialize(doc)); }
}  // namespace

TEST(XmlSerializer, EmptyDocumentIsOnlyTheByteOrderMark) {
    doc_ptr doc = new_doc();
    EXPECT_EQ(bom, text_of(doc.get()));
}

TEST(XmlSerializer, FreshDocumentIsTheDeclarationWithoutLineBreak) {
    doc_ptr doc = new_doc();
    doc->create_new();
    EXPECT_EQ(bom + "<?xml version=\"1.0\"?>", text_of(doc.get()));
}

TEST(XmlSerializer, ResultDocument) {
    doc_ptr doc = new_doc();
    doc->create_new();
    doc->get_root()->add_child(X("value").c_str())->set_text(X("true").c_str());
    EXPECT_EQ(bom + "<?xml version=\"1.0\"?>\\r\\n  <value>true</value>\\r\\n", text_of(doc.get()));
}

TEST(XmlSerializer, LoadedEnvelopeWithoutDeclaration) {
    doc_ptr doc = new_doc();
    ASSERT_EQ(1, doc->load_from_string(X("<function name=\"x\"/>").c_str()));
    EXPECT_EQ(bom + "<?xml version=\"1.0\"?>\\r\\n  <function name=\"x\"></function>\\r\\n",
              text_of(doc.get()));
}

TEST(XmlSerializer, FormsOfOneElement) {
    struct row { const char* input; const char* output; };
    const row rows[] = {
        {"<a/>", "  <a>\\r\\n  </a>\\r\\n"},
        {"<a b='1'/>", "  <a b=\"1\"></a>\\r\\n"},
        {"<a b='1' c='2'>t</a>", "  <a b=\"1\" c=\"2\">t</a>\\r\\n"},
        {"<a><b/></a>", "  <a>\\r\\n    <b>\\r\\n    </b>\\r\\n  </a>\\r\\n"},
        {"<a><b c='1'/><d>x</d></a>",
         "  <a>\\r\\n    <b c=\"1\"></b>\\r\\n    <d>x</d>\\r\\n  </a>\\r\\n"},
        {"<a b=\"a&lt;b &amp; &quot;c&quot; 'd'\"/>",
         "  <a b=\"a&lt;b &amp; &quot;c&quot; &#39;d&#39;\"></a>\\r\\n"},
        {"<a>&#10;&lt;x&gt;</a>", "  <a>\\n&lt;x&gt;</a>\\r\\n"},
    };
    for (const row& r : rows) {
        doc_ptr doc = new_doc();
        ASSERT_EQ(1, doc->load_from_string(X(r.input).c_str())) << r.input;
        EXPECT_EQ(bom + "<?xml version=\"1.0\"?>\\r\\n" + r.output, text_of(doc.get())) << r.input;
    }
}

TEST(XmlSerializer, TextWinsOverChildren) {
    doc_ptr doc = new_doc();
    doc->create_new();
    KV_xml_node* a = doc->get_root()->add_child(X("a").c_str());
    a->add_child(X("hidden").c_str());
    a->set_text(X("shown").c_str());
    EXPECT_EQ(bom + "<?xml version=\"1.0\"?>\\r\\n  <a>shown</a>\\r\\n", text_of(doc.get()));
}

TEST(XmlSerializer, DeclarationForms) {
    struct row { const char* input; const char* output; };
    const row rows[] = {
        {"<?xml version='1.0' encoding='UTF-8'?><f/>",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\\r\\n  <f>\\r\\n  </f>\\r\\n"},
        // A declaration below the root is written as a declaration too, without end tag.
        {"<a/><?xml v='2'?><b/>",
         "<?xml version=\"1.0\"?>\\r\\n  <a>\\r\\n  </a>\\r\\n  <?xml v=\"2\"?>\\r\\n    <b>\\r\\n"
         "    </b>\\r\\n  "},
        {"<?xml?></?xml?>", "<?xml version=\"1.0\"?>\\r\\n  <?xml?>\\r\\n  </?xml?>\\r\\n"},
    };
    for (const row& r : rows) {
        doc_ptr doc = new_doc();
        ASSERT_EQ(1, doc->load_from_string(X(r.input).c_str())) << r.input;
        EXPECT_EQ(bom + r.output, text_of(doc.get())) << r.input;
    }
}

TEST(XmlSerializer, DeclarationWithoutAttributesOrChildren) {
    doc_ptr doc = new_doc();
    doc->create_new();
    doc->get_root()->remove_attribute(X("version").c_str());
    EXPECT_EQ(bom + "<?xml?>\\r\\n", text_of(doc.get()));
}

TEST(XmlSerializer, NamesAreWrittenUnescaped) {
    doc_ptr doc = new_doc();
    doc->create_new();
    KV_xml_node* n = doc->get_root()->add_child(X("a&b").c_str());
    n->set_attribute(X("<k>").c_str(), X("v").c_str());
    EXPECT_EQ(bom + "<?xml version=\"1.0\"?>\\r\\n  <a&b <k>=\"v\"></a&b>\\r\\n", text_of(doc.get()));
}

TEST(XmlSerializer, LineBreaksAreWrittenAndLostOnReload) {
    doc_ptr doc = new_doc();
    doc->create_new();
    KV_xml_node* a = doc->get_root()->add_child(X("a").c_str());
    a->set_text(X("x\r\ny").c_str());
    a->set_attribute(X("v").c_str(), X("1\n2").c_str());
    const xml_string out = serialize(doc.get());
    EXPECT_EQ(bom + "<?xml version=\"1.0\"?>\\r\\n  <a v=\"1\\n2\">x\\r\\ny</a>\\r\\n", narrow(out));
    doc_ptr again = new_doc();
    ASSERT_EQ(1, again->load_from_string(out.c_str()));
    EXPECT_EQ("?xml[version=1.0]{a[v=12]\"xy\"}", dump(again->get_root()));
}

TEST(XmlSerializer, GetTextEscaped) {
    doc_ptr doc = new_doc();
    doc->create_new();
    KV_xml_node* a = doc->get_root()->add_child(X("a").c_str());
    a->set_text(X("1 < 2 & 'q' \"w\" >").c_str());
    xml_buffer out;
    out.assign(X("old content").c_str());
    a->get_text_escaped(out);
    EXPECT_EQ("1 &lt; 2 &amp; &#39;q&#39; &quot;w&quot; &gt;", narrow(out.c_str()));
    EXPECT_EQ("1 < 2 & 'q' \"w\" >", narrow(a->get_text()));
}

TEST(XmlSerializer, ReadsBackIntoTheSameTree) {
    const char* const inputs[] = {
        "<?xml version='1.0' encoding='UTF-8'?><call><function name='f' id='7'><arg i='0'>"
        "a &lt;b&gt; &amp; &quot;c&quot; &apos;d&apos;</arg><arg i='1'/><list><e>1</e><e>2</e>"
        "</list></function></call>",
        "<?xml version='1.0'?><a/><b x=''/><c>t</c>",
        "<?xml v='1'?><a><b><c><d>deep</d></c></b></a>",
    };
    for (const char* input : inputs) {
        doc_ptr doc = new_doc();
        ASSERT_EQ(1, doc->load_from_string(X(input).c_str())) << input;
        const xml_string out = serialize(doc.get());
        doc_ptr again = new_doc();
        ASSERT_EQ(1, again->load_from_string(out.c_str())) << narrow(out);
        EXPECT_EQ(dump(doc->get_root()), dump(again->get_root())) << narrow(out);
        EXPECT_EQ(out, serialize(again.get()));
    }
}
