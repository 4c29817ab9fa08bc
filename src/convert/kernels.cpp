// The plain loops of the kernels, which every platform has, and the choice of the version used.
#include "convert/kernels.hpp"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "convert/kernel_sets.hpp"
#include "convert/kernels_plain.hpp"

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

void received_distances_plain(const std::int32_t* pr, const std::int32_t* pg,
                              const std::int32_t* pb, const std::int32_t* w,
                              const std::int32_t* dst, const std::int32_t* src, std::int32_t scale,
                              bool sp, std::int32_t low, std::int32_t high, std::int32_t* d,
                              std::int32_t* least) {
    const std::int32_t* palette[3] = {pr, pg, pb};
    for (int c = 0; c < 16; ++c) {
        std::int32_t v[3];
        received_value(palette, dst, src, c, 8, scale, sp, low, high, v);
        distances_plain(pr, pg, pb, w, v[0], v[1], v[2], d + 16 * c);
        least[c] = *std::min_element(d + 16 * c, d + 16 * c + 16);
    }
}

void received_costs_plain(const std::int32_t* pr, const std::int32_t* pg, const std::int32_t* pb,
                          const std::int32_t* w, const std::int32_t* dst, const std::int32_t* src,
                          std::int32_t scale, bool sp, std::int32_t low, std::int32_t high,
                          std::int32_t weight, bool transposed, std::int32_t* d,
                          std::int32_t* row_least, std::int32_t* column_least) {
    const std::int32_t* palette[3] = {pr, pg, pb};
    std::int32_t row[16];
    for (int c = 0; c < 16; ++c) {
        std::int32_t v[3];
        for (int ch = 0; ch < 3; ++ch) {
            const std::int32_t e = src[ch] - palette[ch][c];
            v[ch] = std::clamp(dst[ch] + (sp ? (e * scale) >> 8 : e), low, high);
        }
        distances_plain(pr, pg, pb, w, v[0], v[1], v[2], row);
        for (int k = 0; k < 16; ++k)
            d[transposed ? 16 * k + c : 16 * c + k] = row[k] * weight;
    }
    for (int r = 0; r < 16; ++r) {
        row_least[r] = *std::min_element(d + 16 * r, d + 16 * r + 16);
        column_least[r] = d[r];
        for (int q = 1; q < 16; ++q)
            column_least[r] = std::min(column_least[r], d[16 * q + r]);
    }
}

void row_floors_plain(const std::int32_t* const* own, const std::int32_t* const* colour,
                      const std::int32_t* nearest, const std::int32_t* cheapest,
                      const std::int32_t* here, const std::int32_t* f, const std::int32_t* b, int n,
                      std::int32_t cap, std::int32_t* out) {
    for (int p = 0; p < n; ++p) {
        std::int32_t sum = 0;
        for (int j = 0; j < 8; ++j) {
            const std::int32_t first = own[j][p] + nearest[16 * j + colour[j][p]];
            const std::int32_t second =
                cheapest[j] + std::min(here[16 * j + f[p]], here[16 * j + b[p]]);
            sum += std::min(std::min(first, second), cap);
        }
        out[p] = sum;
    }
}

