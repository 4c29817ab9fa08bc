// The kernels with 256-bit integer vectors (AVX2). Each function is built for AVX2 by its own
// attribute, so the rest of the program keeps the baseline instruction set and this code runs
// only where the processor has AVX2 (kernels.cpp checks).
#include <algorithm>
#include <cstdint>

#include "convert/kernels_avx2_lanes.hpp"

namespace lumaweave::kernels {

#ifdef LUMAWEAVE_X86_VECTORS

namespace {

using namespace avx2;

__attribute__((target("avx2"))) int below_avx2(const std::int32_t* values, int n,
                                               std::int64_t limit, std::uint64_t* bits) {
    if (limit > INT32_MAX) return below_plain(values, n, limit, bits);
    const __m256i l = _mm256_set1_epi32(static_cast<std::int32_t>(limit));
    bits[0] = bits[1] = 0;
    for (int q = 0; q < n; q += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + q));
        auto m = static_cast<std::uint64_t>(
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(l, v))));
        if (q + 8 > n) m &= (std::uint64_t{1} << (n - q)) - 1;
        bits[q >> 6] |= m << (q & 63);
    }
    return __builtin_popcountll(bits[0]) + __builtin_popcountll(bits[1]);
}

__attribute__((target("avx2"))) int best_mix_avx2(const std::int32_t* r, const std::int32_t* g,
                                                  const std::int32_t* b, const std::int32_t* a,
                                                  const std::int32_t* c, const std::int32_t* wa,
                                                  const std::int32_t* wb, int count,
                                                  const std::int32_t* weight,
                                                  const std::int32_t* to_palette, std::int32_t pr,
                                                  std::int32_t pg, std::int32_t pb) {
    const __m256i t_lo = load8(to_palette), t_hi = load8(to_palette + 8);
    const __m256i w0 = _mm256_set1_epi32(weight[0]), w1 = _mm256_set1_epi32(weight[1]),
                  w2 = _mm256_set1_epi32(weight[2]);
    const __m256i vr = _mm256_set1_epi32(pr), vg = _mm256_set1_epi32(pg),
                  vb = _mm256_set1_epi32(pb);
    alignas(32) std::int32_t score[384];
    __m256i least = _mm256_set1_epi32(INT32_MAX);
    for (int i = 0; i < count; i += 8) {
        const __m256i dr = _mm256_sub_epi32(vr, load8(r + i));
        const __m256i dg = _mm256_sub_epi32(vg, load8(g + i));
        const __m256i db = _mm256_sub_epi32(vb, load8(b + i));
        const __m256i mixed =
            _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(w0, _mm256_mullo_epi32(dr, dr)),
                                              _mm256_mullo_epi32(w1, _mm256_mullo_epi32(dg, dg))),
                             _mm256_mullo_epi32(w2, _mm256_mullo_epi32(db, db)));
        const __m256i to_pair = _mm256_srai_epi32(
            _mm256_add_epi32(_mm256_mullo_epi32(lookup16(t_lo, t_hi, load8(a + i)), load8(wa + i)),
                             _mm256_mullo_epi32(lookup16(t_lo, t_hi, load8(c + i)), load8(wb + i))),
            9);
        const __m256i s = _mm256_add_epi32(to_pair, mixed);
        _mm256_store_si256(reinterpret_cast<__m256i*>(score + i), s);
        least = _mm256_min_epi32(least, s);
    }
    // The least over the lanes, then its first place.
    __m256i m = _mm256_min_epi32(least, _mm256_permute2x128_si256(least, least, 1));
    m = _mm256_min_epi32(m, _mm256_shuffle_epi32(m, 0x4E));
    m = _mm256_min_epi32(m, _mm256_shuffle_epi32(m, 0xB1));
    for (int i = 0; i < count; i += 8) {
        const int hit = _mm256_movemask_ps(_mm256_castsi256_ps(
            _mm256_cmpeq_epi32(_mm256_load_si256(reinterpret_cast<const __m256i*>(score + i)), m)));
        if (hit != 0) return i + __builtin_ctz(static_cast<unsigned>(hit));
    }
    return 0;
}

