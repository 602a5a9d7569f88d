// The interfaces' vtable order is part of their contract: clients compiled against the
// interface call slot numbers. These tests pin every operation to its slot and call a
// few through the raw vtable.
#include <gtest/gtest.h>

#include <cstring>

#include "xml_test_support.h"

namespace {
#if defined(__GNUC__)
// Under the Itanium C++ ABI (GCC, Clang, mingw-w64) a pointer to a virtual member
// function holds 1 + the byte offset of its slot in the vtable.
template <typename Member>
long slot_of(Member member) {
    std::ptrdiff_t raw = 0;
    std::memcpy(&raw, &member, sizeof raw);
    return static_cast<long>((raw - 1) / static_cast<std::ptrdiff_t>(sizeof(void*)));
}
#endif
using vtable = void* const*;
vtable vtable_of(const void* object) { return *static_cast<const vtable*>(object); }
}  // namespace

#if defined(__GNUC__)
TEST(XmlInterface, NodeOperationsSitInDeclarationOrder) {
    using N = KV_xml_node;
    const long slots[] = {
        slot_of(&N::get_name), slot_of(&N::get_attribute), slot_of(&N::set_attribute),
        slot_of(&N::set_attribute_escaped), slot_of(&N::remove_attribute),
        slot_of(&N::get_attribute_value), slot_of(&N::get_text), slot_of(&N::set_text),
        slot_of(&N::set_text_escaped), slot_of(&N::get_inner_text), slot_of(&N::has_children),
        slot_of(&N::get_child), slot_of(&N::find_descendant), slot_of(&N::add_child),
        slot_of(&N::append_child), slot_of(&N::remove_child),
        slot_of(&N::find_child_by_attribute), slot_of(&N::get_by_path),
        slot_of(&N::find_by_path), slot_of(&N::get_parent), slot_of(&N::clone_into),
        slot_of(&N::copy_children), slot_of(&N::release), slot_of(&N::equals_shallow),
        slot_of(&N::differs_shallow), slot_of(&N::equals_deep), slot_of(&N::get_text_escaped),
    };
    ASSERT_EQ(27u, sizeof slots / sizeof slots[0]);
    for (long i = 0; i < 27; ++i) EXPECT_EQ(i, slots[i]) << "operation " << i;
    EXPECT_FALSE(std::has_virtual_destructor_v<KV_xml_node>);
}

TEST(XmlInterface, DocumentOperationsSitInDeclarationOrderBeforeTheDestructor) {
    using D = KV_xml_doc;
    const long slots[] = {
        slot_of(&D::free_string), slot_of(&D::release), slot_of(&D::clear),
        slot_of(&D::create_new), slot_of(&D::load_from_string), slot_of(&D::load_from_file),
        slot_of(&D::load_from_handle), slot_of(&D::to_string), slot_of(&D::save_to_file),
        slot_of(&D::save_to_handle), slot_of(&D::get_root), slot_of(&D::copy_document),
    };
    ASSERT_EQ(12u, sizeof slots / sizeof slots[0]);
    for (long i = 0; i < 12; ++i) EXPECT_EQ(i, slots[i]) << "operation " << i;
    EXPECT_TRUE(std::has_virtual_destructor_v<KV_xml_doc>);
}

TEST(XmlInterface, AttributeOperationsSitInDeclarationOrder) {
    EXPECT_EQ(0, slot_of(&KV_xml_attrib::get_name));
    EXPECT_EQ(1, slot_of(&KV_xml_attrib::get_value));
}
#else
// The slot-order tests read a pointer to a virtual member function as its slot's offset,
// a layout only the Itanium C++ ABI fixes: under another compiler they fail rather than vanish.
TEST(XmlInterface, SlotOrderTestsNeedTheItaniumMemberPointerLayout) {
    FAIL() << "the slot-order tests need the Itanium C++ ABI's member-pointer layout (GCC, Clang, "
              "mingw-w64): build kvxml_tests with such a compiler";
}
#endif

TEST(XmlInterface, CallsThroughRawSlotsReachTheRightOperations) {
    doc_ptr doc = new_doc();
    // KV_xml_doc slot 4 is load_from_string, slot 10 get_root.
    using load_fn = int (*)(KV_xml_doc*, const xml_char*);
    using root_fn = KV_xml_node* (*)(KV_xml_doc*);
    const xml_string text = X("<f name='x'>t</f>");
    ASSERT_EQ(1, reinterpret_cast<load_fn>(vtable_of(doc.get())[4])(doc.get(), text.c_str()));
    KV_xml_node* root = reinterpret_cast<root_fn>(vtable_of(doc.get())[10])(doc.get());
    ASSERT_EQ(doc->get_root(), root);
    // KV_xml_node slot 11 get_child, slot 5 get_attribute_value, slot 26 get_text_escaped.
    using child_fn = KV_xml_node* (*)(KV_xml_node*, std::int32_t, const xml_char*);
    using value_fn = const xml_char* (*)(KV_xml_node*, const xml_char*);
    using escaped_fn = void (*)(KV_xml_node*, xml_buffer&);
    KV_xml_node* f = reinterpret_cast<child_fn>(vtable_of(root)[11])(root, 0, nullptr);
    ASSERT_NE(nullptr, f);
    EXPECT_EQ("x", narrow(reinterpret_cast<value_fn>(vtable_of(f)[5])(f, X("name").c_str())));
    f->set_text(X("<&>").c_str());
    xml_buffer out;
    reinterpret_cast<escaped_fn>(vtable_of(f)[26])(f, out);
    EXPECT_EQ("&lt;&amp;&gt;", narrow(out.c_str()));
    // KV_xml_attrib slot 1 get_value.
    using attr_value_fn = const xml_char* (*)(KV_xml_attrib*);
    KV_xml_attrib* a = f->get_attribute(0, nullptr);
    EXPECT_EQ("x", narrow(reinterpret_cast<attr_value_fn>(vtable_of(a)[1])(a)));
}
