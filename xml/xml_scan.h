#pragma once
// The parser's long scans, eight units at a time: the first unit at or after p that is
// one of three stop units (one of them NUL, so every scan ends inside the text), noting
// on the way whether one of three other units was passed.
//
// Every read stays inside the text: the scan takes the position of the text's NUL and
// reads whole blocks of eight units only while eight units up to that NUL remain, then
// goes unit by unit. Without SSE2 the whole scan goes unit by unit.
#include <cstdint>
#include <cstring>

#include "xml/xml_char.h"

#if defined(__SSE2__)
#include <emmintrin.h>
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

// end is the position of the text's NUL (p <= end).
inline const xml_char* kvxml_scan(const xml_char* p, const xml_char* end, const kvxml_scan_set& set,
                                  bool& noted) noexcept {
#if defined(__SSE2__)
    const __m128i s0 = _mm_set1_epi16(static_cast<short>(set.stop[0]));
    const __m128i s1 = _mm_set1_epi16(static_cast<short>(set.stop[1]));
    const __m128i s2 = _mm_set1_epi16(static_cast<short>(set.stop[2]));
    const __m128i n0 = _mm_set1_epi16(static_cast<short>(set.note[0]));
    const __m128i n1 = _mm_set1_epi16(static_cast<short>(set.note[1]));
    const __m128i n2 = _mm_set1_epi16(static_cast<short>(set.note[2]));
    bool notes = false;
    // A block is units p .. p + 7; the NUL at end is the last unit a block may hold.
    for (; end - p >= 7; p += 8) {
        __m128i v;
        std::memcpy(&v, p, sizeof(v));
        const unsigned stops = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, s0), _mm_cmpeq_epi16(v, s1)), _mm_cmpeq_epi16(v, s2))));
        const unsigned passed = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, n0), _mm_cmpeq_epi16(v, n1)), _mm_cmpeq_epi16(v, n2))));
        if (stops) {
            const unsigned at = static_cast<unsigned>(__builtin_ctz(stops));  // two mask bits a unit
            noted = notes || (passed & ((1u << at) - 1)) != 0;
            return p + at / 2;
        }
        notes |= passed != 0;
    }
    bool tail = false;
    p = kvxml_scan_units(p, set, tail);
    noted = notes || tail;
    return p;
#else
    static_cast<void>(end);
    return kvxml_scan_units(p, set, noted);
#endif
}
