#include <cstring>

#include "convert/reference/reference.hpp"
#include "formats/vram.hpp"

namespace lumaweave::reference {

namespace {

void reset_row_bounds(State& state) {
    state.upper_bounds.fill(bound_unknown);
    state.lower_bounds.fill(bound_unknown);
}

void reset_lists(const FitInput& in, State& state) {
    const int n = in.tables.pair_count;
    for (auto& list : state.lists) {
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j)
                list[static_cast<std::size_t>(i * n + j)] = {in.tables.pairs[i],
                                                             in.tables.pairs[j]};
        }
    }
}

// Moves the winner to the front of its list and writes the block.
void finish_block(const FitInput& in, State& state, VramImage vram, int channel, int x, int y,
                  int index, std::uint8_t upper_pattern, std::uint8_t lower_pattern) {
    PairPair* list = state.lists[channel].data();
    const PairPair winner = list[index];
    if (index != 0) {
        std::memmove(list + 1, list, sizeof(PairPair) * static_cast<std::size_t>(index));
        list[0] = winner;
    }
    write_block(in, vram, x, y, upper_pattern, lower_pattern, winner.upper, winner.lower);
}

// The refinement's column search: the first least textured entry, and among the solid entries
// met while their error was not above the best textured one, the first least.
Choice search_solid_or_textured(const FitInput& in, State& state, const ExactContext& ctx,
                                int channel, int x, int y) {
    const int entries = in.tables.pair_count * in.tables.pair_count;
    const PairPair* list = state.lists[channel].data();
    Choice textured{-1, {no_best_error, 0, 0}};
    Choice solid{-1, {no_best_error, 0, 0}};
    for (int n = 0; n < entries; ++n) {
        const std::uint8_t u = list[n].upper, l = list[n].lower;
        if (in.tables.excluded[u * 256 + l]) continue;
        ++state.evaluations;
        // The bounds take no part in this search.
        const Evaluation e =
            evaluate_columns(ctx, x, y, u, l, {}, {}, textured.eval.error, Pruning::refine);
        if (e.error > textured.eval.error) continue;  // abandoned after a column
        Choice& best = is_solid_pair(e.upper_pattern, e.lower_pattern) ? solid : textured;
        if (e.error < best.eval.error) best = {n, e};
    }
    return solid_or_textured(solid, solid.eval.error, solid.index >= 0, textured,
                             textured.eval.error);
}

}  // namespace

RowBounds row_bounds(const std::array<std::int64_t, 8 * 256>& cache, FitMode mode,
                     std::uint8_t pair) {
    // Cell bounds are kept at the cell's first column.
    return {cache.data() + pair, mode == FitMode::column ? 256 : 2 * 256};
}

void compute_row_bounds(const FitInput& in, State& state, FitMode mode, int x, int y, bool lower,
                        std::uint8_t pair) {
    const int row = lower ? y + 1 : y;
    const int f = pair >> 4, b = pair & 15;
    std::int64_t* cache = lower ? state.lower_bounds.data() : state.upper_bounds.data();
    auto cost = [&](int column) {
        const int slot = row * max_width + x + column;
        const auto& d = in.distance[static_cast<std::size_t>(slot)];
        return std::int64_t{std::min(d[f], d[b])} * in.work[slot].w;
    };
    std::int64_t sum = 0;
    if (mode == FitMode::column) {
        for (int c = 7; c >= 0; --c) {
            sum += cost(c);
            cache[c * 256 + pair] = sum;
        }
        return;
    }
    // Cell modes: the first pixel of each order in each cell. The circular upper-first order
    // starts at the cell's right pixel, every other order at its left one.
    const int first = (mode == FitMode::circular_cell && !lower) ? 1 : 0;
    for (int c = 6; c >= 0; c -= 2) {
        sum += cost(c + first);
        cache[c * 256 + pair] = sum;
    }
}

Choice search_block(const FitInput& in, State& state, const ExactContext& ctx, int channel, int x,
                    int y) {
    const int entries = in.tables.pair_count * in.tables.pair_count;
    const PairPair* list = state.lists[channel].data();
    const bool column = ctx.mode == FitMode::column;
    const bool lower_bounds_used = column || ctx.lumi_sort;
    std::int64_t best = no_best_error;
    Choice choice{0, {no_best_error, 0, 0}};
    for (int n = 0; n < entries; ++n) {
        const std::uint8_t u = list[n].upper, l = list[n].lower;
        if (in.tables.excluded[u * 256 + l]) continue;
        if (state.upper_bounds[u] < 0) compute_row_bounds(in, state, ctx.mode, x, y, false, u);
        if (lower_bounds_used && state.lower_bounds[l] < 0) {
            compute_row_bounds(in, state, ctx.mode, x, y, true, l);
        }
        std::int64_t bound = state.upper_bounds[u];
        if (column) {
            bound = std::min(bound, state.lower_bounds[l]);
        } else if (ctx.lumi_sort && state.lower_bounds[l] < bound) {
            bound = state.lower_bounds[l];
        }
        if (bound > best) continue;
        ++state.evaluations;
        const RowBounds ub = row_bounds(state.upper_bounds, ctx.mode, u);
        const RowBounds lb = row_bounds(state.lower_bounds, ctx.mode, l);
        const Evaluation e = column ? evaluate_columns(ctx, x, y, u, l, ub, lb, best, Pruning::full)
                                    : evaluate_cells(ctx, x, y, u, l, ub, lb, best);
        if (e.error < best) {
            best = e.error;
            choice = {n, e};
        }
    }
    return choice;
}

void fit_blocks(const FitInput& in, State& state, VramImage vram) {
    reset_lists(in, state);
    state.evaluations = 0;
    const ExactContext ctx(in, main_pass_mode(in.settings));
    for (int y = 0; y < in.work.height; y += 2) {
        for (int x = 0; x < in.work.width; x += 8) {
            const int channel = dominant_channel(in.work, x, y);
            reset_row_bounds(state);
            const Choice c = search_block(in, state, ctx, channel, x, y);
            finish_block(in, state, vram, channel, x, y, c.index, c.eval.upper_pattern,
                         c.eval.lower_pattern);
        }
    }
}

void refine_blocks(const FitInput& in, State& state, RefineScratch& scratch, VramImage vram) {
    const ConversionSettings& s = in.settings;
    if (!refinement_runs(s)) return;
    const bool column = refines_in_columns(s);
    const ExactContext ctx(in, column ? FitMode::column : cell_mode(s));
    start_refinement(in, scratch, vram);
    for (int y = 0; y < in.work.height; y += 2) {
        for (int x = 0; x < in.work.width; x += 8) {
            if (!refinement_selects(in, scratch, x, y)) continue;
            const int channel = dominant_channel(in.work, x, y);
            reset_row_bounds(state);
            const Choice c = column ? search_solid_or_textured(in, state, ctx, channel, x, y)
                                    : search_block(in, state, ctx, channel, x, y);
            finish_block(in, state, vram, channel, x, y, c.index, c.eval.upper_pattern,
                         c.eval.lower_pattern);
        }
    }
}

}  // namespace lumaweave::reference
