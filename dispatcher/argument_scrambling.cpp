#include "dispatcher/argument_scrambling.h"

#include <cstdint>
#include <limits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "foundation/text_length.h"

// Both directions run eight units at a time with SSE2 (always present on x86-64) and
// finish, or run entirely without SSE2, one unit at a time.
//
// Coding is a serial chain, c_j = swap(p_j ^ c_{j-1}). Byte swapping distributes over
// XOR, so swap(c_{j-1}) = p_{j-1} ^ c_{j-2} and c_j = (swap(p_j) ^ p_{j-1}) ^ c_{j-2}:
// a prefix XOR with stride 2 over terms that are computed independently, eight per step.
// Decoding needs no chain at all: p_i = swap(c_i) ^ c_{i-1}.
//
// The top bits travel as a bit stream: carrier k holds stream bits 15k..15k+14, and chain
// word j owns stream bit j.

namespace argument_scrambling {
namespace {

constexpr unit swap_bytes(unit u) noexcept { return static_cast<unit>((u << 8) | (u >> 8)); }

constexpr unit low_bits_mask = 0x7FFF;

// Collects top bits in order and writes each full group of 15 as one carrier unit.
class carrier_writer {
public:
    explicit carrier_writer(unit* out) noexcept : out_(out) {}
    // Appends the `count` low bits of `bits` (count <= 32), lowest first.
    void push(std::uint32_t bits, unsigned count) noexcept {
        pending_ |= std::uint64_t{bits} << pending_count_;
        pending_count_ += count;
        while (pending_count_ >= group_size) {
            *out_++ = static_cast<unit>((pending_ & low_bits_mask) + unit_offset);
            pending_ >>= group_size;
            pending_count_ -= group_size;
        }
    }
    // Writes the short last group, if any; its missing positions stay 0.
    void finish() noexcept {
        if (pending_count_ != 0) *out_++ = static_cast<unit>(pending_ + unit_offset);
    }

private:
    unit* out_;
    std::uint64_t pending_ = 0;
    unsigned pending_count_ = 0;
};

// Hands out top bits from the carrier units in order, reading a carrier only when its
// bits are needed, so no unit past the last needed carrier is ever touched.
class carrier_reader {
public:
    explicit carrier_reader(const unit* first) noexcept : next_(first) {}
    // The next `count` bits (count <= 32), lowest first. The caller asks for no more
    // bits than the carriers it owns hold.
    std::uint32_t take(unsigned count) noexcept {
        while (available_ < count) {
            // The offset comes off by 16-bit subtraction; bit 15 of a carrier carries nothing.
            const unit group = static_cast<unit>(*next_++ - unit_offset);
            pending_ |= std::uint64_t{static_cast<unit>(group & low_bits_mask)} << available_;
            available_ += group_size;
        }
        const auto bits = static_cast<std::uint32_t>(pending_ & ((std::uint64_t{1} << count) - 1));
        pending_ >>= count;
        available_ -= count;
        return bits;
    }

private:
    const unit* next_;
    std::uint64_t pending_ = 0;
    unsigned available_ = 0;
};

#if defined(__SSE2__)
inline __m128i swap_bytes(__m128i v) noexcept {
    return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}
// Lanes of `v` moved up by one, lane 0 taken from lane 7 of `before`.
inline __m128i previous_lanes(__m128i v, __m128i before) noexcept {
    return _mm_or_si128(_mm_slli_si128(v, 2), _mm_srli_si128(before, 14));
}
inline __m128i load(const unit* p) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void store(unit* p, __m128i v) noexcept {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
inline unit last_lane(__m128i v) noexcept { return static_cast<unit>(_mm_extract_epi16(v, 7)); }
#endif

}  // namespace

bool scrambled_length(std::size_t plain_length, std::size_t& coded_length) noexcept {
    const std::size_t carriers = plain_length / group_size + (plain_length % group_size != 0);
    if (plain_length > std::numeric_limits<std::size_t>::max() - carriers) return false;
    coded_length = plain_length + carriers;
    return true;
}

std::size_t unscrambled_length(std::size_t coded_length) noexcept {
    // floor(15m/16) = m - ceil(m/16), which needs no product that could overflow.
    return coded_length - (coded_length / 16 + (coded_length % 16 != 0));
}

#if defined(__SSE2__)
// Scans whole aligned 16-byte blocks: such a block never straddles a page, so reading the
// units after the terminator inside the terminator's own block is harmless, though an
// address sanitizer would call it an overflow.
#if defined(__clang__) || defined(__GNUC__)
__attribute__((no_sanitize_address))
#endif
std::size_t text_length(const unit* text) noexcept {
    const unit* p = text;
    while (reinterpret_cast<std::uintptr_t>(p) % 16 != 0) {  // up to the first aligned block
        if (*p == 0) return static_cast<std::size_t>(p - text);
        ++p;
    }
    const __m128i zero = _mm_setzero_si128();
    for (;; p += 8) {
        const int zero_bytes =
            _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(p)), zero));
        if (zero_bytes != 0) return static_cast<std::size_t>(p - text) + static_cast<unsigned>(__builtin_ctz(zero_bytes)) / 2;
    }
}
#else
std::size_t text_length(const unit* text) noexcept { return kv_text_length(text); }
#endif

