// Lower bounds of candidates' block errors, each for many candidates at once, so that the search
// skips the candidates that cannot win without evaluating them.
#include <algorithm>

#include "convert/block.hpp"
#include "convert/block_cache.hpp"
#include "convert/fitting.hpp"
#include "convert/kernels.hpp"

namespace lumaweave {

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
    // Per cell: this row's order costs its two pixels plus the other row's first receiving
    // one; the other order (only with lumi_sort) costs at least its own two pixels.
    for (int k = 0; k < 4; ++k) {
        const std::int32_t own = bd.cell_own_cost[row][k][p];
        const std::int32_t* received = cell_receive_costs(in, bd, row, k, p);
        if (bd.lumi_sort) {
            kernels::add_floor_terms(acc, own, received, bd.cell_own_cost[1 - row][k].data(), n,
                                     floor_cap);
        } else {
            kernels::add_floor_terms(acc, own, received, unbounded_terms().data(), n, floor_cap);
        }
    }
    return acc;
}

}  // namespace lumaweave
