// XML text: the input's bytes are little-endian 16-bit units, loaded as one string, and
// loaded again given all of them with their length.
// When it loads: the copy, comparison and lookup operations agree with the tree, and, where the
// serializer's output reads back into the same tree (fuzz_reads_back), loading that
// output gives a document that serializes to the same text again.
#include <algorithm>

#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string units = fuzz_units(data, size);
    const xml_text text(units.begin(), units.end());  // a NUL unit ends the text early

    fuzz_doc doc = fuzz_new_doc();
    const int loaded = doc->load_from_string(text.c_str());
    // Every unit given with its length, in an array of exactly that size: a NUL unit still
    // ends the text, and no read goes past the array.
    const std::unique_ptr<xml_char[]> whole(new xml_char[units.size() + 1]());
    std::copy(units.begin(), units.end(), whole.get());
    fuzz_doc counted = fuzz_new_doc();
    FUZZ_CHECK(kvxml_load_counted(*counted, whole.get(), units.size()) == loaded);
    if (!loaded) return 0;
    FUZZ_CHECK(doc->get_root() != nullptr);
    const xml_text first = fuzz_serialize(*doc);
    FUZZ_CHECK(fuzz_serialize(*counted) == first);
    FUZZ_CHECK(!first.empty() && first[0] == 0xFEFF);
    fuzz_check_copies(*doc);
    fuzz_check_lookups(*doc);

    if (!fuzz_reads_back(*doc)) return 0;
    fuzz_doc again = fuzz_new_doc();
    FUZZ_CHECK(again->load_from_string(first.c_str()) == 1);
    FUZZ_CHECK(doc->get_root()->equals_deep(again->get_root()));
    FUZZ_CHECK(fuzz_serialize(*again) == first);
    return 0;
}
