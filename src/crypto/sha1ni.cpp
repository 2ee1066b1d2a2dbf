#include "sha1ni.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

namespace {

#define CRV_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// Four rounds with the round function F (0 to 3, one per 20 rounds); F must be a constant.
template <int F>
CRV_SHA_TARGET inline void fourRounds(__m128i& abcd, __m128i& previous, const __m128i& w)
{
    const __m128i e = _mm_sha1nexte_epu32(previous, w);
    previous = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e, F);
}

} // namespace

bool sha1_ni_available()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    const bool ssse3 = c & bit_SSSE3;
    const bool sse41 = c & bit_SSE4_1;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d))
        return false;
    return ssse3 && sse41 && (b & bit_SHA);
}

CRV_SHA_TARGET void sha1_ni_compress(uint32_t state[5], const unsigned char* data, size_t blocks)
{
    // Message words are big-endian; the state is kept as DCBA in one register, E in the top lane.
    const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd
        = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e0 = _mm_set_epi32(int(state[4]), 0, 0, 0);

    for (; blocks > 0; --blocks, data += 64) {
        // The schedule in groups of four words: W[j] from W[j-4], W[j-3], W[j-2] and W[j-1].
        __m128i w[20];
        for (int j = 0; j < 4; ++j)
            w[j] = _mm_shuffle_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * j)), byteSwap);
        for (int j = 4; j < 20; ++j)
            w[j] = _mm_sha1msg2_epu32(
                _mm_xor_si128(_mm_sha1msg1_epu32(w[j - 4], w[j - 3]), w[j - 2]), w[j - 1]);

        const __m128i abcdSaved = abcd;
        const __m128i eSaved = e0;
        __m128i previous = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, _mm_add_epi32(e0, w[0]), 0);
        for (int j = 1; j < 5; ++j)
            fourRounds<0>(abcd, previous, w[j]);
        for (int j = 5; j < 10; ++j)
            fourRounds<1>(abcd, previous, w[j]);
        for (int j = 10; j < 15; ++j)
            fourRounds<2>(abcd, previous, w[j]);
        for (int j = 15; j < 20; ++j)
            fourRounds<3>(abcd, previous, w[j]);
        e0 = _mm_sha1nexte_epu32(previous, eSaved);
        abcd = _mm_add_epi32(abcd, abcdSaved);
    }

    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = uint32_t(_mm_extract_epi32(e0, 3));
}

#else

bool sha1_ni_available()
{
    return false;
}

void sha1_ni_compress(uint32_t*, const unsigned char*, size_t) { }

#endif
