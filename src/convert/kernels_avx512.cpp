// The kernels with 512-bit integer vectors (AVX-512 F, BW, VL, DQ). Each function is built for
// AVX-512 by its own attribute, so the rest of the program keeps the baseline instruction set and
// this code runs only where the processor has AVX-512 (kernels.cpp checks). A 16-entry table of
// colours fits one register, so a look-up by colour number is one permutation.
#include <algorithm>
#include <cstdint>

#include "convert/kernels_avx512_lanes.hpp"

namespace lumaweave::kernels {

#ifdef LUMAWEAVE_X86_VECTORS

namespace {

using namespace avx512;

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

}  // namespace

constinit const Variant avx512_variant{"AVX-512",
                                       pair_costs_avx512,
                                       distances_avx512,
                                       received_distances_avx512,
                                       received_costs_avx512,
                                       row_floors_avx512,
                                       column_row_avx512,
                                       add_floor_terms_avx512,
                                       below_avx512,
                                       best_mix_avx512,
                                       &avx512_cells};

#endif

}  // namespace lumaweave::kernels
