// The cell modes' kernels with 256-bit integer vectors (see kernels_avx2.cpp).
#include <algorithm>
#include <cstdint>

#include "convert/kernels_avx2_lanes.hpp"
#include "convert/types.hpp"

namespace lumaweave::kernels {

#ifdef LUMAWEAVE_X86_VECTORS

namespace {

using namespace avx2;

__attribute__((target("avx2"))) void shared_distances_avx2(
    const std::int32_t* pr, const std::int32_t* pg, const std::int32_t* pb, const std::int32_t* w,
    const std::int32_t* dst, const std::int32_t* src, std::int32_t share, std::int32_t scale,
    bool sp, std::int32_t low, std::int32_t high, std::int32_t* d) {
    alignas(32) std::int32_t v[3][16];
    const std::int32_t* palette[3] = {pr, pg, pb};
    received_values(palette, dst, src, share, scale, sp, low, high, v);
    value_distances(pr, pg, pb, w, v, d, nullptr);
}

__attribute__((target("avx2"))) void cell_own_avx2(const std::int32_t* second,
                                                   const std::int32_t* cost, const std::uint8_t* fg,
                                                   int bit, std::int32_t weight, int first,
                                                   bool by_both, std::int32_t* own,
                                                   std::uint8_t* key, std::uint8_t* colours) {
    const __m256i w = _mm256_set1_epi32(weight), one = _mm256_set1_epi32(1);
    const int skip = first == 0 ? 0 : 15, n = first == 0 ? 120 : 105;
    for (int p = 0; p < n; p += 8) {
        // Lanes past the list look at pair (0, 0) and the arrays' room; they are not kept.
        const __m256i ia = load8(pair_index.a + skip + p), ib = load8(pair_index.b + skip + p);
        const __m256i bits =
            _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(fg + p)));
        const __m256i takes_a =
            _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_srli_epi32(bits, bit), one), one);
        const __m256i t = _mm256_blendv_epi8(ib, ia, takes_a);
        const __m256i row = _mm256_slli_epi32(t, 4);
        const __m256i da = _mm256_i32gather_epi32(second, _mm256_add_epi32(row, ia), 4);
        const __m256i db = _mm256_i32gather_epi32(second, _mm256_add_epi32(row, ib), 4);
        const __m256i u = _mm256_blendv_epi8(ib, ia, _mm256_cmpgt_epi32(db, da));
        const __m256i sum =
            _mm256_add_epi32(load8(cost + p), _mm256_mullo_epi32(_mm256_min_epi32(da, db), w));
        alignas(32) std::int32_t lanes[3][8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[0]), sum);
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[1]), _mm256_add_epi32(row, u));
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[2]), t);
        for (int k = 0; k < 8 && p + k < n; ++k) {
            own[p + k] = lanes[0][k];
            colours[p + k] = static_cast<std::uint8_t>(lanes[1][k]);
            key[p + k] = static_cast<std::uint8_t>(by_both ? lanes[1][k] : lanes[2][k]);
        }
    }
}

__attribute__((target("avx2"))) void cell_rest_avx2(const CellRest& in, std::int32_t cap,
                                                    std::int64_t* out, std::int32_t* capped) {
    const std::int32_t* palette[3] = {in.palette_r, in.palette_g, in.palette_b};
    // The second pixel's value after the first took colour c, in lane c of two vectors.
    alignas(32) std::int32_t values[3][16];
    received_values(palette, in.base, in.value, in.share, in.scale, in.sp, in.low, in.high, values);
    __m256i v[3][2], pal[3][2];
    for (int ch = 0; ch < 3; ++ch) {
        for (int h = 0; h < 2; ++h) {
            v[ch][h] = load8(values[ch] + 8 * h);
            pal[ch][h] = load8(palette[ch] + 8 * h);
        }
    }
    const __m256i wv[3] = {_mm256_set1_epi32(in.weight[0]), _mm256_set1_epi32(in.weight[1]),
                           _mm256_set1_epi32(in.weight[2])};
    const __m256i lo = load8(in.d1), hi = load8(in.d1 + 8);
    const __m256i w1v = _mm256_set1_epi64x(in.w1), w2v = _mm256_set1_epi64x(in.w2);
    const int skip = in.first == 0 ? 0 : 15, n = in.first == 0 ? 120 : 105;
    for (int p = 0; p < n; p += 8) {
        // Lanes past the list look at pair (0, 0); what they give is not kept.
        const __m256i ia = load8(pair_index.a + skip + p), ib = load8(pair_index.b + skip + p);
        const __m256i da = lookup16(lo, hi, ia), db = lookup16(lo, hi, ib);
        const __m256i c = _mm256_blendv_epi8(ib, ia, _mm256_cmpgt_epi32(db, da));
        __m256i to_a = _mm256_setzero_si256(), to_b = _mm256_setzero_si256();
        for (int ch = 0; ch < 3; ++ch) {
            const __m256i x = lookup16(v[ch][0], v[ch][1], c);
            const __m256i ea = _mm256_sub_epi32(x, lookup16(pal[ch][0], pal[ch][1], ia));
            const __m256i eb = _mm256_sub_epi32(x, lookup16(pal[ch][0], pal[ch][1], ib));
            to_a = _mm256_add_epi32(to_a, _mm256_mullo_epi32(wv[ch], _mm256_mullo_epi32(ea, ea)));
            to_b = _mm256_add_epi32(to_b, _mm256_mullo_epi32(wv[ch], _mm256_mullo_epi32(eb, eb)));
        }
        const __m256i d1min = _mm256_min_epi32(da, db), d2min = _mm256_min_epi32(to_a, to_b);
        alignas(32) std::int64_t sum[8];
        for (int h = 0; h < 2; ++h) {
            const __m256i x = _mm256_cvtepi32_epi64(h ? _mm256_extracti128_si256(d1min, 1)
                                                      : _mm256_castsi256_si128(d1min));
            const __m256i y = _mm256_cvtepi32_epi64(h ? _mm256_extracti128_si256(d2min, 1)
                                                      : _mm256_castsi256_si128(d2min));
            _mm256_store_si256(
                reinterpret_cast<__m256i*>(sum + 4 * h),
                _mm256_add_epi64(_mm256_mul_epi32(x, w1v), _mm256_mul_epi32(y, w2v)));
        }
        for (int k = 0; k < 8 && p + k < n; ++k) {
            if (out != nullptr) out[p + k] = sum[k];
            if (capped != nullptr)
                capped[p + k] = static_cast<std::int32_t>(std::min<std::int64_t>(sum[k], cap));
        }
    }
}

