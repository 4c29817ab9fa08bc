// The main block fitting pass: every 8x2 block gets the best upper and lower colour pair.
#include <cstring>

#include "convert/convert.hpp"
#include "convert/fitting.hpp"
#include "formats/vram.hpp"

namespace lumaweave {

FitContext::FitContext(const Conversion& c, FitMode m)
    : conv(c),
      mode(m),
      sp(c.settings.sp != 0),
      optimization(c.settings.optimization != 0),
      lumi_sort(c.settings.lumi_sort != 0),
      mitigation(c.settings.mitigation),
      ratio(c.settings.vertical_error_ratio),
      upper_bounds(c.upper_bounds.data()),
      lower_bounds(c.lower_bounds.data()) {}

FitMode cell_mode(const ConversionSettings& s) {
    return s.dither_order == 0 ? FitMode::vertical_cell : FitMode::circular_cell;
}

FitMode main_pass_mode(const ConversionSettings& s) {
    if (s.mix || (s.vertical_error_ratio == 8 && s.lumi_sort)) return FitMode::column;
    return cell_mode(s);
}

int dominant_channel(const Conversion& conv, int x, int y) {
    std::int32_t sum[3] = {0, 0, 0};
    for (int row = y; row < y + 2; ++row) {
        for (int j = 0; j < 8; ++j) {
            const Pixel& p = conv.work[row * max_width + x + j];
            sum[0] += p.r;
            sum[1] += p.g;
            sum[2] += p.b;
        }
    }
    // Sums can only be negative with a shifted palette; red stays the list then.
    int channel = 0;
    std::int32_t running = -1;
    for (int c = 0; c < 3; ++c) {
        if (sum[c] > running) {
            running = sum[c];
            channel = c;
        }
    }
    return channel;
}

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

BlockChoice search_block(Conversion& conv, const FitContext& ctx, int channel, int x, int y) {
    const int entries = conv.pair_count * conv.pair_count;
    const PairPair* list = conv.pair_pairs[channel].data();
    const bool column = ctx.mode == FitMode::column;
    const bool lower_bounds_used = column || ctx.lumi_sort;
    std::int64_t best = no_best_error;
    BlockChoice choice{0, {no_best_error, 0, 0}};
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
        const Evaluation e = column ? evaluate_columns(ctx, x, y, u, l, best, Pruning::full)
                                    : evaluate_cells(ctx, x, y, u, l, best);
        if (e.error < best) {
            best = e.error;
            choice = {n, e};
        }
    }
    return choice;
}

void order_two_colors(const Conversion& conv, int x, int y, std::uint8_t& upper_pattern,
                      std::uint8_t& lower_pattern, std::uint8_t& upper_pair,
                      std::uint8_t& lower_pair) {
    auto shown = [](std::uint8_t pattern, std::uint8_t pair, int j) {
        return (pattern & (0x80 >> j)) ? pair >> 4 : pair & 15;
    };
    unsigned used = 0;
    for (int j = 0; j < 8; ++j) {
        used |= 1u << shown(upper_pattern, upper_pair, j);
        used |= 1u << shown(lower_pattern, lower_pair, j);
    }
    if (__builtin_popcount(used) != 2) return;
    const int a = __builtin_ctz(used);       // the lower colour number
    const int b = 31 - __builtin_clz(used);  // the higher one
    std::uint8_t pu = 0, pl = 0;
    for (int j = 0; j < 8; ++j) {
        if (shown(upper_pattern, upper_pair, j) == a) pu |= 0x80 >> j;
        if (shown(lower_pattern, lower_pair, j) == a) pl |= 0x80 >> j;
    }
    for (int j = 0; j < 8; ++j) {
        const std::uint8_t mask = 0x80 >> j;
        const int cu = (pu & mask) ? a : b;
        const int cl = (pl & mask) ? a : b;
        const auto& du = conv.distance[y * max_width + x + j];
        const auto& dl = conv.distance[(y + 1) * max_width + x + j];
        const std::int32_t d0 = du[cu], d1 = dl[cl], d2 = du[cl], d3 = dl[cu];
        if (2 * (d0 + d1) >= d2 + d3 && cu != cl && conv.luminance[cu] > conv.luminance[cl]) {
            pu ^= mask;
            pl ^= mask;
        }
    }
    upper_pattern = pu;
    lower_pattern = pl;
    upper_pair = lower_pair = static_cast<std::uint8_t>(a * 16 + b);
}

void finish_block(Conversion& conv, int channel, int x, int y, int index,
                  std::uint8_t upper_pattern, std::uint8_t lower_pattern) {
    PairPair* list = conv.pair_pairs[channel].data();
    const PairPair winner = list[index];
    std::uint8_t upper_pair = winner.upper, lower_pair = winner.lower;
    if (index != 0) {
        std::memmove(list + 1, list, sizeof(PairPair) * static_cast<std::size_t>(index));
        list[0] = winner;
    }
    if (conv.settings.lumi_sort) {
        order_two_colors(conv, x, y, upper_pattern, lower_pattern, upper_pair, lower_pair);
    }
    conv.vram[vram::pattern_offset(x, y)] = upper_pattern;
    conv.vram[vram::pattern_offset(x, y + 1)] = lower_pattern;
    conv.vram[vram::colour_offset(x, y)] = upper_pair;
    conv.vram[vram::colour_offset(x, y + 1)] = lower_pair;
}

void fit_blocks(Conversion& conv) {
    const FitContext ctx(conv, main_pass_mode(conv.settings));
    for (int y = 0; y < conv.height; y += 2) {
        for (int x = 0; x < conv.width; x += 8) {
            const int channel = dominant_channel(conv, x, y);
            reset_row_bounds(conv);
            const BlockChoice c = search_block(conv, ctx, channel, x, y);
            finish_block(conv, channel, x, y, c.index, c.eval.upper_pattern,
                         c.eval.lower_pattern);
        }
    }
}

}  // namespace lumaweave
