// Argument scrambling: the input's units as plain text scramble into units that all lie
// in 0x4000..0xBFFF, m = L + ceil(L/15) of them, which unscramble to the input again.
// The same units taken as a coded text, in a heap block of exactly their size, decode to
// floor(15m/16) units without a read past the block (AddressSanitizer watches).
#include <cstring>
#include <memory>

#include "dispatcher/argument_scrambling.h"
#include "tests/fuzz/fuzz_support.h"

namespace as = argument_scrambling;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string units = fuzz_units(data, size);
    const std::size_t length = units.size();

    std::size_t coded_length = 0;
    FUZZ_CHECK(as::scrambled_length(length, coded_length));
    FUZZ_CHECK(coded_length == length + (length + 14) / 15);
    FUZZ_CHECK(as::unscrambled_length(coded_length) == length);
    std::unique_ptr<as::unit[]> coded(new as::unit[coded_length]);
    as::scramble_units(units.data(), length, coded.get());
    for (std::size_t i = 0; i < coded_length; ++i) FUZZ_CHECK(coded[i] >= 0x4000 && coded[i] <= 0xBFFF);
    std::unique_ptr<as::unit[]> plain(new as::unit[length]);
    as::unscramble_units(coded.get(), coded_length, plain.get());
    FUZZ_CHECK(std::memcmp(plain.get(), units.data(), length * sizeof(as::unit)) == 0);

    // Any units as coded text: exact-size blocks on both sides.
    std::unique_ptr<as::unit[]> exact(new as::unit[length]);
    if (length) std::memcpy(exact.get(), units.data(), length * sizeof(as::unit));
    const std::size_t decoded_length = as::unscrambled_length(length);
    FUZZ_CHECK(decoded_length == length * 15 / 16);
    std::unique_ptr<as::unit[]> decoded(new as::unit[decoded_length]);
    as::unscramble_units(exact.get(), length, decoded.get());

    // text_length finds the first zero unit.
    std::u16string terminated = units;
    const std::size_t zero = units.find(u'\0');
    FUZZ_CHECK(as::text_length(terminated.c_str()) == (zero == std::u16string::npos ? length : zero));
    return 0;
}