__attribute__((target("avx2"))) void key_values_avx2(const KeyValues& in, const std::int32_t* first,
                                                     const std::int32_t* second, int count,
                                                     std::int32_t* r, std::int32_t* g,
                                                     std::int32_t* b) {
    const std::int32_t* palette[3] = {in.palette_r, in.palette_g, in.palette_b};
    const __m256i lo = _mm256_set1_epi32(in.low), hi = _mm256_set1_epi32(in.high);
    std::int32_t* out[3] = {r, g, b};
    for (int j = 0; j < count; j += 8) {
        // Lanes past count read the colours' room; what they give is not kept.
        const __m256i ta = _mm256_and_si256(load8(first + j), _mm256_set1_epi32(15));
        const __m256i tb = _mm256_and_si256(load8(second + j), _mm256_set1_epi32(15));
        alignas(32) std::int32_t lanes[8];
        for (int ch = 0; ch < 3; ++ch) {
            __m256i e = _mm256_sub_epi32(_mm256_set1_epi32(in.own_first[ch]),
                                         _mm256_i32gather_epi32(palette[ch], ta, 4));
            if (in.two_stage) {
                const __m256i v = _mm256_min_epi32(
                    _mm256_max_epi32(
                        _mm256_add_epi32(_mm256_set1_epi32(in.own_second[ch]),
                                         share_of(e, in.first_share, in.first_scale, in.sp)),
                        lo),
                    hi);
                e = _mm256_sub_epi32(v, _mm256_i32gather_epi32(palette[ch], tb, 4));
            }
            const __m256i v = _mm256_min_epi32(
                _mm256_max_epi32(_mm256_add_epi32(_mm256_set1_epi32(in.own_target[ch]),
                                                  share_of(e, in.share, in.scale, in.sp)),
                                 lo),
                hi);
            _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
            for (int k = 0; k < 8 && j + k < count; ++k)
                out[ch][j + k] = lanes[k];
        }
    }
}

__attribute__((target("avx2"))) void key_distances_avx2(
    const std::int32_t* r, const std::int32_t* g, const std::int32_t* b, int count,
    const std::int32_t* pr, const std::int32_t* pg, const std::int32_t* pb, const std::int32_t* w,
    std::int32_t* by_colour, std::int32_t* by_key) {
    for (int j = 0; j < count; ++j)
        distances_avx2(pr, pg, pb, w, r[j], g[j], b[j], by_key + 16 * j);
    const __m256i wv[3] = {_mm256_set1_epi32(w[0]), _mm256_set1_epi32(w[1]),
                           _mm256_set1_epi32(w[2])};
    const std::int32_t* palette[3] = {pr, pg, pb};
    const std::int32_t* value[3] = {r, g, b};
    for (int j = 0; j < count; j += 8) {
        // Lanes past count read the values' room; what they give is not read.
        for (int c = 0; c < 16; ++c) {
            __m256i sum = _mm256_setzero_si256();
            for (int ch = 0; ch < 3; ++ch) {
                const __m256i e =
                    _mm256_sub_epi32(load8(value[ch] + j), _mm256_set1_epi32(palette[ch][c]));
                sum = _mm256_add_epi32(sum, _mm256_mullo_epi32(wv[ch], _mm256_mullo_epi32(e, e)));
            }
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(by_colour + key_room * c + j), sum);
        }
    }
}