__attribute__((target("avx2"))) void pair_costs_avx2(const std::int32_t* d, std::int32_t weight,
                                                     int first, std::int32_t* cost,
                                                     std::int32_t* colour) {
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + 8));
    const __m256i index_lo = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i index_hi = _mm256_setr_epi32(8, 9, 10, 11, 12, 13, 14, 15);
    const __m256i w = _mm256_set1_epi32(weight);
    for (int a = first; a < 15; ++a) {
        // Lane b of the two vectors holds pair (a, b); lanes b <= a are masked off, so nothing is
        // written (or read) through them, also where they would lie before the arrays. The run
        // of pair (a, a + 1) starts where lane a + 1 lands.
        const __m256i av = _mm256_set1_epi32(a);
        const __m256i da = _mm256_set1_epi32(d[a]);
        const __m256i keep_lo = _mm256_cmpgt_epi32(index_lo, av);
        const __m256i keep_hi = _mm256_cmpgt_epi32(index_hi, av);
        const std::ptrdiff_t shift = -(a + 1);
        // Masked stores address whole vectors; work out the addresses without forming a pointer
        // before the array.
        _mm256_maskstore_epi32(
            reinterpret_cast<int*>(reinterpret_cast<std::uintptr_t>(cost) + shift * 4), keep_lo,
            _mm256_mullo_epi32(_mm256_min_epi32(da, lo), w));
        _mm256_maskstore_epi32(cost + shift + 8, keep_hi,
                               _mm256_mullo_epi32(_mm256_min_epi32(da, hi), w));
        if (colour != nullptr) {
            // a where d[a] < d[b], that is where d[b] > d[a]; else b.
            const __m256i c_lo = _mm256_blendv_epi8(index_lo, av, _mm256_cmpgt_epi32(lo, da));
            const __m256i c_hi = _mm256_blendv_epi8(index_hi, av, _mm256_cmpgt_epi32(hi, da));
            _mm256_maskstore_epi32(
                reinterpret_cast<int*>(reinterpret_cast<std::uintptr_t>(colour) + shift * 4),
                keep_lo, c_lo);
            _mm256_maskstore_epi32(colour + shift + 8, keep_hi, c_hi);
            colour += 15 - a;
        }
        cost += 15 - a;
    }
}

__attribute__((target("avx2"))) void received_distances_avx2(
    const std::int32_t* pr, const std::int32_t* pg, const std::int32_t* pb, const std::int32_t* w,
    const std::int32_t* dst, const std::int32_t* src, std::int32_t scale, bool sp, std::int32_t low,
    std::int32_t high, std::int32_t* d, std::int32_t* least) {
    alignas(32) std::int32_t v[3][16];
    const std::int32_t* palette[3] = {pr, pg, pb};
    received_values(palette, dst, src, 8, scale, sp, low, high, v);
    value_distances(pr, pg, pb, w, v, d, least);
}

__attribute__((target("avx2"))) void received_costs_avx2(
    const std::int32_t* pr, const std::int32_t* pg, const std::int32_t* pb, const std::int32_t* w,
    const std::int32_t* dst, const std::int32_t* src, std::int32_t scale, bool sp, std::int32_t low,
    std::int32_t high, std::int32_t weight, bool transposed, std::int32_t* d,
    std::int32_t* row_least, std::int32_t* column_least) {
    const std::int32_t* palette[3] = {pr, pg, pb};
    std::int32_t v[3][16];
    received_values(palette, dst, src, 8, scale, sp, low, high, v);
    // Row r of the output: colour c = r (lanes k), or palette colour k = r (lanes c).
    const __m256i wv[3] = {_mm256_set1_epi32(w[0] * weight), _mm256_set1_epi32(w[1] * weight),
                           _mm256_set1_epi32(w[2] * weight)};
    __m256i across[2] = {_mm256_set1_epi32(INT32_MAX), _mm256_set1_epi32(INT32_MAX)};
    for (int r = 0; r < 16; ++r) {
        __m256i sum[2] = {_mm256_setzero_si256(), _mm256_setzero_si256()};
        for (int ch = 0; ch < 3; ++ch) {
            for (int h = 0; h < 2; ++h) {
                const __m256i a = transposed ? load8(&v[ch][8 * h]) : load8(palette[ch] + 8 * h);
                const __m256i x = _mm256_set1_epi32(transposed ? palette[ch][r] : v[ch][r]);
                const __m256i diff = _mm256_sub_epi32(x, a);
                sum[h] = _mm256_add_epi32(
                    sum[h], _mm256_mullo_epi32(wv[ch], _mm256_mullo_epi32(diff, diff)));
            }
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 16 * r), sum[0]);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 16 * r + 8), sum[1]);
        row_least[r] = least8(_mm256_min_epi32(sum[0], sum[1]));
        across[0] = _mm256_min_epi32(across[0], sum[0]);
        across[1] = _mm256_min_epi32(across[1], sum[1]);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(column_least), across[0]);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(column_least + 8), across[1]);
}

