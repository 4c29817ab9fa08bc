// The kernels with 512-bit integer vectors (AVX-512 F, BW, VL, DQ). Each function is built for
// AVX-512 by its own attribute, so the rest of the program keeps the baseline instruction set and
// this code runs only where the processor has AVX-512 (kernels.cpp checks). A 16-entry table of
// colours fits one register, so a look-up by colour number is one permutation.
#include <algorithm>
#include <cstdint>

#include "convert/kernel_sets.hpp"

#ifdef LUMAWEAVE_X86_VECTORS
#include <immintrin.h>
#endif

// g++ 12's unmasked AVX-512 intrinsics pass an undefined register as their (unused) merge source
// and then warn that it may be used uninitialized.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

namespace lumaweave::kernels {

#ifdef LUMAWEAVE_X86_VECTORS

namespace {

#define LUMAWEAVE_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,avx2")))

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

LUMAWEAVE_AVX512 void pair_costs_avx512(const std::int32_t* d, std::int32_t weight, int first,
                                        std::int32_t* cost, std::int32_t* colour) {
    const __m512i dv = load16(d), w = _mm512_set1_epi32(weight);
    const int skip = first == 0 ? 0 : 15, n = first == 0 ? 120 : 105;
    for (int p = 0; p < n; p += 16) {
        const __mmask16 keep = lanes_below(p, n);
        const __m512i ia = load16(pair_index.a + skip + p), ib = load16(pair_index.b + skip + p);
        const __m512i da = lookup(ia, dv), db = lookup(ib, dv);
        _mm512_mask_storeu_epi32(cost + p, keep, _mm512_mullo_epi32(_mm512_min_epi32(da, db), w));
        if (colour != nullptr) {
            // a where d[a] < d[b], else b.
            const __m512i c = _mm512_mask_blend_epi32(_mm512_cmplt_epi32_mask(da, db), ib, ia);
            _mm512_mask_storeu_epi32(colour + p, keep, c);
        }
    }
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

LUMAWEAVE_AVX512 void distances_avx512(const std::int32_t* pr, const std::int32_t* pg,
                                       const std::int32_t* pb, const std::int32_t* w,
                                       std::int32_t r, std::int32_t g, std::int32_t b,
                                       std::int32_t* d) {
    const __m512i x[3] = {_mm512_set1_epi32(r), _mm512_set1_epi32(g), _mm512_set1_epi32(b)};
    const __m512i p[3] = {load16(pr), load16(pg), load16(pb)};
    const __m512i wv[3] = {_mm512_set1_epi32(w[0]), _mm512_set1_epi32(w[1]),
                           _mm512_set1_epi32(w[2])};
    _mm512_storeu_si512(d, weighted_squares(x, p, wv));
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

LUMAWEAVE_AVX512 void received_costs_avx512(const std::int32_t* pr, const std::int32_t* pg,
                                            const std::int32_t* pb, const std::int32_t* w,
                                            const std::int32_t* dst, const std::int32_t* src,
                                            std::int32_t scale, bool sp, std::int32_t low,
                                            std::int32_t high, std::int32_t weight, bool transposed,
                                            std::int32_t* d, std::int32_t* row_least,
                                            std::int32_t* column_least) {
    const __m512i palette[3] = {load16(pr), load16(pg), load16(pb)};
    __m512i v[3];
    alignas(64) std::int32_t values[3][16];
    received_lanes(palette, dst, src, 8, scale, sp, low, high, v, values);
    const __m512i wv[3] = {_mm512_set1_epi32(w[0] * weight), _mm512_set1_epi32(w[1] * weight),
                           _mm512_set1_epi32(w[2] * weight)};
    const std::int32_t* scalar[3] = {transposed ? pr : values[0], transposed ? pg : values[1],
                                     transposed ? pb : values[2]};
    const __m512i* lanes = transposed ? v : palette;
    __m512i across = _mm512_set1_epi32(INT32_MAX);
    for (int r = 0; r < 16; ++r) {
        // Row r: colour c = r against every palette colour, or palette colour r against every c.
        const __m512i x[3] = {_mm512_set1_epi32(scalar[0][r]), _mm512_set1_epi32(scalar[1][r]),
                              _mm512_set1_epi32(scalar[2][r])};
        const __m512i sum = weighted_squares(x, lanes, wv);
        _mm512_storeu_si512(d + 16 * r, sum);
        row_least[r] = least16(sum);
        across = _mm512_min_epi32(across, sum);
    }
    _mm512_storeu_si512(column_least, across);
}

LUMAWEAVE_AVX512 void received_distances_avx512(const std::int32_t* pr, const std::int32_t* pg,
                                                const std::int32_t* pb, const std::int32_t* w,
                                                const std::int32_t* dst, const std::int32_t* src,
                                                std::int32_t scale, bool sp, std::int32_t low,
                                                std::int32_t high, std::int32_t* d,
                                                std::int32_t* least) {
    std::int32_t unused[16];
    received_costs_avx512(pr, pg, pb, w, dst, src, scale, sp, low, high, 1, false, d, least,
                          unused);
}

LUMAWEAVE_AVX512 void shared_distances_avx512(const std::int32_t* pr, const std::int32_t* pg,
                                              const std::int32_t* pb, const std::int32_t* w,
                                              const std::int32_t* dst, const std::int32_t* src,
                                              std::int32_t share, std::int32_t scale, bool sp,
                                              std::int32_t low, std::int32_t high,
                                              std::int32_t* d) {
    const __m512i palette[3] = {load16(pr), load16(pg), load16(pb)};
    __m512i v[3];
    alignas(64) std::int32_t values[3][16];
    received_lanes(palette, dst, src, share, scale, sp, low, high, v, values);
    const __m512i wv[3] = {_mm512_set1_epi32(w[0]), _mm512_set1_epi32(w[1]),
                           _mm512_set1_epi32(w[2])};
    for (int c = 0; c < 16; ++c) {
        const __m512i x[3] = {_mm512_set1_epi32(values[0][c]), _mm512_set1_epi32(values[1][c]),
                              _mm512_set1_epi32(values[2][c])};
        _mm512_storeu_si512(d + 16 * c, weighted_squares(x, palette, wv));
    }
}

LUMAWEAVE_AVX512 void row_floors_avx512(const std::int32_t* const* own,
                                        const std::int32_t* const* colour,
                                        const std::int32_t* nearest, const std::int32_t* cheapest,
                                        const std::int32_t* here, const std::int32_t* f,
                                        const std::int32_t* b, int n, std::int32_t cap,
                                        std::int32_t* out) {
    const __m512i c = _mm512_set1_epi32(cap);
    for (int p = 0; p < n; p += 16) {
        const __m512i fv = load16(f + p), bv = load16(b + p);
        __m512i sum = _mm512_setzero_si512();
        for (int j = 0; j < 8; ++j) {
            const __m512i nj = load16(nearest + 16 * j), hj = load16(here + 16 * j);
            const __m512i first =
                _mm512_add_epi32(load16(own[j] + p), lookup(load16(colour[j] + p), nj));
            const __m512i second = _mm512_add_epi32(
                _mm512_set1_epi32(cheapest[j]), _mm512_min_epi32(lookup(fv, hj), lookup(bv, hj)));
            sum = _mm512_add_epi32(sum, _mm512_min_epi32(_mm512_min_epi32(first, second), c));
        }
        _mm512_storeu_si512(out + p, sum);
    }
}

LUMAWEAVE_AVX512 void column_row_avx512(const std::int32_t* own, const std::int32_t* const* first,
                                        const std::int32_t* const* back_f,
                                        const std::int32_t* const* back_b,
                                        const std::int32_t* const* other,
                                        const std::int32_t* const* colour, const std::int32_t* f,
                                        const std::int32_t* b, int n, std::int32_t cap,
                                        std::int32_t* out) {
    const __m512i c = _mm512_set1_epi32(cap);
    // The lower-first order's second pixel: the cheaper colour of the upper pair, by the colour
    // the lower pixel took.
    __m512i back[8];
    for (int j = 0; j < 8; ++j)
        back[j] = _mm512_min_epi32(load16(back_f[j]), load16(back_b[j]));
    for (int q = 0; q < n; q += 16) {
        const __m512i fv = load16(f + q), bv = load16(b + q);
        __m512i sum = _mm512_setzero_si512();
        for (int j = 0; j < 8; ++j) {
            const __m512i t = load16(first[j]);
            const __m512i upper_first = _mm512_add_epi32(
                _mm512_set1_epi32(own[j]), _mm512_min_epi32(lookup(fv, t), lookup(bv, t)));
            const __m512i lower_first =
                _mm512_add_epi32(load16(other[j] + q), lookup(load16(colour[j] + q), back[j]));
            sum = _mm512_add_epi32(sum,
                                   _mm512_min_epi32(_mm512_min_epi32(upper_first, lower_first), c));
        }
        _mm512_storeu_si512(out + q, sum);
    }
}

LUMAWEAVE_AVX512 void add_floor_terms_avx512(std::int32_t* acc, std::int32_t own,
                                             const std::int32_t* other,
                                             const std::int32_t* alternative, int n,
                                             std::int32_t cap) {
    const __m512i o = _mm512_set1_epi32(own), c = _mm512_set1_epi32(cap);
    for (int q = 0; q < n; q += 16) {
        const __mmask16 keep = lanes_below(q, n);
        const __m512i x = _mm512_add_epi32(o, _mm512_maskz_loadu_epi32(keep, other + q));
        const __m512i y = _mm512_maskz_loadu_epi32(keep, alternative + q);
        const __m512i term = _mm512_min_epi32(_mm512_min_epi32(x, y), c);
        const __m512i sum = _mm512_add_epi32(_mm512_maskz_loadu_epi32(keep, acc + q), term);
        _mm512_mask_storeu_epi32(acc + q, keep, sum);
    }
}

LUMAWEAVE_AVX512 int below_avx512(const std::int32_t* values, int n, std::int64_t limit,
                                  std::uint64_t* bits) {
    if (limit > INT32_MAX) return below_plain(values, n, limit, bits);
    const __m512i l = _mm512_set1_epi32(static_cast<std::int32_t>(limit));
    bits[0] = bits[1] = 0;
    for (int q = 0; q < n; q += 16) {
        const __mmask16 keep = lanes_below(q, n);
        const __mmask16 m =
            _mm512_mask_cmplt_epi32_mask(keep, _mm512_maskz_loadu_epi32(keep, values + q), l);
        bits[q >> 6] |= static_cast<std::uint64_t>(m) << (q & 63);
    }
    return __builtin_popcountll(bits[0]) + __builtin_popcountll(bits[1]);
}

LUMAWEAVE_AVX512 int best_mix_avx512(const std::int32_t* r, const std::int32_t* g,
                                     const std::int32_t* b, const std::int32_t* a,
                                     const std::int32_t* c, const std::int32_t* wa,
                                     const std::int32_t* wb, int count, const std::int32_t* weight,
                                     const std::int32_t* to_palette, std::int32_t pr,
                                     std::int32_t pg, std::int32_t pb) {
    const __m512i t = load16(to_palette);
    const __m512i w[3] = {_mm512_set1_epi32(weight[0]), _mm512_set1_epi32(weight[1]),
                          _mm512_set1_epi32(weight[2])};
    const __m512i x[3] = {_mm512_set1_epi32(pr), _mm512_set1_epi32(pg), _mm512_set1_epi32(pb)};
    alignas(64) std::int32_t score[400];
    __m512i least = _mm512_set1_epi32(INT32_MAX);
    for (int i = 0; i < count; i += 16) {
        const __mmask16 keep = lanes_below(i, count);
        const __m512i entry[3] = {_mm512_maskz_loadu_epi32(keep, r + i),
                                  _mm512_maskz_loadu_epi32(keep, g + i),
                                  _mm512_maskz_loadu_epi32(keep, b + i)};
        const __m512i ka = _mm512_maskz_loadu_epi32(keep, a + i);
        const __m512i kc = _mm512_maskz_loadu_epi32(keep, c + i);
        const __m512i to_pair = _mm512_srai_epi32(
            _mm512_add_epi32(
                _mm512_mullo_epi32(lookup(ka, t), _mm512_maskz_loadu_epi32(keep, wa + i)),
                _mm512_mullo_epi32(lookup(kc, t), _mm512_maskz_loadu_epi32(keep, wb + i))),
            9);
        const __m512i s = _mm512_add_epi32(to_pair, weighted_squares(x, entry, w));
        _mm512_store_si512(score + i, s);
        least = _mm512_mask_min_epi32(least, keep, least, s);
    }
    // The least over the lanes, then its first place.
    const __m512i m = _mm512_set1_epi32(least16(least));
    for (int i = 0; i < count; i += 16) {
        const __mmask16 hit =
            _mm512_mask_cmpeq_epi32_mask(lanes_below(i, count), _mm512_load_si512(score + i), m);
        if (hit != 0) return i + __builtin_ctz(static_cast<unsigned>(hit));
    }
    return 0;
}

// The 8 lanes of v (low or high half) as 64-bit numbers times w.
LUMAWEAVE_AVX512 inline __m512i times64(__m256i v, __m512i w) {
    return _mm512_mul_epi32(_mm512_cvtepi32_epi64(v), w);
}

LUMAWEAVE_AVX512 void cell_own_avx512(const std::int32_t* second, const std::int32_t* cost,
                                      const std::uint8_t* fg, int bit, std::int32_t weight,
                                      int first, bool by_both, std::int32_t* own, std::uint8_t* key,
                                      std::uint8_t* colours) {
    const __m512i w = _mm512_set1_epi32(weight), one = _mm512_set1_epi32(1);
    const int skip = first == 0 ? 0 : 15, n = first == 0 ? 120 : 105;
    for (int p = 0; p < n; p += 16) {
        const __mmask16 keep = lanes_below(p, n);
        const __m512i ia = load16(pair_index.a + skip + p), ib = load16(pair_index.b + skip + p);
        const __m512i bits = _mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(keep, fg + p));
        const __mmask16 takes_a =
            _mm512_test_epi32_mask(_mm512_srli_epi32(bits, static_cast<unsigned>(bit)), one);
        const __m512i t = _mm512_mask_blend_epi32(takes_a, ib, ia);
        const __m512i row = _mm512_slli_epi32(t, 4);
        const __m512i da = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), keep,
                                                       _mm512_add_epi32(row, ia), second, 4);
        const __m512i db = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), keep,
                                                       _mm512_add_epi32(row, ib), second, 4);
        const __m512i u = _mm512_mask_blend_epi32(_mm512_cmplt_epi32_mask(da, db), ib, ia);
        const __m512i sum = _mm512_add_epi32(_mm512_maskz_loadu_epi32(keep, cost + p),
                                             _mm512_mullo_epi32(_mm512_min_epi32(da, db), w));
        _mm512_mask_storeu_epi32(own + p, keep, sum);
        const __m512i both = _mm512_add_epi32(row, u);
        _mm_mask_storeu_epi8(colours + p, keep, _mm512_cvtepi32_epi8(both));
        _mm_mask_storeu_epi8(key + p, keep, _mm512_cvtepi32_epi8(by_both ? both : t));
    }
}