void column_row_plain(const std::int32_t* own, const std::int32_t* const* first,
                      const std::int32_t* const* back_f, const std::int32_t* const* back_b,
                      const std::int32_t* const* other, const std::int32_t* const* colour,
                      const std::int32_t* f, const std::int32_t* b, int n, std::int32_t cap,
                      std::int32_t* out) {
    for (int q = 0; q < n; ++q) {
        std::int32_t sum = 0;
        for (int j = 0; j < 8; ++j) {
            const std::int32_t upper_first = own[j] + std::min(first[j][f[q]], first[j][b[q]]);
            const int c = colour[j][q];
            const std::int32_t lower_first = other[j][q] + std::min(back_f[j][c], back_b[j][c]);
            sum += std::min(std::min(upper_first, lower_first), cap);
        }
        out[q] = sum;
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

}  // namespace

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

namespace {

const Variant plain{"plain",
                    pair_costs_plain,
                    distances_plain,
                    received_distances_plain,
                    received_costs_plain,
                    row_floors_plain,
                    column_row_plain,
                    add_floor_terms_plain,
                    below_plain,
                    best_mix_plain,
                    &plain_cells};

// The vector versions the processor runs, narrowest first.
struct Supported {
    const Variant* variants[2] = {nullptr, nullptr};
    int count = 0;
};

Supported find_vectors() {
    Supported s;
#ifdef LUMAWEAVE_X86_VECTORS
    if (__builtin_cpu_supports("avx2")) {
        s.variants[s.count++] = &avx2_variant;
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
            __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq")) {
            s.variants[s.count++] = &avx512_variant;
        }
    }
#endif
    return s;
}

const Supported supported = find_vectors();

// Chosen once, before main runs: the widest.
const Variant chosen = supported.count ? *supported.variants[supported.count - 1] : plain;

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

void received_costs(const std::int32_t* pr, const std::int32_t* pg, const std::int32_t* pb,
                    const std::int32_t* w, const std::int32_t* dst, const std::int32_t* src,
                    std::int32_t scale, bool sp, std::int32_t low, std::int32_t high,
                    std::int32_t weight, bool transposed, std::int32_t* d, std::int32_t* row_least,
                    std::int32_t* column_least) {
    chosen.received_costs(pr, pg, pb, w, dst, src, scale, sp, low, high, weight, transposed, d,
                          row_least, column_least);
}

void shared_distances(const std::int32_t* pr, const std::int32_t* pg, const std::int32_t* pb,
                      const std::int32_t* w, const std::int32_t* dst, const std::int32_t* src,
                      std::int32_t share, std::int32_t scale, bool sp, std::int32_t low,
                      std::int32_t high, std::int32_t* d) {
    chosen.cells->shared_distances(pr, pg, pb, w, dst, src, share, scale, sp, low, high, d);
}

void row_floors(const std::int32_t* const* own, const std::int32_t* const* colour,
                const std::int32_t* nearest, const std::int32_t* cheapest, const std::int32_t* here,
                const std::int32_t* f, const std::int32_t* b, int n, std::int32_t cap,
                std::int32_t* out) {
    chosen.row_floors(own, colour, nearest, cheapest, here, f, b, n, cap, out);
}

void column_row(const std::int32_t* own, const std::int32_t* const* first,
                const std::int32_t* const* back_f, const std::int32_t* const* back_b,
                const std::int32_t* const* other, const std::int32_t* const* colour,
                const std::int32_t* f, const std::int32_t* b, int n, std::int32_t cap,
                std::int32_t* out) {
    chosen.column_row(own, first, back_f, back_b, other, colour, f, b, n, cap, out);
}

void add_floor_terms(std::int32_t* acc, std::int32_t own, const std::int32_t* other,
                     const std::int32_t* alternative, int n, std::int32_t cap) {
    chosen.add_floor_terms(acc, own, other, alternative, n, cap);
}

void cell_own(const std::int32_t* second, const std::int32_t* cost, const std::uint8_t* fg, int bit,
              std::int32_t weight, int first, bool by_both, std::int32_t* own, std::uint8_t* key,
              std::uint8_t* colours) {
    chosen.cells->cell_own(second, cost, fg, bit, weight, first, by_both, own, key, colours);
}

void cell_rest(const CellRest& c, std::int32_t cap, std::int64_t* out, std::int32_t* capped) {
    chosen.cells->cell_rest(c, cap, out, capped);
}

void cell_floor_row(const std::int32_t* own, const std::int32_t* const* rest,
                    const std::int32_t* const* other_own, const std::int32_t* const* key,
                    const std::int32_t* const* by_colour, const std::int32_t* weight,
                    const int* key_count, int a, int b, int n, std::int32_t cap,
                    std::int32_t* out) {
    chosen.cells->cell_floor_row(own, rest, other_own, key, by_colour, weight, key_count, a, b, n,
                                 cap, out);
}

void key_values(const KeyValues& v, const std::int32_t* first, const std::int32_t* second,
                int count, std::int32_t* r, std::int32_t* g, std::int32_t* b) {
    chosen.cells->key_values(v, first, second, count, r, g, b);
}

void key_distances(const std::int32_t* r, const std::int32_t* g, const std::int32_t* b, int count,
                   const std::int32_t* pr, const std::int32_t* pg, const std::int32_t* pb,
                   const std::int32_t* w, std::int32_t* by_colour, std::int32_t* by_key) {
    chosen.cells->key_distances(r, g, b, count, pr, pg, pb, w, by_colour, by_key);
}

void key_floors(const std::int32_t* by_key, int count, std::int32_t weight,
                const std::int32_t* own_least, int first, std::int32_t* pair_least,
                std::int32_t* key_least) {
    chosen.cells->key_floors(by_key, count, weight, own_least, first, pair_least, key_least);
}

std::int64_t cell_row(std::int64_t own, const std::int64_t* const* rest, int n, std::int64_t* out) {
    return chosen.cells->cell_row(own, rest, n, out);
}

const Variant& plain_variant() {
    return plain;
}

int vector_variant_count() {
    return supported.count;
}

const Variant& vector_variant(int k) {
    return *supported.variants[k];
}

}  // namespace lumaweave::kernels
