// rxctl's text forms. UTF-8: bytes the strict reader accepts are written back as the same
// bytes; refused ones are refused at an offset inside the input. UTF-16: units without a
// lone surrogate go to UTF-8 and back unchanged; the display form (lone halves as
// U+FFFD) is always valid UTF-8 and equals the strict form where that exists. Hexadecimal: accepted text yields units
// whose written form reads back as the same units.
#include <string_view>

#include "tests/fuzz/fuzz_support.h"
#include "tools/rxctl/text_units.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    std::u16string units;
    std::size_t bad_offset = 0;
    if (text_units::from_utf8(bytes, units, bad_offset)) {
        std::string back;
        std::size_t bad_index = 0;
        FUZZ_CHECK(text_units::to_utf8(units, back, bad_index));
        FUZZ_CHECK(back == bytes);
    } else {
        FUZZ_CHECK(bad_offset < size);
        // Everything before the offending sequence is well-formed.
        std::u16string prefix;
        std::size_t ignored = 0;
        FUZZ_CHECK(text_units::from_utf8(bytes.substr(0, bad_offset), prefix, ignored));
    }

    const std::u16string wide = fuzz_units(data, size);
    std::string utf8;
    std::size_t bad_index = 0;
    const std::string replaced = text_units::to_utf8_replacing(wide);
    std::u16string read_back;
    // The display form is always well-formed UTF-8, and the strict form whenever that exists.
    FUZZ_CHECK(text_units::from_utf8(replaced, read_back, bad_offset));
    if (text_units::to_utf8(wide, utf8, bad_index)) {
        std::u16string back;
        FUZZ_CHECK(text_units::from_utf8(utf8, back, bad_offset));
        FUZZ_CHECK(back == wide);
        FUZZ_CHECK(replaced == utf8);
    } else {
        FUZZ_CHECK(bad_index < wide.size() && wide[bad_index] >= 0xD800 && wide[bad_index] <= 0xDFFF);
        FUZZ_CHECK(read_back.size() == wide.size());  // one U+FFFD per lone half
    }

    std::u16string hex_units;
    std::string bad_token;
    if (text_units::from_hex(bytes, hex_units, bad_token)) {
        const std::string written = text_units::to_hex(hex_units);
        std::u16string back;
        FUZZ_CHECK(text_units::from_hex(written, back, bad_token));
        FUZZ_CHECK(back == hex_units);
    } else {
        FUZZ_CHECK(!bad_token.empty() && bytes.find(bad_token) != std::string_view::npos);
    }
    const std::string written = text_units::to_hex(wide);
    std::u16string back;
    FUZZ_CHECK(text_units::from_hex(written, back, bad_token) && back == wide);
    return 0;
}