LUMAWEAVE_AVX512 void cell_rest_avx512(const CellRest& in, std::int32_t cap, std::int64_t* out,
                                       std::int32_t* capped) {
    const __m512i palette[3] = {load16(in.palette_r), load16(in.palette_g), load16(in.palette_b)};
    const __m512i wv[3] = {_mm512_set1_epi32(in.weight[0]), _mm512_set1_epi32(in.weight[1]),
                           _mm512_set1_epi32(in.weight[2])};
    // The second pixel's value after the first took colour c, in lane c.
    __m512i v[3];
    alignas(64) std::int32_t values[3][16];
    received_lanes(palette, in.base, in.value, in.share, in.scale, in.sp, in.low, in.high, v,
                   values);
    const __m512i dv = load16(in.d1);
    const __m512i w1v = _mm512_set1_epi64(in.w1), w2v = _mm512_set1_epi64(in.w2);
    const __m512i cap64 = _mm512_set1_epi64(cap);
    const int skip = in.first == 0 ? 0 : 15, n = in.first == 0 ? 120 : 105;
    for (int p = 0; p < n; p += 16) {
        const __mmask16 keep = lanes_below(p, n);
        const __m512i ia = load16(pair_index.a + skip + p), ib = load16(pair_index.b + skip + p);
        const __m512i da = lookup(ia, dv), db = lookup(ib, dv);
        const __m512i c = _mm512_mask_blend_epi32(_mm512_cmplt_epi32_mask(da, db), ib, ia);
        const __m512i x[3] = {lookup(c, v[0]), lookup(c, v[1]), lookup(c, v[2])};
        const __m512i pa[3] = {lookup(ia, palette[0]), lookup(ia, palette[1]),
                               lookup(ia, palette[2])};
        const __m512i pb[3] = {lookup(ib, palette[0]), lookup(ib, palette[1]),
                               lookup(ib, palette[2])};
        const __m512i d1min = _mm512_min_epi32(da, db);
        const __m512i d2min =
            _mm512_min_epi32(weighted_squares(x, pa, wv), weighted_squares(x, pb, wv));
        const __m512i low = _mm512_add_epi64(times64(_mm512_castsi512_si256(d1min), w1v),
                                             times64(_mm512_castsi512_si256(d2min), w2v));
        const __m512i high = _mm512_add_epi64(times64(_mm512_extracti64x4_epi64(d1min, 1), w1v),
                                              times64(_mm512_extracti64x4_epi64(d2min, 1), w2v));
        if (out != nullptr) {
            _mm512_mask_storeu_epi64(out + p, static_cast<__mmask8>(keep), low);
            _mm512_mask_storeu_epi64(out + p + 8, static_cast<__mmask8>(keep >> 8), high);
        }
        if (capped != nullptr) {
            const __m512i both = _mm512_inserti64x4(
                _mm512_castsi256_si512(_mm512_cvtepi64_epi32(_mm512_min_epi64(low, cap64))),
                _mm512_cvtepi64_epi32(_mm512_min_epi64(high, cap64)), 1);
            _mm512_mask_storeu_epi32(capped + p, keep, both);
        }
    }
}