void scramble_units(const unit* plain, std::size_t plain_length, unit* coded) noexcept {
    carrier_writer carriers(coded + plain_length);
    unit previous = seed;  // chain word j-1
    std::size_t j = 0;
#if defined(__SSE2__)
    if (plain_length >= 8) {
        const __m128i low_bits = _mm_set1_epi16(static_cast<short>(low_bits_mask));
        const __m128i offset = _mm_set1_epi16(static_cast<short>(unit_offset));
        __m128i plain_before = _mm_setzero_si128();  // p_{-1} = 0 in the expansion
        // Chain words -2 and -1 in lanes 6 and 7: swap(seed) and seed make c_0 and c_1
        // come out of the same formula as every other word.
        __m128i chain_before = _mm_set1_epi32(static_cast<int>(
            std::uint32_t{swap_bytes(seed)} | (std::uint32_t{seed} << 16)));
        for (; j + 8 <= plain_length; j += 8) {
            const __m128i p = load(plain + j);
            __m128i terms = _mm_xor_si128(swap_bytes(p), previous_lanes(p, plain_before));
            plain_before = p;
            terms = _mm_xor_si128(terms, _mm_slli_si128(terms, 4));  // stride-2 prefix XOR
            terms = _mm_xor_si128(terms, _mm_slli_si128(terms, 8));
            // Even lanes continue from chain word j-2, odd lanes from j-1.
            const __m128i chain = _mm_xor_si128(terms, _mm_shuffle_epi32(chain_before, 0xFF));
            chain_before = chain;
            store(coded + j, _mm_add_epi16(_mm_and_si128(chain, low_bits), offset));
            const int top_bits = _mm_movemask_epi8(_mm_packs_epi16(chain, chain)) & 0xFF;
            carriers.push(static_cast<std::uint32_t>(top_bits), 8);
        }
        previous = last_lane(chain_before);
    }
#endif
    for (; j < plain_length; ++j) {
        const unit chain = swap_bytes(static_cast<unit>(plain[j] ^ previous));
        coded[j] = static_cast<unit>((chain & low_bits_mask) + unit_offset);
        carriers.push(chain >> 15, 1);
        previous = chain;
    }
    carriers.finish();
}

void unscramble_units(const unit* coded, std::size_t coded_length, unit* plain) noexcept {
    const std::size_t plain_length = unscrambled_length(coded_length);
    carrier_reader carriers(coded + plain_length);
    unit previous = seed;  // chain word i-1
    std::size_t i = 0;
#if defined(__SSE2__)
    if (plain_length >= 8) {
        const __m128i offset = _mm_set1_epi16(static_cast<short>(unit_offset));
        const __m128i top_bit = _mm_set1_epi16(static_cast<short>(0x8000));
        const __m128i lane_bits = _mm_setr_epi16(1, 2, 4, 8, 16, 32, 64, 128);
        __m128i chain_before = _mm_set1_epi16(static_cast<short>(seed));
        for (; i + 8 <= plain_length; i += 8) {
            const auto bits = static_cast<short>(carriers.take(8));
            const __m128i lane_has_bit =
                _mm_cmpeq_epi16(_mm_and_si128(_mm_set1_epi16(bits), lane_bits), lane_bits);
            const __m128i chain = _mm_or_si128(_mm_sub_epi16(load(coded + i), offset),
                                               _mm_and_si128(lane_has_bit, top_bit));
            store(plain + i, _mm_xor_si128(swap_bytes(chain), previous_lanes(chain, chain_before)));
            chain_before = chain;
        }
        previous = last_lane(chain_before);
    }
#endif
    for (; i < plain_length; ++i) {
        const auto chain = static_cast<unit>(static_cast<unit>(coded[i] - unit_offset) |
                                             (carriers.take(1) << 15));
        plain[i] = static_cast<unit>(swap_bytes(chain) ^ previous);
        previous = chain;
    }
}

}  // namespace argument_scrambling
