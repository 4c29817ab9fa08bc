#include "convert/kernels.hpp"

#include <algorithm>
#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define LUMAWEAVE_X86_VECTORS 1
#endif

namespace lumaweave::kernels {

namespace {

void pair_costs_plain(const std::int32_t* d, std::int32_t weight, int first, std::int32_t* cost,
                      std::int32_t* colour) {
    for (int a = first; a < 15; ++a) {
        for (int b = a + 1; b < 16; ++b) {
            *cost++ = std::min(d[a], d[b]) * weight;
            if (colour != nullptr) *colour++ = d[a] < d[b] ? a : b;
        }
    }
}

void distances_plain(const std::int32_t* pr, const std::int32_t* pg, const std::int32_t* pb,
                     const std::int32_t* w, std::int32_t r, std::int32_t g, std::int32_t b,
                     std::int32_t* d) {
    for (int k = 0; k < 16; ++k) {
        const std::int32_t dr = r - pr[k], dg = g - pg[k], db = b - pb[k];
        d[k] = w[0] * dr * dr + w[1] * dg * dg + w[2] * db * db;
    }
}

void received_distances_plain(const std::int32_t* pr, const std::int32_t* pg,
                              const std::int32_t* pb, const std::int32_t* w,
                              const std::int32_t* dst, const std::int32_t* src, std::int32_t scale,
                              bool sp, std::int32_t low, std::int32_t high, std::int32_t* d,
                              std::int32_t* least) {
    const std::int32_t* palette[3] = {pr, pg, pb};
    for (int c = 0; c < 16; ++c) {
        std::int32_t v[3];
        for (int ch = 0; ch < 3; ++ch) {
            const std::int32_t e = src[ch] - palette[ch][c];
            v[ch] = std::clamp(dst[ch] + (sp ? (e * scale) >> 8 : e), low, high);
        }
        distances_plain(pr, pg, pb, w, v[0], v[1], v[2], d + 16 * c);
        least[c] = *std::min_element(d + 16 * c, d + 16 * c + 16);
    }
}

void add_floor_terms_plain(std::int32_t* acc, std::int32_t own, const std::int32_t* other,
                           const std::int32_t* alternative, int n, std::int32_t cap) {
    for (int q = 0; q < n; ++q)
        acc[q] += std::min(std::min(own + other[q], alternative[q]), cap);
}

int best_mix_plain(const std::int32_t* r, const std::int32_t* g, const std::int32_t* b,
                   const std::int32_t* a, const std::int32_t* c, const std::int32_t* wa,
                   const std::int32_t* wb, int count, const std::int32_t* weight,
                   const std::int32_t* to_palette, std::int32_t pr, std::int32_t pg,
                   std::int32_t pb) {
    std::int32_t least = INT32_MAX;
    int first = 0;
    for (int i = 0; i < count; ++i) {
        const std::int32_t dr = pr - r[i], dg = pg - g[i], db = pb - b[i];
        const std::int32_t score = ((to_palette[a[i]] * wa[i] + to_palette[c[i]] * wb[i]) >> 9) +
                                   weight[0] * dr * dr + weight[1] * dg * dg + weight[2] * db * db;
        if (score < least) {
            least = score;
            first = i;
        }
    }
    return first;
}

int below_plain(const std::int32_t* values, int n, std::int64_t limit, std::uint64_t* bits) {
    bits[0] = bits[1] = 0;
    int count = 0;
    for (int q = 0; q < n; ++q) {
        if (values[q] < limit) {
            bits[q >> 6] |= std::uint64_t{1} << (q & 63);
            ++count;
        }
    }
    return count;
}

#ifdef LUMAWEAVE_X86_VECTORS

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

__attribute__((target("avx2"))) inline __m256i load8(const std::int32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// table[k] for the lanes k (0..15) of a 16-entry table held as two vectors.
__attribute__((target("avx2"))) inline __m256i lookup16(__m256i lo, __m256i hi, __m256i k) {
    return _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, k),
                              _mm256_permutevar8x32_epi32(hi, k),
                              _mm256_cmpgt_epi32(k, _mm256_set1_epi32(7)));
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

__attribute__((target("avx2"))) void distances_avx2(const std::int32_t* pr, const std::int32_t* pg,
                                                    const std::int32_t* pb, const std::int32_t* w,
                                                    std::int32_t r, std::int32_t g, std::int32_t b,
                                                    std::int32_t* d) {
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

__attribute__((target("avx2"))) void received_distances_avx2(
    const std::int32_t* pr, const std::int32_t* pg, const std::int32_t* pb, const std::int32_t* w,
    const std::int32_t* dst, const std::int32_t* src, std::int32_t scale, bool sp, std::int32_t low,
    std::int32_t high, std::int32_t* d, std::int32_t* least) {
    // The received values for the 16 colours, channel by channel.
    alignas(32) std::int32_t v[3][16];
    const std::int32_t* palette[3] = {pr, pg, pb};
    const __m256i lo = _mm256_set1_epi32(low), hi = _mm256_set1_epi32(high);
    const __m256i f = _mm256_set1_epi32(scale);
    for (int ch = 0; ch < 3; ++ch) {
        const __m256i s = _mm256_set1_epi32(src[ch]), t = _mm256_set1_epi32(dst[ch]);
        for (int c = 0; c < 16; c += 8) {
            __m256i e = _mm256_sub_epi32(s, load8(palette[ch] + c));
            if (sp) e = _mm256_srai_epi32(_mm256_mullo_epi32(e, f), 8);
            const __m256i x = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(t, e), lo), hi);
            _mm256_store_si256(reinterpret_cast<__m256i*>(&v[ch][c]), x);
        }
    }
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
        __m256i m = _mm256_min_epi32(sum_lo, sum_hi);
        m = _mm256_min_epi32(m, _mm256_permute2x128_si256(m, m, 1));
        m = _mm256_min_epi32(m, _mm256_shuffle_epi32(m, 0x4E));
        m = _mm256_min_epi32(m, _mm256_shuffle_epi32(m, 0xB1));
        least[c] = _mm256_cvtsi256_si32(m);
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

#endif

const Variant plain{pair_costs_plain,      distances_plain, received_distances_plain,
                    add_floor_terms_plain, below_plain,     best_mix_plain};

#ifdef LUMAWEAVE_X86_VECTORS
const Variant vector{pair_costs_avx2,      distances_avx2, received_distances_avx2,
                     add_floor_terms_avx2, below_avx2,     best_mix_avx2};
#endif

const Variant* find_vector() {
#ifdef LUMAWEAVE_X86_VECTORS
    if (__builtin_cpu_supports("avx2")) return &vector;
#endif
    return nullptr;
}

// Chosen once, before main runs.
const Variant chosen = [] {
    const Variant* vector = find_vector();
    return vector ? *vector : plain;
}();

}  // namespace

int below(const std::int32_t* values, int n, std::int64_t limit, std::uint64_t* bits) {
    return chosen.below(values, n, limit, bits);
}

int best_mix(const std::int32_t* r, const std::int32_t* g, const std::int32_t* b,
             const std::int32_t* a, const std::int32_t* c, const std::int32_t* wa,
             const std::int32_t* wb, int count, const std::int32_t* weight,
             const std::int32_t* to_palette, std::int32_t pr, std::int32_t pg, std::int32_t pb) {
    return chosen.best_mix(r, g, b, a, c, wa, wb, count, weight, to_palette, pr, pg, pb);
}

void pair_costs(const std::int32_t* d, std::int32_t weight, int first, std::int32_t* cost,
                std::int32_t* colour) {
    chosen.pair_costs(d, weight, first, cost, colour);
}

void distances(const std::int32_t* pr, const std::int32_t* pg, const std::int32_t* pb,
               const std::int32_t* w, std::int32_t r, std::int32_t g, std::int32_t b,
               std::int32_t* d) {
    chosen.distances(pr, pg, pb, w, r, g, b, d);
}

void received_distances(const std::int32_t* pr, const std::int32_t* pg, const std::int32_t* pb,
                        const std::int32_t* w, const std::int32_t* dst, const std::int32_t* src,
                        std::int32_t scale, bool sp, std::int32_t low, std::int32_t high,
                        std::int32_t* d, std::int32_t* least) {
    chosen.received_distances(pr, pg, pb, w, dst, src, scale, sp, low, high, d, least);
}

void add_floor_terms(std::int32_t* acc, std::int32_t own, const std::int32_t* other,
                     const std::int32_t* alternative, int n, std::int32_t cap) {
    chosen.add_floor_terms(acc, own, other, alternative, n, cap);
}

const Variant& plain_variant() {
    return plain;
}

const Variant* vector_variant() {
    return find_vector();
}

}  // namespace lumaweave::kernels