// share eighths of e, scaled by scale / 256 with sp.
LUMAWEAVE_AVX512 inline __m512i share_of(__m512i e, std::int32_t share, std::int32_t scale,
                                         bool sp) {
    if (share != 8) e = _mm512_srai_epi32(_mm512_mullo_epi32(e, _mm512_set1_epi32(share)), 3);
    if (sp) e = _mm512_srai_epi32(_mm512_mullo_epi32(e, _mm512_set1_epi32(scale)), 8);
    return e;
}

LUMAWEAVE_AVX512 void key_values_avx512(const KeyValues& in, const std::int32_t* first,
                                        const std::int32_t* second, int count, std::int32_t* r,
                                        std::int32_t* g, std::int32_t* b) {
    const __m512i palette[3] = {load16(in.palette_r), load16(in.palette_g), load16(in.palette_b)};
    const __m512i lo = _mm512_set1_epi32(in.low), hi = _mm512_set1_epi32(in.high);
    std::int32_t* out[3] = {r, g, b};
    for (int j = 0; j < count; j += 16) {
        const __mmask16 keep = lanes_below(j, count);
        const __m512i ta = _mm512_maskz_loadu_epi32(keep, first + j);
        const __m512i tb = _mm512_maskz_loadu_epi32(keep, second + j);
        for (int ch = 0; ch < 3; ++ch) {
            __m512i e =
                _mm512_sub_epi32(_mm512_set1_epi32(in.own_first[ch]), lookup(ta, palette[ch]));
            if (in.two_stage) {
                const __m512i v = _mm512_min_epi32(
                    _mm512_max_epi32(
                        _mm512_add_epi32(_mm512_set1_epi32(in.own_second[ch]),
                                         share_of(e, in.first_share, in.first_scale, in.sp)),
                        lo),
                    hi);
                e = _mm512_sub_epi32(v, lookup(tb, palette[ch]));
            }
            const __m512i v = _mm512_min_epi32(
                _mm512_max_epi32(_mm512_add_epi32(_mm512_set1_epi32(in.own_target[ch]),
                                                  share_of(e, in.share, in.scale, in.sp)),
                                 lo),
                hi);
            _mm512_mask_storeu_epi32(out[ch] + j, keep, v);
        }
    }
}

