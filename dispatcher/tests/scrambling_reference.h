#pragma once
// The argument scrambling written step by step, one unit at a time, as plainly as
// possible: the yardstick the fast implementation is compared against.
#include <cstdint>
#include <random>
#include <vector>

namespace scrambling_reference {

using units = std::vector<char16_t>;

inline char16_t swap_bytes(char16_t u) { return static_cast<char16_t>(((u & 0xFF) << 8) | (u >> 8)); }

inline units scramble(const units& plain) {
    const std::uint64_t length = plain.size();
    units coded((16 * length + 14) / 15);
    char16_t previous = 0x6D1B;
    std::uint16_t group = 0;
    for (std::size_t j = 0; j < plain.size(); ++j) {
        const char16_t chain = swap_bytes(static_cast<char16_t>(plain[j] ^ previous));
        previous = chain;
        const std::size_t d = j % 15;
        coded[j] = static_cast<char16_t>((chain & 0x7FFF) + 0x4000);
        if (chain & 0x8000) group = static_cast<std::uint16_t>(group | (1u << d));
        if (d == 14 || j == plain.size() - 1) {
            coded[plain.size() + j / 15] = static_cast<char16_t>(group + 0x4000);
            group = 0;
        }
    }
    return coded;
}

inline units unscramble(const units& coded) {
    const std::uint64_t length = coded.size();
    const std::size_t n = static_cast<std::size_t>((length * 15) >> 4);
    units words(n);
    std::uint16_t group = 0;
    for (std::size_t j = 0; j < n; ++j) {
        if (j % 15 == 0) group = static_cast<std::uint16_t>(coded[n + j / 15] - 0x4000);
        const std::uint16_t body = static_cast<std::uint16_t>(coded[j] - 0x4000);
        const std::uint16_t top = static_cast<std::uint16_t>(((group >> (j % 15)) & 1) << 15);
        words[j] = static_cast<char16_t>(body | top);
    }
    for (std::size_t i = n; i-- > 0;) {
        words[i] = static_cast<char16_t>(swap_bytes(words[i]) ^ (i > 0 ? words[i - 1] : 0x6D1B));
    }
    return words;
}

// `length` units drawn uniformly from [low, high].
inline units random_units(std::mt19937& rng, std::size_t length, char16_t low = 1, char16_t high = 0xFFFF) {
    std::uniform_int_distribution<unsigned> pick(low, high);
    units text(length);
    for (auto& u : text) u = static_cast<char16_t>(pick(rng));
    return text;
}

}  // namespace scrambling_reference
