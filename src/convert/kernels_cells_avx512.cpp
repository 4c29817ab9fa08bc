// The cell modes' kernels with 512-bit integer vectors (see kernels_avx512.cpp).
#include <algorithm>
#include <cstdint>

#include "convert/kernels_avx512_lanes.hpp"

namespace lumaweave::kernels {

#ifdef LUMAWEAVE_X86_VECTORS

namespace {

using namespace avx512;

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

constinit const CellKernels avx512_cells{
    shared_distances_avx512, cell_own_avx512,      cell_rest_avx512,  cell_row_avx512,
    key_values_avx512,       key_distances_avx512, key_floors_avx512, cell_floor_row_avx512};

#endif

}  // namespace lumaweave::kernels