LUMAWEAVE_AVX512 void key_distances_avx512(const std::int32_t* r, const std::int32_t* g,
                                           const std::int32_t* b, int count, const std::int32_t* pr,
                                           const std::int32_t* pg, const std::int32_t* pb,
                                           const std::int32_t* w, std::int32_t* by_colour,
                                           std::int32_t* by_key) {
    const __m512i palette[3] = {load16(pr), load16(pg), load16(pb)};
    const __m512i wv[3] = {_mm512_set1_epi32(w[0]), _mm512_set1_epi32(w[1]),
                           _mm512_set1_epi32(w[2])};
    const std::int32_t* value[3] = {r, g, b};
    for (int j = 0; j < count; ++j) {
        const __m512i x[3] = {_mm512_set1_epi32(r[j]), _mm512_set1_epi32(g[j]),
                              _mm512_set1_epi32(b[j])};
        _mm512_storeu_si512(by_key + 16 * j, weighted_squares(x, palette, wv));
    }
    for (int j = 0; j < count; j += 16) {
        const __mmask16 keep = lanes_below(j, count);
        const __m512i x[3] = {_mm512_maskz_loadu_epi32(keep, value[0] + j),
                              _mm512_maskz_loadu_epi32(keep, value[1] + j),
                              _mm512_maskz_loadu_epi32(keep, value[2] + j)};
        for (int c = 0; c < 16; ++c) {
            const __m512i colour[3] = {_mm512_set1_epi32(pr[c]), _mm512_set1_epi32(pg[c]),
                                       _mm512_set1_epi32(pb[c])};
            _mm512_storeu_si512(by_colour + key_room * c + j, weighted_squares(x, colour, wv));
        }
    }
}

