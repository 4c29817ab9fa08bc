// What the AVX2 kernel files share: small inline functions on 256-bit integer vectors, each built
// for AVX2 by its own attribute (see kernels_avx2.cpp).
#pragma once

#include <cstdint>

#include "convert/kernel_sets.hpp"

#ifdef LUMAWEAVE_X86_VECTORS
#include <immintrin.h>

namespace lumaweave::kernels::avx2 {

__attribute__((target("avx2"))) inline __m256i load8(const std::int32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// table[k] for the lanes k (0..15) of a 16-entry table held as two vectors.
__attribute__((target("avx2"))) inline __m256i lookup16(__m256i lo, __m256i hi, __m256i k) {
    return _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, k),
                              _mm256_permutevar8x32_epi32(hi, k),
                              _mm256_cmpgt_epi32(k, _mm256_set1_epi32(7)));
}

__attribute__((target("avx2"))) inline void distances_avx2(
    const std::int32_t* pr, const std::int32_t* pg, const std::int32_t* pb, const std::int32_t* w,
    std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t* d) {
    const __m256i wr = _mm256_set1_epi32(w[0]), wg = _mm256_set1_epi32(w[1]),
                  wb = _mm256_set1_epi32(w[2]);
    const __m256i vr = _mm256_set1_epi32(r), vg = _mm256_set1_epi32(g), vb = _mm256_set1_epi32(b);
    for (int k = 0; k < 16; k += 8) {
        const __m256i dr =
            _mm256_sub_epi32(vr, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pr + k)));
        const __m256i dg =
            _mm256_sub_epi32(vg, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pg + k)));
        const __m256i db =
            _mm256_sub_epi32(vb, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pb + k)));
        const __m256i sum =
            _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(wr, _mm256_mullo_epi32(dr, dr)),
                                              _mm256_mullo_epi32(wg, _mm256_mullo_epi32(dg, dg))),
                             _mm256_mullo_epi32(wb, _mm256_mullo_epi32(db, db)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + k), sum);
    }
}

// The 16 received values of each channel, one per colour c: the source plus `share` eighths of
// the colour's error (scaled with sp), clamped.
__attribute__((target("avx2"))) inline void received_values(
    const std::int32_t* const* palette, const std::int32_t* dst, const std::int32_t* src,
    std::int32_t share, std::int32_t scale, bool sp, std::int32_t low, std::int32_t high,
    std::int32_t (*v)[16]) {
    const __m256i lo = _mm256_set1_epi32(low), hi = _mm256_set1_epi32(high);
    const __m256i f = _mm256_set1_epi32(scale), part = _mm256_set1_epi32(share);
    for (int ch = 0; ch < 3; ++ch) {
        const __m256i s = _mm256_set1_epi32(src[ch]), t = _mm256_set1_epi32(dst[ch]);
        for (int c = 0; c < 16; c += 8) {
            __m256i e = _mm256_sub_epi32(s, load8(palette[ch] + c));
            // The whole error (8 eighths) is the error itself.
            if (share != 8) e = _mm256_srai_epi32(_mm256_mullo_epi32(e, part), 3);
            if (sp) e = _mm256_srai_epi32(_mm256_mullo_epi32(e, f), 8);
            const __m256i x = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(t, e), lo), hi);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(&v[ch][c]), x);
        }
    }
}

__attribute__((target("avx2"))) inline std::int32_t least8(__m256i m) {
    m = _mm256_min_epi32(m, _mm256_permute2x128_si256(m, m, 1));
    m = _mm256_min_epi32(m, _mm256_shuffle_epi32(m, 0x4E));
    m = _mm256_min_epi32(m, _mm256_shuffle_epi32(m, 0xB1));
    return _mm256_cvtsi256_si32(m);
}

// share eighths of e, scaled by scale / 256 with sp.
__attribute__((target("avx2"))) inline __m256i share_of(__m256i e, std::int32_t share,
                                                        std::int32_t scale, bool sp) {
    if (share != 8) e = _mm256_srai_epi32(_mm256_mullo_epi32(e, _mm256_set1_epi32(share)), 3);
    if (sp) e = _mm256_srai_epi32(_mm256_mullo_epi32(e, _mm256_set1_epi32(scale)), 8);
    return e;
}

// d[16 c + k]: the distances of value c (v[channel][c]) to palette colour k; least[c] the least
// of them, where least is given.
__attribute__((target("avx2"))) inline void value_distances(
    const std::int32_t* pr, const std::int32_t* pg, const std::int32_t* pb, const std::int32_t* w,
    const std::int32_t (*v)[16], std::int32_t* d, std::int32_t* least) {
    const __m256i p_lo[3] = {load8(pr), load8(pg), load8(pb)};
    const __m256i p_hi[3] = {load8(pr + 8), load8(pg + 8), load8(pb + 8)};
    const __m256i wv[3] = {_mm256_set1_epi32(w[0]), _mm256_set1_epi32(w[1]),
                           _mm256_set1_epi32(w[2])};
    for (int c = 0; c < 16; ++c) {
        __m256i sum_lo = _mm256_setzero_si256(), sum_hi = _mm256_setzero_si256();
        for (int ch = 0; ch < 3; ++ch) {
            const __m256i x = _mm256_set1_epi32(v[ch][c]);
            const __m256i a = _mm256_sub_epi32(x, p_lo[ch]), b = _mm256_sub_epi32(x, p_hi[ch]);
            sum_lo = _mm256_add_epi32(sum_lo, _mm256_mullo_epi32(wv[ch], _mm256_mullo_epi32(a, a)));
            sum_hi = _mm256_add_epi32(sum_hi, _mm256_mullo_epi32(wv[ch], _mm256_mullo_epi32(b, b)));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 16 * c), sum_lo);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 16 * c + 8), sum_hi);
        if (least != nullptr) least[c] = least8(_mm256_min_epi32(sum_lo, sum_hi));
    }
}

}  // namespace lumaweave::kernels::avx2

#endif
