// What the AVX-512 kernel files share: small inline functions on 512-bit integer vectors, each
// built for AVX-512 by its own attribute (see kernels_avx512.cpp).
#pragma once

#include <cstdint>

#include "convert/kernel_sets.hpp"

#ifdef LUMAWEAVE_X86_VECTORS
#include <immintrin.h>

// g++ 12's unmasked AVX-512 intrinsics pass an undefined register as their (unused) merge source
// and then warn that it may be used uninitialized.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#define LUMAWEAVE_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,avx2")))

namespace lumaweave::kernels::avx512 {

LUMAWEAVE_AVX512 inline __m512i load16(const std::int32_t* p) {
    return _mm512_loadu_si512(p);
}

// table[k] for the lanes k (0..15).
LUMAWEAVE_AVX512 inline __m512i lookup(__m512i k, __m512i table) {
    return _mm512_permutexvar_epi32(k, table);
}

// The least of the 16 lanes.
LUMAWEAVE_AVX512 inline std::int32_t least16(__m512i v) {
    __m256i m = _mm256_min_epi32(_mm512_castsi512_si256(v), _mm512_extracti64x4_epi64(v, 1));
    m = _mm256_min_epi32(m, _mm256_permute2x128_si256(m, m, 1));
    m = _mm256_min_epi32(m, _mm256_shuffle_epi32(m, 0x4E));
    m = _mm256_min_epi32(m, _mm256_shuffle_epi32(m, 0xB1));
    return _mm256_cvtsi256_si32(m);
}

// The lanes q < n of 16 starting at q0.
LUMAWEAVE_AVX512 inline __mmask16 lanes_below(int q0, int n) {
    return n - q0 >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << (n - q0)) - 1);
}

// (x - a)^2 weighted, summed over the three channels, for the lanes of a.
LUMAWEAVE_AVX512 inline __m512i weighted_squares(const __m512i* x, const __m512i* a,
                                                 const __m512i* w) {
    __m512i sum = _mm512_setzero_si512();
    for (int ch = 0; ch < 3; ++ch) {
        const __m512i diff = _mm512_sub_epi32(x[ch], a[ch]);
        sum = _mm512_add_epi32(sum, _mm512_mullo_epi32(w[ch], _mm512_mullo_epi32(diff, diff)));
    }
    return sum;
}

// The received values for the 16 colours c, channel by channel: the source plus `share` eighths
// of the colour's error (scaled with sp), clamped; in lanes and in `values`.
LUMAWEAVE_AVX512 inline void received_lanes(const __m512i* palette, const std::int32_t* dst,
                                            const std::int32_t* src, std::int32_t share,
                                            std::int32_t scale, bool sp, std::int32_t low,
                                            std::int32_t high, __m512i* v,
                                            std::int32_t (*values)[16]) {
    const __m512i lo = _mm512_set1_epi32(low), hi = _mm512_set1_epi32(high);
    for (int ch = 0; ch < 3; ++ch) {
        __m512i e = _mm512_sub_epi32(_mm512_set1_epi32(src[ch]), palette[ch]);
        // The whole error (8 eighths) is the error itself.
        if (share != 8) e = _mm512_srai_epi32(_mm512_mullo_epi32(e, _mm512_set1_epi32(share)), 3);
        if (sp) e = _mm512_srai_epi32(_mm512_mullo_epi32(e, _mm512_set1_epi32(scale)), 8);
        v[ch] = _mm512_min_epi32(
            _mm512_max_epi32(_mm512_add_epi32(_mm512_set1_epi32(dst[ch]), e), lo), hi);
        _mm512_store_si512(values[ch], v[ch]);
    }
}

// The 8 lanes of v (low or high half) as 64-bit numbers times w.
LUMAWEAVE_AVX512 inline __m512i times64(__m256i v, __m512i w) {
    return _mm512_mul_epi32(_mm512_cvtepi32_epi64(v), w);
}

// share eighths of e, scaled by scale / 256 with sp.
LUMAWEAVE_AVX512 inline __m512i share_of(__m512i e, std::int32_t share, std::int32_t scale,
                                         bool sp) {
    if (share != 8) e = _mm512_srai_epi32(_mm512_mullo_epi32(e, _mm512_set1_epi32(share)), 3);
    if (sp) e = _mm512_srai_epi32(_mm512_mullo_epi32(e, _mm512_set1_epi32(scale)), 8);
    return e;
}

}  // namespace lumaweave::kernels::avx512

#endif