LUMAWEAVE_AVX512 void key_floors_avx512(const std::int32_t* by_key, int count, std::int32_t weight,
                                        const std::int32_t* own_least, int first,
                                        std::int32_t* pair_least, std::int32_t* key_least) {
    const int skip = first == 0 ? 0 : 15, n = first == 0 ? 120 : 105;
    const int chunks = (n + 15) / 16;
    __m512i ia[8], ib[8], least[8];
    for (int h = 0; h < chunks; ++h) {
        ia[h] = load16(pair_index.a + skip + 16 * h);
        ib[h] = load16(pair_index.b + skip + 16 * h);
        least[h] = _mm512_set1_epi32(INT32_MAX);
    }
    const __m512i w = _mm512_set1_epi32(weight);
    for (int j = 0; j < count; ++j) {
        const __m512i d = load16(by_key + 16 * j), own = _mm512_set1_epi32(own_least[j]);
        __m512i key = _mm512_set1_epi32(INT32_MAX);
        for (int h = 0; h < chunks; ++h) {
            const __mmask16 keep = lanes_below(16 * h, n);
            const __m512i cost =
                _mm512_mullo_epi32(_mm512_min_epi32(lookup(ia[h], d), lookup(ib[h], d)), w);
            key = _mm512_mask_min_epi32(key, keep, key, cost);
            least[h] = _mm512_min_epi32(least[h], _mm512_add_epi32(cost, own));
        }
        key_least[j] = _mm512_reduce_min_epi32(key);
    }
    for (int h = 0; h < chunks; ++h)
        _mm512_mask_storeu_epi32(pair_least + 16 * h, lanes_below(16 * h, n), least[h]);
}

