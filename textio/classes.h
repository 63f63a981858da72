// Byte classes of 64 bytes at once, as bit masks (bit i for byte i): the
// index from which the counting pass finds and checks the usual numbers
// without walking them one byte after another.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace textio {

struct Classes {
    std::uint64_t space;    // white space, as isspace() tells it
    std::uint64_t digit;
    std::uint64_t point;    // .
    std::uint64_t exp;      // e or E
    std::uint64_t sign;     // + or -
};

// One byte at a time: the definition, and the way on machines without SSE2.
inline Classes classify64_bytes(const unsigned char *q)
{
    Classes c{};
    for (int i = 0; i < 64; ++i) {
        std::uint64_t bit = std::uint64_t{1} << i;
        unsigned char b = q[i];
        if (b == ' ' || (b >= '\t' && b <= '\r'))
            c.space |= bit;
        if (b >= '0' && b <= '9')
            c.digit |= bit;
        if (b == '.')
            c.point |= bit;
        if ((b | 0x20) == 'e')
            c.exp |= bit;
        if (b == '+' || b == '-')
            c.sign |= bit;
    }
    return c;
}

#if defined(__SSE2__)
// Sixteen bytes a step: each class is one or two compares and a movemask.
inline Classes classify64(const unsigned char *q)
{
    Classes c{};
    const __m128i tab = _mm_set1_epi8('\t'), four = _mm_set1_epi8(4), space = _mm_set1_epi8(' '),
                  zero = _mm_set1_epi8('0'),
                  nine = _mm_set1_epi8(9), point = _mm_set1_epi8('.'),
                  lower = _mm_set1_epi8(0x20), e = _mm_set1_epi8('e'),
                  plus = _mm_set1_epi8('+'), minus = _mm_set1_epi8('-');
    auto mask = [](__m128i m, int i) {
        return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(m))) << (16 * i);
    };
    for (int i = 0; i < 4; ++i) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(q + 16 * i));
        __m128i ctl = _mm_sub_epi8(x, tab);  // \t to \r become 0 to 4
        __m128i d = _mm_sub_epi8(x, zero);   // digits become 0 to 9
        c.space |= mask(_mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(ctl, four), ctl),
                                     _mm_cmpeq_epi8(x, space)),
                        i);
        c.digit |= mask(_mm_cmpeq_epi8(_mm_min_epu8(d, nine), d), i);
        c.point |= mask(_mm_cmpeq_epi8(x, point), i);
        c.exp |= mask(_mm_cmpeq_epi8(_mm_or_si128(x, lower), e), i);
        c.sign |= mask(_mm_or_si128(_mm_cmpeq_epi8(x, plus), _mm_cmpeq_epi8(x, minus)), i);
    }
    return c;
}
#else
inline Classes classify64(const unsigned char *q) { return classify64_bytes(q); }
#endif

#if defined(__x86_64__)
#include <immintrin.h>
#define CASETOOLS_HAVE_AVX2_CLASSES 1

// The same with AVX2, thirty-two bytes a step, for machines that have it:
// call only where isa().avx2 (cpu.h).
__attribute__((target("avx2"))) inline Classes classify64_avx2(const unsigned char *q)
{
    Classes c{};
    const __m256i tab = _mm256_set1_epi8('\t'), four = _mm256_set1_epi8(4),
                  space = _mm256_set1_epi8(' '), zero = _mm256_set1_epi8('0'),
                  nine = _mm256_set1_epi8(9), point = _mm256_set1_epi8('.'),
                  lower = _mm256_set1_epi8(0x20), e = _mm256_set1_epi8('e'),
                  plus = _mm256_set1_epi8('+'), minus = _mm256_set1_epi8('-');
    auto mask = [](__m256i m, int i) __attribute__((target("avx2"))) {
        return static_cast<std::uint64_t>(static_cast<unsigned>(_mm256_movemask_epi8(m))) << (32 * i);
    };
    for (int i = 0; i < 2; ++i) {
        __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(q + 32 * i));
        __m256i ctl = _mm256_sub_epi8(x, tab);
        __m256i d = _mm256_sub_epi8(x, zero);
        c.space |= mask(_mm256_or_si256(_mm256_cmpeq_epi8(_mm256_min_epu8(ctl, four), ctl),
                                        _mm256_cmpeq_epi8(x, space)),
                        i);
        c.digit |= mask(_mm256_cmpeq_epi8(_mm256_min_epu8(d, nine), d), i);
        c.point |= mask(_mm256_cmpeq_epi8(x, point), i);
        c.exp |= mask(_mm256_cmpeq_epi8(_mm256_or_si256(x, lower), e), i);
        c.sign |= mask(_mm256_or_si256(_mm256_cmpeq_epi8(x, plus), _mm256_cmpeq_epi8(x, minus)),
                       i);
    }
    return c;
}
#endif

}  // namespace textio
