// The straightforward block fitting: every entry of the stored lists in turn, with the
// RowBoundCaches filled on demand, exactly as the rules are written. The fast search in fit.cpp
// must choose the same entries; the tests compare the two.
#include <cstring>

#include "convert/fitting.hpp"
#include "formats/vram.hpp"

namespace lumaweave {

void reset_row_bounds(Conversion& conv) {
    conv.upper_bounds = conv.bound_template;
    conv.lower_bounds = conv.bound_template;
}

void compute_row_bounds(Conversion& conv, FitMode mode, int x, int y, bool lower,
                        std::uint8_t pair) {
    const int row = lower ? y + 1 : y;
    const int f = pair >> 4, b = pair & 15;
    std::int64_t* cache = lower ? conv.lower_bounds.data() : conv.upper_bounds.data();
    auto cost = [&](int column) {
        const int slot = row * max_width + x + column;
        const auto& d = conv.distance[slot];
        return std::int64_t{std::min(d[f], d[b])} * conv.work[slot].w;
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

ReferenceChoice search_block_reference(Conversion& conv, const FitContext& ctx, int channel, int x,
                                       int y) {
    const int entries = conv.pair_count * conv.pair_count;
    const PairPair* list = conv.pair_pairs[channel].data();
    const bool column = ctx.mode == FitMode::column;
    const bool lower_bounds_used = column || ctx.lumi_sort;
    std::int64_t best = no_best_error;
    ReferenceChoice choice{0, {no_best_error, 0, 0}};
    for (int n = 0; n < entries; ++n) {
        const std::uint8_t u = list[n].upper, l = list[n].lower;
        if (conv.excluded[u * 256 + l]) continue;
        if (conv.upper_bounds[u] < 0) compute_row_bounds(conv, ctx.mode, x, y, false, u);
        if (lower_bounds_used && conv.lower_bounds[l] < 0) {
            compute_row_bounds(conv, ctx.mode, x, y, true, l);
        }
        std::int64_t bound = conv.upper_bounds[u];
        if (column) {
            bound = std::min(bound, conv.lower_bounds[l]);
        } else if (ctx.lumi_sort && conv.lower_bounds[l] < bound) {
            bound = conv.lower_bounds[l];
        }
        if (bound > best) continue;
        ++conv.evaluations;
        const Evaluation e = column ? evaluate_columns(ctx, x, y, u, l, best, Pruning::full)
                                    : evaluate_cells(ctx, x, y, u, l, best);
        if (e.error < best) {
            best = e.error;
            choice = {n, e};
        }
    }
    return choice;
}

void finish_block_reference(Conversion& conv, int channel, int x, int y, int index,
                            std::uint8_t upper_pattern, std::uint8_t lower_pattern) {
    PairPair* list = conv.pair_pairs[channel].data();
    const PairPair winner = list[index];
    std::uint8_t upper_pair = winner.upper, lower_pair = winner.lower;
    if (index != 0) {
        std::memmove(list + 1, list, sizeof(PairPair) * static_cast<std::size_t>(index));
        list[0] = winner;
    }
    write_block(conv, x, y, upper_pattern, lower_pattern, upper_pair, lower_pair);
}

void fit_blocks_reference(Conversion& conv) {
    const FitContext ctx(conv, main_pass_mode(conv.settings));
    for (int y = 0; y < conv.height; y += 2) {
        for (int x = 0; x < conv.width; x += 8) {
            const int channel = dominant_channel(conv, x, y);
            reset_row_bounds(conv);
            const ReferenceChoice c = search_block_reference(conv, ctx, channel, x, y);
            finish_block_reference(conv, channel, x, y, c.index, c.eval.upper_pattern,
                                   c.eval.lower_pattern);
        }
    }
}

}  // namespace lumaweave