LUMAWEAVE_AVX512 void cell_floor_row_avx512(const std::int32_t* own,
                                            const std::int32_t* const* rest,
                                            const std::int32_t* const* other_own,
                                            const std::int32_t* const* key,
                                            const std::int32_t* const* by_colour,
                                            const std::int32_t* weight, const int* key_count, int a,
                                            int b, int n, std::int32_t cap, std::int32_t* out) {
    const __m512i c = _mm512_set1_epi32(cap);
    // Each cell's lower-first costs with colours a, b, in lanes by key: up to 64 in four
    // registers, looked up by permutation; more are kept for gathering lane by lane.
    __m512i by_key[4][4];
    alignas(64) std::int32_t spill[4][key_room];
    for (int k = 0; k < 4; ++k) {
        const __m512i w = _mm512_set1_epi32(weight[k]);
        const std::int32_t *da = by_colour[k] + key_room * a, *db = by_colour[k] + key_room * b;
        const int count = key_count[k];
        for (int r = 0; r < 4; ++r) {
            by_key[k][r] =
                _mm512_mullo_epi32(_mm512_min_epi32(load16(da + 16 * r), load16(db + 16 * r)), w);
        }
        for (int j = 64; j < count; j += 16) {
            _mm512_store_si512(
                spill[k] + j,
                _mm512_mullo_epi32(_mm512_min_epi32(load16(da + j), load16(db + j)), w));
        }
    }
    const __m512i bit5 = _mm512_set1_epi32(32);
    for (int q = 0; q < n; q += 16) {
        const __mmask16 keep = lanes_below(q, n);
        __m512i sum = _mm512_setzero_si512();
        for (int k = 0; k < 4; ++k) {
            const __m512i here = _mm512_add_epi32(_mm512_set1_epi32(own[k]),
                                                  _mm512_maskz_loadu_epi32(keep, rest[k] + q));
            const __m512i kv = _mm512_maskz_loadu_epi32(keep, key[k] + q);
            const __m512i* t = by_key[k];
            __m512i received;
            if (key_count[k] <= 16) {
                received = _mm512_permutexvar_epi32(kv, t[0]);
            } else if (key_count[k] <= 32) {
                received = _mm512_permutex2var_epi32(t[0], kv, t[1]);
            } else {
                received = _mm512_mask_blend_epi32(_mm512_test_epi32_mask(kv, bit5),
                                                   _mm512_permutex2var_epi32(t[0], kv, t[1]),
                                                   _mm512_permutex2var_epi32(t[2], kv, t[3]));
                if (key_count[k] > 64) {
                    const __mmask16 far =
                        _mm512_mask_cmpge_epi32_mask(keep, kv, _mm512_set1_epi32(64));
                    received = _mm512_mask_i32gather_epi32(received, far, kv, spill[k], 4);
                }
            }
            const __m512i there =
                _mm512_add_epi32(_mm512_maskz_loadu_epi32(keep, other_own[k] + q), received);
            sum = _mm512_add_epi32(sum, _mm512_min_epi32(_mm512_min_epi32(here, there), c));
        }
        _mm512_mask_storeu_epi32(out + q, keep, sum);
    }
}