// table[16 j + k] for the lanes k of a 16-entry table at t.
__attribute__((target("avx2"))) inline __m256i lookup_at(const std::int32_t* t, __m256i k) {
    return lookup16(load8(t), load8(t + 8), k);
}

__attribute__((target("avx2"))) void row_floors_avx2(
    const std::int32_t* const* own, const std::int32_t* const* colour, const std::int32_t* nearest,
    const std::int32_t* cheapest, const std::int32_t* here, const std::int32_t* f,
    const std::int32_t* b, int n, std::int32_t cap, std::int32_t* out) {
    const __m256i c = _mm256_set1_epi32(cap);
    for (int p = 0; p < n; p += 8) {
        const __m256i fv = load8(f + p), bv = load8(b + p);
        __m256i sum = _mm256_setzero_si256();
        for (int j = 0; j < 8; ++j) {
            const __m256i first = _mm256_add_epi32(
                load8(own[j] + p), lookup_at(nearest + 16 * j, load8(colour[j] + p)));
            const __m256i second = _mm256_add_epi32(
                _mm256_set1_epi32(cheapest[j]),
                _mm256_min_epi32(lookup_at(here + 16 * j, fv), lookup_at(here + 16 * j, bv)));
            sum = _mm256_add_epi32(sum, _mm256_min_epi32(_mm256_min_epi32(first, second), c));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + p), sum);
    }
}

__attribute__((target("avx2"))) void column_row_avx2(
    const std::int32_t* own, const std::int32_t* const* first, const std::int32_t* const* back_f,
    const std::int32_t* const* back_b, const std::int32_t* const* other,
    const std::int32_t* const* colour, const std::int32_t* f, const std::int32_t* b, int n,
    std::int32_t cap, std::int32_t* out) {
    const __m256i c = _mm256_set1_epi32(cap);
    // The lower-first order's second pixel: the cheaper colour of the upper pair, by the colour
    // the lower pixel took.
    __m256i back[8][2];
    for (int j = 0; j < 8; ++j) {
        for (int h = 0; h < 2; ++h)
            back[j][h] = _mm256_min_epi32(load8(back_f[j] + 8 * h), load8(back_b[j] + 8 * h));
    }
    for (int q = 0; q < n; q += 8) {
        const __m256i fv = load8(f + q), bv = load8(b + q);
        __m256i sum = _mm256_setzero_si256();
        for (int j = 0; j < 8; ++j) {
            const __m256i upper_first = _mm256_add_epi32(
                _mm256_set1_epi32(own[j]),
                _mm256_min_epi32(lookup_at(first[j], fv), lookup_at(first[j], bv)));
            const __m256i lower_first = _mm256_add_epi32(
                load8(other[j] + q), lookup16(back[j][0], back[j][1], load8(colour[j] + q)));
            sum = _mm256_add_epi32(sum,
                                   _mm256_min_epi32(_mm256_min_epi32(upper_first, lower_first), c));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + q), sum);
    }
}

__attribute__((target("avx2"))) void add_floor_terms_avx2(std::int32_t* acc, std::int32_t own,
                                                          const std::int32_t* other,
                                                          const std::int32_t* alternative, int n,
                                                          std::int32_t cap) {
    const __m256i o = _mm256_set1_epi32(own), c = _mm256_set1_epi32(cap);
    for (int q = 0; q < n; q += 8) {
        const __m256i x =
            _mm256_add_epi32(o, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(other + q)));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(alternative + q));
        const __m256i term = _mm256_min_epi32(_mm256_min_epi32(x, y), c);
        __m256i* out = reinterpret_cast<__m256i*>(acc + q);
        _mm256_storeu_si256(out, _mm256_add_epi32(_mm256_loadu_si256(out), term));
    }
}

}  // namespace

constinit const Variant avx2_variant{"AVX2",
                                     pair_costs_avx2,
                                     distances_avx2,
                                     received_distances_avx2,
                                     received_costs_avx2,
                                     row_floors_avx2,
                                     column_row_avx2,
                                     add_floor_terms_avx2,
                                     below_avx2,
                                     best_mix_avx2,
                                     &avx2_cells};

#endif

}  // namespace lumaweave::kernels
