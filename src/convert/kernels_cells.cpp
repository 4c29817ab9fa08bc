// The cell modes' kernels as plain loops (see kernels.cpp).
#include <algorithm>
#include <climits>
#include <cstdint>

#include "convert/kernel_sets.hpp"
#include "convert/kernels_plain.hpp"

namespace lumaweave::kernels {

namespace {

void shared_distances_plain(const std::int32_t* pr, const std::int32_t* pg, const std::int32_t* pb,
                            const std::int32_t* w, const std::int32_t* dst, const std::int32_t* src,
                            std::int32_t share, std::int32_t scale, bool sp, std::int32_t low,
                            std::int32_t high, std::int32_t* d) {
    const std::int32_t* palette[3] = {pr, pg, pb};
    for (int c = 0; c < 16; ++c) {
        std::int32_t v[3];
        received_value(palette, dst, src, c, share, scale, sp, low, high, v);
        distances_plain(pr, pg, pb, w, v[0], v[1], v[2], d + 16 * c);
    }
}

void cell_own_plain(const std::int32_t* second, const std::int32_t* cost, const std::uint8_t* fg,
                    int bit, std::int32_t weight, int first, bool by_both, std::int32_t* own,
                    std::uint8_t* key, std::uint8_t* colours) {
    const int n = first == 0 ? 120 : 105;
    for (int p = 0; p < n; ++p) {
        int a, b;
        pair_colours(first, p, a, b);
        const int t = (fg[p] >> bit) & 1 ? a : b;
        const std::int32_t* d = second + 16 * t;
        const int u = d[a] < d[b] ? a : b;
        own[p] = cost[p] + d[u] * weight;
        colours[p] = static_cast<std::uint8_t>(16 * t + u);
        key[p] = by_both ? colours[p] : static_cast<std::uint8_t>(t);
    }
}

void cell_rest_plain(const CellRest& in, std::int32_t cap, std::int64_t* out,
                     std::int32_t* capped) {
    const std::int32_t* palette[3] = {in.palette_r, in.palette_g, in.palette_b};
    std::int32_t second[16][16];  // [colour the first took][colour]
    for (int c = 0; c < 16; ++c) {
        std::int32_t v[3];
        received_value(palette, in.base, in.value, c, in.share, in.scale, in.sp, in.low, in.high,
                       v);
        distances_plain(in.palette_r, in.palette_g, in.palette_b, in.weight, v[0], v[1], v[2],
                        second[c]);
    }
    const std::int32_t* d1 = in.d1;
    const int n = in.first == 0 ? 120 : 105;
    for (int p = 0; p < n; ++p) {
        int a, b;
        pair_colours(in.first, p, a, b);
        const std::int32_t* d2 = second[d1[a] < d1[b] ? a : b];
        const std::int64_t cost = std::int64_t{std::min(d1[a], d1[b])} * in.w1 +
                                  std::int64_t{std::min(d2[a], d2[b])} * in.w2;
        if (out != nullptr) out[p] = cost;
        if (capped != nullptr)
            capped[p] = static_cast<std::int32_t>(std::min<std::int64_t>(cost, cap));
    }
}

void key_values_plain(const KeyValues& in, const std::int32_t* first, const std::int32_t* second,
                      int count, std::int32_t* r, std::int32_t* g, std::int32_t* b) {
    const std::int32_t* palette[3] = {in.palette_r, in.palette_g, in.palette_b};
    for (int j = 0; j < count; ++j) {
        // The row's second pixel first where the receiving pixel is below it.
        const std::int32_t* source = in.own_first;
        int taken = first[j];
        std::int32_t v[3];
        if (in.two_stage) {
            received_value(palette, in.own_second, in.own_first, first[j], in.first_share,
                           in.first_scale, in.sp, in.low, in.high, v);
            source = v;
            taken = second[j];
        }
        std::int32_t out[3];
        received_value(palette, in.own_target, source, taken, in.share, in.scale, in.sp, in.low,
                       in.high, out);
        r[j] = out[0];
        g[j] = out[1];
        b[j] = out[2];
    }
}

void key_distances_plain(const std::int32_t* r, const std::int32_t* g, const std::int32_t* b,
                         int count, const std::int32_t* pr, const std::int32_t* pg,
                         const std::int32_t* pb, const std::int32_t* w, std::int32_t* by_colour,
                         std::int32_t* by_key) {
    for (int j = 0; j < count; ++j) {
        distances_plain(pr, pg, pb, w, r[j], g[j], b[j], by_key + 16 * j);
        for (int c = 0; c < 16; ++c)
            by_colour[key_room * c + j] = by_key[16 * j + c];
    }
}

void key_floors_plain(const std::int32_t* by_key, int count, std::int32_t weight,
                      const std::int32_t* own_least, int first, std::int32_t* pair_least,
                      std::int32_t* key_least) {
    const int n = first == 0 ? 120 : 105;
    std::fill_n(pair_least, n, INT32_MAX);
    for (int j = 0; j < count; ++j) {
        std::int32_t least = INT32_MAX;
        for (int p = 0; p < n; ++p) {
            int a, b;
            pair_colours(first, p, a, b);
            const std::int32_t cost = std::min(by_key[16 * j + a], by_key[16 * j + b]) * weight;
            least = std::min(least, cost);
            pair_least[p] = std::min(pair_least[p], own_least[j] + cost);
        }
        key_least[j] = least;
    }
}

void cell_floor_row_plain(const std::int32_t* own, const std::int32_t* const* rest,
                          const std::int32_t* const* other_own, const std::int32_t* const* key,
                          const std::int32_t* const* by_colour, const std::int32_t* weight,
                          const int*, int a, int b, int n, std::int32_t cap, std::int32_t* out) {
    for (int q = 0; q < n; ++q) {
        std::int32_t sum = 0;
        for (int k = 0; k < 4; ++k) {
            const std::int32_t* d = by_colour[k] + key[k][q];
            const std::int32_t here = own[k] + rest[k][q];
            const std::int32_t there =
                other_own[k][q] + std::min(d[key_room * a], d[key_room * b]) * weight[k];
            sum += std::min(std::min(here, there), cap);
        }
        out[q] = sum;
    }
}

std::int64_t cell_row_plain(std::int64_t own, const std::int64_t* const* rest, int n,
                            std::int64_t* out) {
    std::int64_t least = INT64_MAX;
    for (int q = 0; q < n; ++q) {
        out[q] = own + rest[0][q] + rest[1][q] + rest[2][q] + rest[3][q];
        least = std::min(least, out[q]);
    }
    return least;
}

}  // namespace

constinit const CellKernels plain_cells{
    shared_distances_plain, cell_own_plain,      cell_rest_plain,  cell_row_plain,
    key_values_plain,       key_distances_plain, key_floors_plain, cell_floor_row_plain};

}  // namespace lumaweave::kernels