LUMAWEAVE_AVX512 std::int64_t cell_row_avx512(std::int64_t own, const std::int64_t* const* rest,
                                              int n, std::int64_t* out) {
    const __m512i o = _mm512_set1_epi64(own);
    __m512i least = _mm512_set1_epi64(INT64_MAX);
    for (int q = 0; q < n; q += 8) {
        const auto keep = static_cast<__mmask8>(n - q >= 8 ? 0xFF : (1u << (n - q)) - 1);
        __m512i sum = o;
        for (int k = 0; k < 4; ++k)
            sum = _mm512_add_epi64(sum, _mm512_maskz_loadu_epi64(keep, rest[k] + q));
        _mm512_mask_storeu_epi64(out + q, keep, sum);
        least = _mm512_mask_min_epi64(least, keep, least, sum);
    }
    return _mm512_reduce_min_epi64(least);
}

}  // namespace

constinit const Variant avx512_variant{"AVX-512",
                                       pair_costs_avx512,
                                       distances_avx512,
                                       received_distances_avx512,
                                       received_costs_avx512,
                                       shared_distances_avx512,
                                       row_floors_avx512,
                                       column_row_avx512,
                                       add_floor_terms_avx512,
                                       below_avx512,
                                       best_mix_avx512,
                                       cell_own_avx512,
                                       cell_rest_avx512,
                                       cell_floor_row_avx512,
                                       key_values_avx512,
                                       key_distances_avx512,
                                       key_floors_avx512,
                                       cell_row_avx512};

#endif

}  // namespace lumaweave::kernels
