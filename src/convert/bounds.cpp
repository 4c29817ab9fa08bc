// Lower bounds of candidates' block errors, each for many candidates at once, so that the search
// skips the candidates that cannot win without evaluating them; and the tables only they use,
// filled on first use: all receive rows of a column at once, pair costs, the cell modes'
// receiving costs.
#include <algorithm>
#include <limits>

#include "convert/block.hpp"
#include "convert/block_cache.hpp"
#include "convert/fitting.hpp"
#include "convert/kernels.hpp"

namespace lumaweave {

namespace {

// floor_cap for every pair: a term that bounds nothing.
const std::array<std::int32_t, max_pairs>& unbounded_terms() {
    static const std::array<std::int32_t, max_pairs> cap = [] {
        std::array<std::int32_t, max_pairs> a;
        a.fill(floor_cap);
        return a;
    }();
    return cap;
}

// weight * the smaller distance of each pair's two colours, for every pair in list order
// (pairs run (a, b), a < b, ascending; colour 0 only with color_no0).
void costs_by_pair(const BlockData& bd, const std::array<std::int32_t, 16>& d, std::int32_t weight,
                   std::int32_t* out) {
    kernels::pair_costs(d.data(), weight, bd.pair_count == max_pairs ? 0 : 1, out, nullptr);
}

// Column mode: all 16 receive rows of (row, j) at once, with the least distance of each.
void receive_all(const FitInput& in, BlockData& bd, int row, int j) {
    if (bd.filled.receive[row][j] == 0xFFFF) return;
    const BlockPixel& src = bd.px[row][j];
    const BlockPixel& dst = bd.px[1 - row][j];
    const std::int32_t s[3] = {src.own.r, src.own.g, src.own.b};
    const std::int32_t t[3] = {dst.own.r, dst.own.g, dst.own.b};
    kernels::received_distances(in.tables.working_r.data(), in.tables.working_g.data(),
                                in.tables.working_b.data(), in.tables.square_weight.data(), t, s,
                                src.scale, bd.sp, in.tables.clamp_low, in.tables.clamp_high,
                                bd.receive[row][j][0].data(), bd.receive_least[row][j].data());
    bd.filled.receive[row][j] = 0xFFFF;
}

// Column mode: the pair_cost row of (row, j, c).
const std::int32_t* pair_costs(const FitInput& in, BlockData& bd, int row, int j, int c) {
    std::int32_t* out = bd.pair_cost[row][j][c].data();
    if (!(bd.filled.pair_cost[row][j] & (1u << c))) {
        // Rows of pair costs are asked for colour after colour: their distances come at once.
        receive_all(in, bd, row, j);
        costs_by_pair(bd, bd.receive[row][j][c], bd.px[1 - row][j].weight, out);
        bd.filled.pair_cost[row][j] |= static_cast<std::uint16_t>(1u << c);
    }
    return out;
}

// Cell modes: the cost of the other row's first receiving pixel in cell k, for every pair of
// its row, after the starting row fitted pair p (unbounded_terms when the table is full).
const std::int32_t* cell_receive_costs(const FitInput& in, BlockData& bd, int row, int k, int p) {
    const int key = bd.cell_key[row][k][p];
    std::int16_t& slot = bd.cell_receive_slot[row][k][key];
    if (slot >= 0) return bd.cell_receive[slot].data();
    if (bd.filled.cell_receive == BlockData::cell_receive_capacity) return unbounded_terms().data();
    slot = static_cast<std::int16_t>(bd.filled.cell_receive++);
    const CellOrder& o = bd.cell_order[row];
    const int ca = 2 * k + o.own_first, cb = 2 * k + o.own_second;
    const int cx = 2 * k + o.recv_first;
    const BlockPixel& pa = bd.px[row][ca];
    const bool keyed_by_both = o.recv_first != o.own_first;
    const int taken_a = keyed_by_both ? key / 16 : key;
    Rgb e = minus(pa.own, in.palette.working[taken_a]);
    if (cx == cb) {
        const Rgb vb =
            clamp_value(in, add_share(bd, bd.px[row][cb].own, e, 8 - bd.ratio, pa.scale));
        e = minus(vb, in.palette.working[key % 16]);
    }
    const Rgb v =
        clamp_value(in, add_share(bd, bd.px[1 - row][cx].own, e, bd.ratio, bd.px[row][cx].scale));
    std::array<std::int32_t, 16> d;
    fill_distances(in, v, d);
    costs_by_pair(bd, d, bd.px[1 - row][cx].weight, bd.cell_receive[slot].data());
    return bd.cell_receive[slot].data();
}

}  // namespace

// Cell modes with lumi_sort: what the floors by upper pair need of the lower row, made on first
// use. An order that starts on the lower row costs at least its own two pixels and the upper
// row's first receiving pixel.
void make_cell_floors(const FitInput& in, BlockData& bd) {
    bd.filled.cell_floors = true;
    const int n = bd.pair_count;
    const int first_colour = n == max_pairs ? 0 : 1;
    auto& column = bd.cell_column_floor;
    std::fill_n(column.begin(), n, 0);
    const CellOrder& o = bd.cell_order[1];
    const bool by_both = o.recv_first != o.own_first;
    for (int k = 0; k < 4; ++k) {
        auto& upper_own = bd.cell_own_floor[0][k];
        auto& own = bd.cell_own_floor[1][k];
        auto& key = bd.cell_lower_key[k];
        // Which key each cell_key has, -1 where none yet; per key the first receiving pixel's
        // value and the least own cost of the pairs that have it.
        std::array<std::int16_t, 256> key_of;
        key_of.fill(-1);
        int keys = 0;
        alignas(64) std::array<std::array<std::int32_t, kernels::key_room>, 2> taken;
        alignas(64) std::array<std::array<std::int32_t, kernels::key_room>, 3> value;
        alignas(64) std::array<std::int32_t, kernels::key_room> own_least;
        for (int p = 0; p < n; ++p) {
            const auto at = static_cast<std::size_t>(p);
            upper_own[at] = std::min(bd.cell_own_cost[0][k][at], floor_cap);
            own[at] = std::min(bd.cell_own_cost[1][k][at], floor_cap);
            const int cell_key = bd.cell_key[1][k][at];
            std::int16_t& known = key_of[static_cast<std::size_t>(cell_key)];
            if (known < 0) {
                known = static_cast<std::int16_t>(keys);
                const auto j = static_cast<std::size_t>(keys++);
                taken[0][j] = by_both ? cell_key / 16 : cell_key;
                taken[1][j] = cell_key % 16;
                own_least[j] = own[at];
            }
            key[at] = known;
            auto& least = own_least[static_cast<std::size_t>(known)];
            least = std::min(least, own[at]);
        }
        bd.cell_lower_keys[k] = keys;
        // The upper row's first receiving pixel after the lower row's took each key's colours.
        const int ca = 2 * k + o.own_first, cb = 2 * k + o.own_second, cx = 2 * k + o.recv_first;
        const BlockPixel &pa = bd.px[1][ca], &pb = bd.px[1][cb], &px = bd.px[0][cx];
        const kernels::KeyValues values{in.tables.working_r.data(),
                                        in.tables.working_g.data(),
                                        in.tables.working_b.data(),
                                        {pa.own.r, pa.own.g, pa.own.b},
                                        {pb.own.r, pb.own.g, pb.own.b},
                                        {px.own.r, px.own.g, px.own.b},
                                        8 - bd.ratio,
                                        pa.scale,
                                        bd.ratio,
                                        bd.px[1][cx].scale,
                                        bd.sp,
                                        cx == cb,
                                        in.tables.clamp_low,
                                        in.tables.clamp_high};
        for (auto& t : taken)
            std::fill(t.begin() + keys, t.end(), 0);
        kernels::key_values(values, taken[0].data(), taken[1].data(), keys, value[0].data(),
                            value[1].data(), value[2].data());
        for (auto& v : value)
            std::fill(v.begin() + keys, v.end(), 0);
        alignas(64) std::array<std::int32_t, 16 * kernels::key_room> by_key;
        kernels::key_distances(value[0].data(), value[1].data(), value[2].data(), keys,
                               in.tables.working_r.data(), in.tables.working_g.data(),
                               in.tables.working_b.data(), in.tables.square_weight.data(),
                               bd.cell_lower_distance[k][0].data(), by_key.data());
        bd.cell_lower_weight[k] = px.weight;
        // What the order that starts on the lower row costs at least with each upper pair, and
        // with each key whatever the upper pair.
        alignas(64) std::array<std::int32_t, kernels::key_room> key_least;
        kernels::key_floors(by_key.data(), keys, px.weight, own_least.data(), first_colour,
                            bd.cell_lower_least[k].data(), key_least.data());
        // Every candidate with lower pair l costs in this cell at least the cheaper of that and
        // the least upper own cost.
        const std::int32_t upper_least =
            *std::min_element(upper_own.begin(), upper_own.begin() + n);
        for (int l = 0; l < n; ++l) {
            const auto at = static_cast<std::size_t>(l);
            const std::int32_t lower_first = own[at] + key_least[static_cast<std::size_t>(key[at])];
            column[at] += std::min(std::min(upper_least, lower_first), floor_cap);
        }
        // The vector kernels look past the last pair: at places that exist.
        std::fill(own.begin() + n, own.end(), 0);
        std::fill(key.begin() + n, key.end(), 0);
    }
    // A row's candidates' floors are at least, per cell, the cheaper of its upper pair's own cost
    // and the least the order that starts on the lower row can cost with it.
    std::fill_n(bd.cell_row_floor.begin(), n, 0);
    for (int k = 0; k < 4; ++k) {
        kernels::add_floor_terms(bd.cell_row_floor.data(), 0, bd.cell_lower_least[k].data(),
                                 bd.cell_own_floor[0][k].data(), n, floor_cap);
    }
}

namespace {

// Column mode: fills the other_order rows of `side` on first use.
void prepare_other_order(const FitInput& in, BlockData& bd, int side) {
    if (bd.filled.other_order[side]) return;
    bd.filled.other_order[side] = 1;
    const int other = 1 - side;
    for (int j = 0; j < 8; ++j) {
        receive_all(in, bd, other, j);
        std::array<std::int32_t, 16> nearest;
        for (int c = 0; c < 16; ++c) {
            nearest[c] = bd.receive_least[other][j][c] * bd.px[side][j].weight;
        }
        auto& out = bd.other_order[side][j];
        for (int q = 0; q < bd.pair_count; ++q) {
            out[q] = bd.cost[other][j][q] + nearest[bd.colour[other][j][q]];
        }
    }
}

}  // namespace

std::int32_t cell_floor(const FitInput& in, BlockData& bd, int i, int l, std::int64_t best) {
    prepare_cell_floors(in, bd);
    // First with the order that starts on the upper row exactly, the other at least its own two
    // pixels and the upper row's first receiving one.
    const int f = bd.pair_fg[i], b = bd.pair_bg[i];
    std::array<std::int32_t, 4> upper_first, lower_first;
    std::int32_t sum = 0;
    for (int k = 0; k < 4; ++k) {
        upper_first[k] =
            bd.cell_own_floor[0][k][i] +
            bd.cell_rest_floor[static_cast<std::size_t>(cell_rest_table(in, bd, 0, k, i))][l];
        const auto key = static_cast<std::size_t>(bd.cell_lower_key[k][l]);
        const auto& d = bd.cell_lower_distance[k];
        lower_first[k] =
            bd.cell_own_floor[1][k][l] +
            std::min(d[static_cast<std::size_t>(f)][key], d[static_cast<std::size_t>(b)][key]) *
                bd.cell_lower_weight[k];
        sum += std::min(std::min(upper_first[k], lower_first[k]), floor_cap);
    }
    if (sum >= best) return sum;
    // Then exactly where that order could be the cheaper, as the evaluation fits it: its first
    // receiving pixel, then the second one after the first one's share.
    const CellOrder& o = bd.cell_order[1];
    for (int k = 0; k < 4; ++k) {
        const std::int32_t was = std::min(std::min(upper_first[k], lower_first[k]), floor_cap);
        if (was == std::min(upper_first[k], floor_cap)) continue;
        const HalfCell& h = half_cell(in, bd, 1, l, k);
        const int cx = 2 * k + o.recv_first, cy = 2 * k + o.recv_second;
        const bool fg1 = h.first[f] < h.first[b];
        const Rgb v = second_value(in, bd, h, 1, k, fg1 ? f : b);
        const std::int32_t second =
            std::min(palette_distance(in, v, f), palette_distance(in, v, b));
        const std::int64_t rest =
            std::int64_t{fg1 ? h.first[f] : h.first[b]} * bd.px[0][cx].weight +
            std::int64_t{second} * bd.px[0][cy].weight;
        const std::int32_t exact =
            bd.cell_own_floor[1][k][l] +
            static_cast<std::int32_t>(std::min<std::int64_t>(rest, floor_cap));
        sum += std::min(std::min(upper_first[k], exact), floor_cap) - was;
        if (sum >= best) return sum;
    }
    return sum;
}

std::int64_t row_floor(const FitInput& in, BlockData& bd, int row, int p) {
    if (!bd.filled.row_floor[row]) {
        bd.filled.row_floor[row] = 1;
        const int other = 1 - row;
        for (int j = 0; j < 8; ++j) {
            auto& here = bd.cheapest_here[row][j];
            here.fill(INT32_MAX);
            for (int c = 0; c < 16; ++c) {
                const auto& sent = receive_row(in, bd, row, j, c);
                bd.nearest_received[row][j][c] =
                    *std::min_element(sent.begin(), sent.end()) * bd.px[other][j].weight;
                const auto& got = receive_row(in, bd, other, j, c);
                for (int k = 0; k < 16; ++k)
                    here[k] = std::min(here[k], got[k]);
            }
            bd.cheapest_other[row][j] = *std::min_element(
                bd.cost[other][j].begin(), bd.cost[other][j].begin() + bd.pair_count);
        }
    }
    const int f = bd.pair_fg[p], b = bd.pair_bg[p];
    std::int64_t sum = 0;
    for (int j = 0; j < 8; ++j) {
        const std::int64_t first =
            std::int64_t{bd.cost[row][j][p]} + bd.nearest_received[row][j][bd.colour[row][j][p]];
        const auto& here = bd.cheapest_here[row][j];
        const std::int64_t second = std::int64_t{bd.cheapest_other[row][j]} +
                                    std::int64_t{std::min(here[f], here[b])} * bd.px[row][j].weight;
        sum += std::min(first, second);
    }
    return sum;
}

bool columns_cannot_win(const FitInput& in, BlockData& bd, int i, int l, std::int64_t best) {
    // Column 0 exactly: the orders whose bound passes, at their cost (one column cannot break
    // the inversion limit); then one of the two orders must pass its bound in column 1.
    const int fi = bd.pair_fg[i], bi = bd.pair_bg[i];
    auto lower_first = [&](int j) {
        const auto& d = receive_row(in, bd, 1, j, bd.colour[1][j][l]);
        return std::int64_t{bd.cost[1][j][l]} +
               std::int64_t{std::min(d[fi], d[bi])} * bd.px[0][j].weight;
    };
    auto upper_first = [&](int j) {
        return std::int64_t{bd.cost[0][j][i]} + pair_costs(in, bd, 0, j, bd.colour[0][j][i])[l];
    };
    const std::int64_t a = bd.bound[0][0][i] <= best ? upper_first(0) : dead_error;
    const std::int64_t b = bd.bound[1][0][l] <= best ? lower_first(0) : dead_error;
    std::int64_t floor = std::min(a, b);
    if (floor >= best) return true;
    if (floor + bd.bound[0][1][i] > best && floor + bd.bound[1][1][l] > best) return true;
    // The later columns at the cheaper of their two orders, each exactly but for the
    // inversion limit, which can only add.
    for (int j = 1; j < 8; ++j) {
        floor += std::min(upper_first(j), lower_first(j));
        if (floor >= best) return true;
    }
    return false;
}

const std::int32_t* compute_error_floor(const FitInput& in, BlockData& bd, int row, int p) {
    std::int32_t* acc = bd.floor[row][p].data();
    bd.filled.floor[row][p] = 1;
    const int n = bd.pair_count;
    std::fill_n(acc, n, 0);
    if (bd.mode == FitMode::column) {
        // Per column, the cheaper of the two orders: this row's pixel with its own value and
        // the other row's receiving its error (exactly), or the other way round (at least).
        prepare_other_order(in, bd, row);
        for (int j = 0; j < 8; ++j) {
            kernels::add_floor_terms(acc, bd.cost[row][j][p],
                                     pair_costs(in, bd, row, j, bd.colour[row][j][p]),
                                     bd.other_order[row][j].data(), n, floor_cap);
        }
        return acc;
    }
    if (bd.lumi_sort) {
        // Per cell, the cheaper of the two orders: the one that starts on the upper row exactly
        // (but for the inversion limit, which can only make a cell dearer), the other at least.
        // The search asks for the upper pairs' rows, which cover every candidate; a lower pair's
        // comes candidate by candidate.
        if (row == 1) {
            for (int i = 0; i < n; ++i)
                acc[i] = cell_floor(in, bd, i, p, std::numeric_limits<std::int64_t>::max());
            return acc;
        }
        prepare_cell_floors(in, bd);
        std::int32_t own[4];
        const std::int32_t *rest[4], *other_own[4], *key[4], *by_colour[4];
        for (int k = 0; k < 4; ++k) {
            own[k] = bd.cell_own_floor[0][k][p];
            rest[k] = bd.cell_rest_floor[static_cast<std::size_t>(cell_rest_table(in, bd, 0, k, p))]
                          .data();
            other_own[k] = bd.cell_own_floor[1][k].data();
            key[k] = bd.cell_lower_key[k].data();
            by_colour[k] = bd.cell_lower_distance[k][0].data();
        }
        kernels::cell_floor_row(own, rest, other_own, key, by_colour, bd.cell_lower_weight.data(),
                                bd.cell_lower_keys.data(), bd.pair_fg[p], bd.pair_bg[p], n,
                                floor_cap, acc);
        return acc;
    }
    // Per cell: this row's order costs its two pixels plus the other row's first receiving one.
    for (int k = 0; k < 4; ++k) {
        kernels::add_floor_terms(acc, bd.cell_own_cost[row][k][p],
                                 cell_receive_costs(in, bd, row, k, p), unbounded_terms().data(), n,
                                 floor_cap);
    }
    return acc;
}

}  // namespace lumaweave
