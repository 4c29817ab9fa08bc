// Column mode's block tables, and a candidate's floor path and evaluation on them.
#include "convert/column_block.hpp"

#include <algorithm>

#include "convert/kernels.hpp"

namespace lumaweave {

bool column_block_supported(const FitInput& in, int x, int y) {
    for (int row = 0; row < 2; ++row) {
        for (int j = 0; j < 8; ++j) {
            const std::int32_t w = in.work[(y + row) * max_width + x + j].w;
            if (w < 1 || w > 319) return false;
        }
    }
    return true;
}

void prepare_column_block(const FitInput& in, ColumnBlock& cb, int x, int y) {
    const FittingTables& t = in.tables;
    const int n = t.pair_count;
    const int first_colour = n == max_pairs ? 0 : 1;
    if (cb.n != n) {
        cb.split = pair_split(n);
        for (int p = 0; p < n; ++p) {
            cb.pair_f[p] = t.pairs[p] >> 4;
            cb.pair_b[p] = t.pairs[p] & 15;
        }
    }
    cb.n = n;
    const bool sp = in.settings.sp != 0;
    std::int32_t own[2][8][3];
    std::int32_t scale[2][8];
    for (int row = 0; row < 2; ++row) {
        std::int32_t* fg = cb.own_fg[row].data();
        std::fill_n(fg, n, 0);
        for (int j = 0; j < 8; ++j) {
            const int slot = (y + row) * max_width + x + j;
            const Pixel& px = in.work[slot];
            const std::int32_t* d = in.distance[slot].data();
            own[row][j][0] = px.r;
            own[row][j][1] = px.g;
            own[row][j][2] = px.b;
            scale[row][j] = in.maps.error_scale[slot];
            cb.weight[row][j] = px.w;
            kernels::pair_costs(d, px.w, first_colour, cb.cost[row][j].data(),
                                cb.colour[row][j].data());
            // The pixel takes a pair's first colour where that is the nearer.
            const std::int32_t bit = 0x80 >> j;
            const std::int32_t* colour = cb.colour[row][j].data();
            const std::int32_t* f = cb.pair_f.data();
            for (int p = 0; p < n; ++p)
                fg[p] |= -static_cast<std::int32_t>(colour[p] == f[p]) & bit;
            // The cheapest own fit with any pair: with the nearest colour a pair can hold.
            cb.cheapest[row][j] = *std::min_element(d + first_colour, d + 16) * px.w;
        }
    }
    for (int j = 0; j < 8; ++j) {
        // The upper pixel's error down to the lower one, and the lower one's up.
        kernels::received_costs(t.working_r.data(), t.working_g.data(), t.working_b.data(),
                                t.square_weight.data(), own[1][j], own[0][j], scale[0][j], sp,
                                t.clamp_low, t.clamp_high, cb.weight[1][j], false,
                                cb.down[j].data(), &cb.nearest_down[16 * j], &cb.here_down[16 * j]);
        kernels::received_costs(t.working_r.data(), t.working_g.data(), t.working_b.data(),
                                t.square_weight.data(), own[0][j], own[1][j], scale[1][j], sp,
                                t.clamp_low, t.clamp_high, cb.weight[0][j], true, cb.up[j].data(),
                                &cb.here_up[16 * j], &cb.nearest_up[16 * j]);
    }
    const std::int32_t* cost[2][8];
    const std::int32_t* colour[2][8];
    for (int row = 0; row < 2; ++row) {
        for (int j = 0; j < 8; ++j) {
            cost[row][j] = cb.cost[row][j].data();
            colour[row][j] = cb.colour[row][j].data();
        }
    }
    kernels::row_floors(cost[0], colour[0], cb.nearest_down.data(), cb.cheapest[1].data(),
                        cb.here_up.data(), cb.pair_f.data(), cb.pair_b.data(), n, column_cap,
                        cb.upper_floor.data());
    kernels::row_floors(cost[1], colour[1], cb.nearest_up.data(), cb.cheapest[0].data(),
                        cb.here_down.data(), cb.pair_f.data(), cb.pair_b.data(), n, column_cap,
                        cb.lower_floor.data());
}

void candidate_columns(const ColumnBlock& cb, int i, int l, CandidateColumns& c) {
    const int fi = cb.pair_f[i], bi = cb.pair_b[i], fl = cb.pair_f[l], bl = cb.pair_b[l];
    const std::int32_t upper_fg = cb.own_fg[0][i], lower_fg = cb.own_fg[1][l];
    std::uint32_t upper_sum = 0, lower_sum = 0, bits = 0;
    std::int64_t floor = 0;
    for (int j = 7; j >= 0; --j) {
        // Upper pixel first, its whole error going to the lower one; then the other way round.
        const std::int32_t* down = &cb.down[j][16 * cb.colour[0][j][i]];
        const std::int32_t a = cb.cost[0][j][i] + std::min(down[fl], down[bl]);
        const int k = cb.colour[1][j][l];
        const std::int32_t up_f = cb.up[j][16 * fi + k], up_b = cb.up[j][16 * bi + k];
        const std::int32_t b = cb.cost[1][j][l] + std::min(up_f, up_b);
        upper_sum += static_cast<std::uint32_t>(cb.cost[0][j][i]);
        lower_sum += static_cast<std::uint32_t>(cb.cost[1][j][l]);
        c.upper_first[j] = a;
        c.lower_first[j] = b;
        c.upper_bound[j] = upper_sum;
        c.lower_bound[j] = lower_sum;
        floor += std::min(a, b);
        const int bit = 7 - j;
        bits |= static_cast<std::uint32_t>(((upper_fg >> bit) & 1) | (down[fl] < down[bl]) << 1 |
                                           (up_f < up_b) << 2 | ((lower_fg >> bit) & 1) << 3)
                << (4 * j);
    }
    c.bits = bits;
    c.floor = floor;
    c.id = static_cast<std::uint16_t>(i * cb.n + l);
}

bool floor_below(const ColumnBlock& cb, int i, int l, std::int64_t best) {
    const int fi = cb.pair_f[i], bi = cb.pair_b[i], fl = cb.pair_f[l], bl = cb.pair_b[l];
    std::int64_t floor = 0;
    for (int j = 0; j < 8; ++j) {
        const std::int32_t* down = &cb.down[j][16 * cb.colour[0][j][i]];
        const std::int32_t a = cb.cost[0][j][i] + std::min(down[fl], down[bl]);
        const int k = cb.colour[1][j][l];
        const std::int32_t b =
            cb.cost[1][j][l] + std::min(cb.up[j][16 * fi + k], cb.up[j][16 * bi + k]);
        floor += std::min(a, b);
    }
    return floor < best;
}

namespace {

// The walk over a candidate's columns, each column taking the cheaper of its two orders (the
// lower-first one on a tie). The main pass (`drops`) drops an order as soon as it cannot end below
// the limit: when its row bound says so, or when its error reaches the limit (after its first
// pixel it would have reached it too), and drops one that breaks the inversion limit; the
// refinement follows every order whole and gives a broken one the rejection value.
template <bool drops>
ColumnResult walk_columns(const CandidateColumns& c, const InversionRule& rule, bool optimization,
                          std::int64_t limit) {
    std::int64_t st = 0;
    std::uint8_t upper = 0, lower = 0, mask = 0x80;
    for (int j = 0; j < 8; ++j) {
        const auto bit = static_cast<std::uint8_t>(0x80 >> j);
        const std::uint32_t b = c.bits >> (4 * j);
        const auto a_upper = static_cast<std::uint8_t>(upper | (b & 1 ? bit : 0));
        const auto a_lower = static_cast<std::uint8_t>(lower | (b & 2 ? bit : 0));
        const auto b_upper = static_cast<std::uint8_t>(upper | (b & 4 ? bit : 0));
        const auto b_lower = static_cast<std::uint8_t>(lower | (b & 8 ? bit : 0));
        std::int64_t a_error = st + c.upper_first[j], b_error = st + c.lower_first[j];
        if constexpr (drops) {
            if (st + c.upper_bound[j] > limit || a_error >= limit) a_error = dead_error;
            if (st + c.lower_bound[j] > limit || b_error >= limit) b_error = dead_error;
        }
        if (optimization) {
            // One fitted column shows at most one colour per row: nothing to check yet.
            if (j > 0) {
                constexpr std::int64_t broken = drops ? dead_error : rejection_error;
                if (a_error != dead_error && rule.broken(a_upper, a_lower, mask, mask))
                    a_error = broken;
                if (b_error != dead_error && rule.broken(b_upper, b_lower, mask, mask))
                    b_error = broken;
            }
            mask = static_cast<std::uint8_t>((mask >> 1) + 0x80);
        }
        if (b_error <= a_error) {
            st = b_error;
            upper = b_upper;
            lower = b_lower;
        } else {
            st = a_error;
            upper = a_upper;
            lower = a_lower;
        }
        if constexpr (drops) {
            if (st == dead_error) return {false, 0, 0, 0};
        }
    }
    return {true, st, upper, lower};
}

}  // namespace

ColumnResult evaluate_unpruned(const CandidateColumns& c, const InversionRule& rule,
                               bool optimization) {
    return walk_columns<false>(c, rule, optimization, 0);
}

ColumnResult evaluate_candidate(const CandidateColumns& c, const InversionRule& rule,
                                bool optimization, std::int64_t best) {
    // From the rejection value up the evaluation keeps every order whose error is real: its real
    // outcome is the one below with the highest limit.
    return walk_columns<true>(c, rule, optimization, std::min(best, rejection_error - 1));
}

}  // namespace lumaweave
