#pragma once
// What the fuzz targets share: the check that turns a broken property into a finding,
// the reading of fuzz bytes as 16-bit units, and the XML helpers.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "xml/kv_xml.h"

// A property that does not hold is a finding: report it and abort, so that libFuzzer
// keeps the input as a crash artifact.
[[noreturn]] void fuzz_fail(const char* property, const char* file, int line);
#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : fuzz_fail(#condition, __FILE__, __LINE__))

// The bytes as little-endian 16-bit units; an odd last byte is dropped.
std::u16string fuzz_units(const std::uint8_t* data, std::size_t size);

// Takes bytes from the front of the fuzz input; zeros once it runs out.
class fuzz_bytes {
public:
    fuzz_bytes(const std::uint8_t* data, std::size_t size) noexcept : data_(data), left_(size) {}
    std::uint8_t byte() noexcept;
    std::uint32_t u32() noexcept;
    // Up to n bytes (fewer when the input runs out).
    std::string take(std::size_t n);
    std::string rest() { return take(left_); }
    std::size_t left() const noexcept { return left_; }

private:
    const std::uint8_t* data_;
    std::size_t left_;
};

using xml_text = std::basic_string<xml_char>;

struct fuzz_doc_deleter {
    void operator()(KV_xml_doc* doc) const noexcept { doc->release(); }
};
using fuzz_doc = std::unique_ptr<KV_xml_doc, fuzz_doc_deleter>;
inline fuzz_doc fuzz_new_doc() { return fuzz_doc(create_xml_document()); }

// to_string as an owned string.
xml_text fuzz_serialize(KV_xml_doc& doc);

// True when the serializer's output of this document reads back into the same tree (so
// serializing that again gives the same text): the root is the declaration "?xml" with
// at least one attribute; no other node is named "?xml"; no name of a node or attribute
// holds white space, "/", ">", "=" or a quote character or begins with "!--"; no node has
// both a text and children; no text has white space at either end; no text or attribute
// value holds a carriage return or line feed; no attribute name of the declaration
// begins with "?". (After each value of the declaration the parser steps over a "?", and
// an attribute name that follows it can begin with white space, which reading the
// output skips.)
bool fuzz_reads_back(KV_xml_doc& doc);

// Checks the copy and comparison operations on a loaded document: the document equals
// itself, copy_document and copy_children give trees equal to the source (names,
// attributes, texts, shape), clone_into copies one node shallowly.
void fuzz_check_copies(KV_xml_doc& doc);

// Checks the lookups against a walk of the tree: find_descendant, find_by_path and
// get_by_path along the path to the last node, get_inner_text, find_child_by_attribute.
void fuzz_check_lookups(KV_xml_doc& doc);
