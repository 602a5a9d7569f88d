#pragma once
// Argument scrambling, platform-free core: codes an array of 16-bit units into another
// and back. The coding is shared bit for bit with every client of the service.
//
// Coding L plain units:
//   chain word j = byte-swap(plain j XOR previous chain word), seed 0x6D1B before the first;
//   body unit j  = (chain word j with bit 15 cleared) + 0x4000;
//   carrier L+k  = 0x4000 + the bits 15 of chain words 15k..15k+14, bit b from word 15k+b.
// So every coded unit lies in 0x4000..0xBFFF and L units code to m = L + ceil(L/15).
// Decoding m units yields n = floor(15m/16) units; for every m that coding produces, n = L.
#include <cstddef>
#include <cstdint>

namespace argument_scrambling {

using unit = char16_t;

inline constexpr unit seed = 0x6D1B;
inline constexpr unit unit_offset = 0x4000;
inline constexpr std::size_t group_size = 15;  // chain words whose top bits share one carrier

// Coded length for `plain_length` units, m = floor((16L + 14) / 15), computed without
// intermediate overflow. Returns false, leaving `coded_length` alone, when m does not fit.
bool scrambled_length(std::size_t plain_length, std::size_t& coded_length) noexcept;

// Decoded length for `coded_length` units, n = floor(15m / 16); defined for every m.
std::size_t unscrambled_length(std::size_t coded_length) noexcept;

// Units before the first 0 unit.
std::size_t text_length(const unit* text) noexcept;

// Codes plain[0..plain_length) into coded[0..m), m = scrambled_length(plain_length).
// Writes no terminator. The arrays must not overlap.
void scramble_units(const unit* plain, std::size_t plain_length, unit* coded) noexcept;

// Decodes coded[0..coded_length) into plain[0..n), n = unscrambled_length(coded_length).
// Accepts any length and any unit values (malformed input decodes to some text); reads
// only coded[0 .. n + ceil(n/15)), which never passes coded_length. Writes no terminator.
void unscramble_units(const unit* coded, std::size_t coded_length, unit* plain) noexcept;

}  // namespace argument_scrambling