__attribute__((target("avx2"))) void key_floors_avx2(const std::int32_t* by_key, int count,
                                                     std::int32_t weight,
                                                     const std::int32_t* own_least, int first,
                                                     std::int32_t* pair_least,
                                                     std::int32_t* key_least) {
    const int skip = first == 0 ? 0 : 15, n = first == 0 ? 120 : 105;
    const __m256i w = _mm256_set1_epi32(weight);
    alignas(32) std::int32_t least[128];
    std::fill_n(least, 128, INT32_MAX);
    for (int j = 0; j < count; ++j) {
        const __m256i lo = load8(by_key + 16 * j), hi = load8(by_key + 16 * j + 8);
        const __m256i own = _mm256_set1_epi32(own_least[j]);
        __m256i key = _mm256_set1_epi32(INT32_MAX);
        for (int p = 0; p < n; p += 8) {
            const __m256i ia = load8(pair_index.a + skip + p), ib = load8(pair_index.b + skip + p);
            const __m256i cost =
                _mm256_mullo_epi32(_mm256_min_epi32(lookup16(lo, hi, ia), lookup16(lo, hi, ib)), w);
            // Lanes past the list hold pair (0, 0): kept out of the key's least.
            const __m256i in_list = _mm256_cmpgt_epi32(_mm256_set1_epi32(n - p),
                                                       _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
            key = _mm256_min_epi32(key,
                                   _mm256_blendv_epi8(_mm256_set1_epi32(INT32_MAX), cost, in_list));
            __m256i* at = reinterpret_cast<__m256i*>(least + p);
            _mm256_store_si256(
                at, _mm256_min_epi32(_mm256_load_si256(at), _mm256_add_epi32(cost, own)));
        }
        key_least[j] = least8(key);
    }
    std::copy_n(least, n, pair_least);
}

__attribute__((target("avx2"))) void cell_floor_row_avx2(
    const std::int32_t* own, const std::int32_t* const* rest, const std::int32_t* const* other_own,
    const std::int32_t* const* key, const std::int32_t* const* by_colour,
    const std::int32_t* weight, const int* key_count, int a, int b, int n, std::int32_t cap,
    std::int32_t* out) {
    const __m256i c = _mm256_set1_epi32(cap);
    // Each cell's lower-first costs with colours a, b, by key.
    alignas(32) std::int32_t received[4][key_room];
    for (int k = 0; k < 4; ++k) {
        const __m256i w = _mm256_set1_epi32(weight[k]);
        const std::int32_t *da = by_colour[k] + key_room * a, *db = by_colour[k] + key_room * b;
        for (int j = 0; j < key_count[k]; j += 8) {
            _mm256_store_si256(
                reinterpret_cast<__m256i*>(received[k] + j),
                _mm256_mullo_epi32(_mm256_min_epi32(load8(da + j), load8(db + j)), w));
        }
    }
    for (int q = 0; q < n; q += 8) {
        __m256i sum = _mm256_setzero_si256();
        for (int k = 0; k < 4; ++k) {
            const __m256i here = _mm256_add_epi32(_mm256_set1_epi32(own[k]), load8(rest[k] + q));
            // Keys past n are 0: a key that exists.
            const __m256i there = _mm256_add_epi32(
                load8(other_own[k] + q), _mm256_i32gather_epi32(received[k], load8(key[k] + q), 4));
            sum = _mm256_add_epi32(sum, _mm256_min_epi32(_mm256_min_epi32(here, there), c));
        }
        if (q + 8 <= n) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + q), sum);
        } else {
            alignas(32) std::int32_t last[8];
            _mm256_store_si256(reinterpret_cast<__m256i*>(last), sum);
            for (int k = 0; q + k < n; ++k)
                out[q + k] = last[k];
        }
    }
}

__attribute__((target("avx2"))) std::int64_t cell_row_avx2(std::int64_t own,
                                                           const std::int64_t* const* rest, int n,
                                                           std::int64_t* out) {
    const __m256i o = _mm256_set1_epi64x(own), lane = _mm256_setr_epi64x(0, 1, 2, 3);
    __m256i least = _mm256_set1_epi64x(INT64_MAX);
    for (int q = 0; q < n; q += 4) {
        // Lanes past n sum the arrays' room: stored there, kept out of the least.
        __m256i sum = o;
        for (int k = 0; k < 4; ++k) {
            sum = _mm256_add_epi64(
                sum, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rest[k] + q)));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + q), sum);
        const __m256i lower = _mm256_and_si256(_mm256_cmpgt_epi64(least, sum),
                                               _mm256_cmpgt_epi64(_mm256_set1_epi64x(n - q), lane));
        least = _mm256_blendv_epi8(least, sum, lower);
    }
    alignas(32) std::int64_t l[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(l), least);
    return std::min(std::min(l[0], l[1]), std::min(l[2], l[3]));
}

}  // namespace

constinit const CellKernels avx2_cells{
    shared_distances_avx2, cell_own_avx2,      cell_rest_avx2,  cell_row_avx2,
    key_values_avx2,       key_distances_avx2, key_floors_avx2, cell_floor_row_avx2};

#endif

}  // namespace lumaweave::kernels
