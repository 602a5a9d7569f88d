#pragma once
// The parser's long scans, eight units at a time: the first unit at or after p that is
// one of three stop units (one of them NUL, so every scan ends inside the text), noting
// on the way whether one of three other units was passed.
//
// With SSE2 the scan reads whole aligned 16-byte blocks. The block that holds the NUL may
// reach past the end of the text's array, never past its memory page; those lanes are
// ignored. AddressSanitizer would report those reads, so the function is not instrumented.
// Without SSE2 (or for a text not aligned on its units) the same scan goes unit by unit.
#include <cstdint>

#include "xml/xml_char.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if defined(__clang__) || defined(__GNUC__)
#define KVXML_WHOLE_BLOCKS __attribute__((no_sanitize_address))
#else
#define KVXML_WHOLE_BLOCKS
#endif

struct kvxml_scan_set {
    xml_char stop[3];  // include 0
    xml_char note[3];  // repeat a unit to note fewer than three
};

inline const xml_char* kvxml_scan_units(const xml_char* p, const kvxml_scan_set& set, bool& noted) noexcept {
    bool seen = false;
    for (;; ++p) {
        const xml_char c = *p;
        if (c == set.stop[0] || c == set.stop[1] || c == set.stop[2]) break;
        seen |= c == set.note[0] || c == set.note[1] || c == set.note[2];
    }
    noted = seen;
    return p;
}

KVXML_WHOLE_BLOCKS inline const xml_char* kvxml_scan(const xml_char* p, const kvxml_scan_set& set,
                                                     bool& noted) noexcept {
#if defined(__SSE2__)
    const auto address = reinterpret_cast<std::uintptr_t>(p);
    if (address & 1) return kvxml_scan_units(p, set, noted);
    const __m128i s0 = _mm_set1_epi16(static_cast<short>(set.stop[0]));
    const __m128i s1 = _mm_set1_epi16(static_cast<short>(set.stop[1]));
    const __m128i s2 = _mm_set1_epi16(static_cast<short>(set.stop[2]));
    const __m128i n0 = _mm_set1_epi16(static_cast<short>(set.note[0]));
    const __m128i n1 = _mm_set1_epi16(static_cast<short>(set.note[1]));
    const __m128i n2 = _mm_set1_epi16(static_cast<short>(set.note[2]));
    const char* block = reinterpret_cast<const char*>(address & ~std::uintptr_t{15});
    // Lanes before p in the first block do not count (two mask bits a unit).
    unsigned live = 0xFFFFu << (address & 15);
    unsigned notes = 0;
    for (;; block += 16, live = 0xFFFFu) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
        const unsigned stops =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi16(v, s0), _mm_cmpeq_epi16(v, s1)), _mm_cmpeq_epi16(v, s2)))) & live;
        const unsigned passed =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi16(v, n0), _mm_cmpeq_epi16(v, n1)), _mm_cmpeq_epi16(v, n2)))) & live;
        if (stops) {
            const unsigned at = static_cast<unsigned>(__builtin_ctz(stops));
            notes |= passed & ((1u << at) - 1);
            noted = notes != 0;
            return reinterpret_cast<const xml_char*>(block + at);
        }
        notes |= passed;
    }
#else
    return kvxml_scan_units(p, set, noted);
#endif
}
