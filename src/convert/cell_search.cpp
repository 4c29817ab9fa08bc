// The block search of the cell modes without lumi_sort.
#include <algorithm>
#include <array>

#include "convert/fitting.hpp"
#include "convert/kernels.hpp"

namespace lumaweave {

// Cell modes without lumi_sort: only orders that start on the upper row, no inversion limit, so
// a candidate's error is the sum over the cells of its upper pair's own cost and what the lower
// row costs after it (cell_rest_costs), which depends on the upper pair only through the colours
// its pixels took. The search is for the least error, the earliest entry of the list among
// equals: whole rows of candidates (one upper pair, every lower pair) are summed at once from
// those tables, and only upper pairs whose own costs already pass the best error are skipped.
BlockChoice search_least_error(const FitInput& in, FitState& state, const CandidateList& list) {
    BlockData& bd = state.block;
    const int n = in.tables.pair_count;
    BlockChoice choice{-1, no_best_error, 0, 0};
    std::array<std::int64_t, max_pairs> row;
    auto search_row = [&](int i) {
        if (bd.bound[0][0][i] > choice.error) return;
        std::int64_t own = 0;
        for (int k = 0; k < 4; ++k)
            own += bd.cell_own_cost[0][k][i];
        if (own > choice.error) return;
        const std::int64_t* rest[4];
        for (int k = 0; k < 4; ++k)
            rest[k] = cell_rest_costs(in, bd, 0, k, i);
        state.evaluations += static_cast<std::uint64_t>(n);
        if (kernels::cell_row(own, rest, n, row.data()) > choice.error) return;
        for (int l = 0; l < n; ++l) {
            const std::int64_t e = row[l];
            if (e > choice.error) continue;
            const int id = i * n + l;
            if (e < choice.error || list.before(id, choice.id)) {
                choice.id = id;
                choice.error = e;
            }
        }
    };
    // The latest winner's row first: its error is a good best to skip other rows with.
    const int first = list.moved_count() > 0 ? list.moved(0) / n : 0;
    search_row(first);
    for (int i = 0; i < n; ++i) {
        if (i != first) search_row(i);
    }
    // The winner's patterns, from its exact evaluation (which gives the same error).
    evaluate_cells_fast(in, bd, choice.id / n, choice.id % n, choice.error + 1,
                        choice.upper_pattern, choice.lower_pattern);
    return choice;
}

}  // namespace lumaweave
