// Evaluating one candidate (upper pair, lower pair) of a block exactly as the rules are written:
// the pixel fit with error diffusion inside the block, in column mode and in the two cell modes.
// The fast evaluation (evaluate_fast.cpp) must give the same errors; the main pass falls back on
// this one while no real best error is known yet, and the straightforward search uses it
// throughout.
#include "convert/fitting.hpp"

namespace lumaweave {

ExactContext::ExactContext(const FitInput& input, FitMode m)
    : in(input),
      mode(m),
      sp(input.settings.sp != 0),
      optimization(input.settings.optimization != 0),
      lumi_sort(input.settings.lumi_sort != 0),
      mitigation(input.settings.mitigation),
      ratio(input.settings.vertical_error_ratio) {}

namespace {

struct OrderState {
    std::uint8_t upper_pattern = 0, lower_pattern = 0;
    std::int64_t error = 0;
};

struct PixelFit {
    bool foreground;
    std::int64_t cost;
    Rgb error;  // value minus the colour taken, per channel
};

// A pixel fitted with its own value: distances from the PaletteDistanceMap, which describes
// the picture before edge_emph sharpens it, while the error uses the current (sharpened) value.
PixelFit fit_own(const FitInput& in, int px, int py, int f, int b) {
    const int slot = py * max_width + px;
    const auto& d = in.distance[slot];
    const Pixel& v = in.work[slot];
    const bool fg = d[f] < d[b];
    const int k = fg ? f : b;
    const Rgb& c = in.palette.working[k];
    return {fg, std::int64_t{d[k]} * v.w, {v.r - c.r, v.g - c.g, v.b - c.b}};
}

// A pixel fitted with a diffused value.
PixelFit fit_value(const FitInput& in, const Rgb& v, std::int32_t weight, int f, int b) {
    const std::int32_t df = palette_distance(in, v, f), db = palette_distance(in, v, b);
    const bool fg = df < db;
    const Rgb& c = in.palette.working[fg ? f : b];
    return {fg, std::int64_t{fg ? df : db} * weight, {v.r - c.r, v.g - c.g, v.b - c.b}};
}

struct Source {
    const Rgb* error;
    std::int32_t share;
    std::int32_t scale;
};

// The pixel's own value plus the contributions of up to two sources, clamped.
Rgb diffused(const FitInput& in, int slot, bool sp, const Source* sources, int count) {
    const Pixel& own = in.work[slot];
    Rgb v{own.r, own.g, own.b};
    for (int i = 0; i < count; ++i) {
        const Source& s = sources[i];
        v.r += contribution(s.error->r, s.share, sp, s.scale);
        v.g += contribution(s.error->g, s.share, sp, s.scale);
        v.b += contribution(s.error->b, s.share, sp, s.scale);
    }
    v.r = std::clamp(v.r, in.tables.clamp_low, in.tables.clamp_high);
    v.g = std::clamp(v.g, in.tables.clamp_low, in.tables.clamp_high);
    v.b = std::clamp(v.b, in.tables.clamp_low, in.tables.clamp_high);
    return v;
}

// One step of a cell order: the pixel (0 P00, 1 P01, 2 P10, 3 P11) and its sources.
enum Share { none, vertical, horizontal };  // r eighths, 8 - r eighths
struct Step {
    int pixel;
    int source1;
    Share share1;
    int source2;
    Share share2;
    bool stop_check;
};
using Order = Step[4];

constexpr int P00 = 0, P01 = 1, P10 = 2, P11 = 3;

constexpr Order vertical_upper_first = {{P00, -1, none, -1, none, true},
                                        {P10, P00, vertical, -1, none, true},
                                        {P01, P00, horizontal, -1, none, false},
                                        {P11, P10, horizontal, P01, vertical, false}};
constexpr Order vertical_lower_first = {{P10, -1, none, -1, none, true},
                                        {P00, P10, vertical, -1, none, true},
                                        {P11, P10, horizontal, -1, none, true},
                                        {P01, P00, horizontal, P11, vertical, false}};
constexpr Order circular_upper_first = {{P01, -1, none, -1, none, true},
                                        {P00, P01, horizontal, -1, none, true},
                                        {P10, P00, vertical, -1, none, true},
                                        {P11, P10, horizontal, P01, vertical, false}};
constexpr Order circular_lower_first = {{P10, -1, none, -1, none, true},
                                        {P11, P10, horizontal, -1, none, true},
                                        {P01, P11, vertical, -1, none, true},
                                        {P00, P01, horizontal, P10, vertical, false}};

// Fits the four pixels of cell k in the given order.
void run_cell_order(const ExactContext& ctx, const Order& order, OrderState& st, int x, int y,
                    int k, std::uint8_t upper, std::uint8_t lower, std::int64_t bound,
                    std::int64_t best) {
    if (st.error + bound > best) {
        st.error = best + 1;
        return;
    }
    const FitInput& in = ctx.in;
    Rgb errors[4];
    for (const Step& step : order) {
        const int column = 2 * k + (step.pixel & 1);
        const bool lower_row = step.pixel >= P10;
        const int px = x + column, py = y + (lower_row ? 1 : 0);
        const std::uint8_t pair = lower_row ? lower : upper;
        const int f = pair >> 4, b = pair & 15;
        PixelFit fit;
        if (step.source1 < 0) {
            fit = fit_own(in, px, py, f, b);
        } else {
            auto share = [&](Share s) { return s == vertical ? ctx.ratio : 8 - ctx.ratio; };
            auto scale = [&](int source) {
                return in.maps.error_scale[(y + (source >= P10 ? 1 : 0)) * max_width + x + 2 * k +
                                           (source & 1)];
            };
            Source sources[2];
            int count = 0;
            sources[count++] = {&errors[step.source1], share(step.share1), scale(step.source1)};
            if (step.source2 >= 0) {
                sources[count++] = {&errors[step.source2], share(step.share2), scale(step.source2)};
            }
            const int slot = py * max_width + px;
            fit = fit_value(in, diffused(in, slot, ctx.sp, sources, count), in.work[slot].w, f, b);
        }
        st.error += fit.cost;
        if (fit.foreground) {
            (lower_row ? st.lower_pattern : st.upper_pattern) |=
                static_cast<std::uint8_t>(0x80 >> column);
        }
        errors[step.pixel] = fit.error;
        if (step.stop_check && st.error > best) return;
    }
}

// Whether patterns pu, pl of pairs `upper` and `lower` break the inversion limit: with more than
// two colours in use (judged on the columns in `fitted`), `mitigation` or more columns of
// `checked` show a darker colour below a brighter one.
bool breaks_inversion_limit(const ExactContext& ctx, std::uint8_t upper, std::uint8_t lower,
                            std::uint8_t pu, std::uint8_t pl, std::uint8_t fitted,
                            std::uint8_t checked) {
    const int uf = upper >> 4, ub = upper & 15, lf = lower >> 4, lb = lower & 15;
    int cu1 = uf, cu2 = ub, cl1 = lf, cl2 = lb;
    if (pu == 0) cu1 = ub;
    if (pu == fitted) cu2 = cu1;
    if (pl == 0) cl1 = lb;
    if (pl == fitted) cl2 = cl1;
    if (distinct_count_table()[cu1 << 12 | cu2 << 8 | cl1 << 4 | cl2] <= 2) return false;
    const auto& lum = ctx.in.palette.luminance;
    int inversions = 0;
    for (int i = 0; i < 8; ++i) {
        const std::uint8_t mask = 0x80 >> i;
        if (!(checked & mask)) continue;
        const int cu = (pu & mask) ? uf : ub;
        const int cl = (pl & mask) ? lf : lb;
        if (lum[cl] < lum[cu] && ++inversions >= ctx.mitigation) return true;
    }
    return false;
}

}  // namespace

Evaluation evaluate_columns(const ExactContext& ctx, int x, int y, std::uint8_t upper,
                            std::uint8_t lower, RowBounds upper_bounds, RowBounds lower_bounds,
                            std::int64_t best, Pruning pruning) {
    const FitInput& in = ctx.in;
    const bool prune = pruning == Pruning::full;
    const int uf = upper >> 4, ub = upper & 15, lf = lower >> 4, lb = lower & 15;
    OrderState st;
    std::uint8_t mask = 0x80;
    for (int j = 0; j < 8; ++j) {
        const std::uint8_t bit = 0x80 >> j;
        const int upper_slot = y * max_width + x + j;
        const int lower_slot = upper_slot + max_width;

        // Upper pixel first; its whole error goes to the lower pixel.
        OrderState a = st;
        if (prune && a.error + upper_bounds[j] > best) {
            a.error = best + 1;
        } else {
            const PixelFit first = fit_own(in, x + j, y, uf, ub);
            a.error += first.cost;
            if (first.foreground) a.upper_pattern |= bit;
            if (!prune || !(a.error > best)) {
                const Source s{&first.error, 8, in.maps.error_scale[upper_slot]};
                const PixelFit second = fit_value(in, diffused(in, lower_slot, ctx.sp, &s, 1),
                                                  in.work[lower_slot].w, lf, lb);
                a.error += second.cost;
                if (second.foreground) a.lower_pattern |= bit;
            }
        }

        // Lower pixel first; its whole error goes to the upper pixel.
        OrderState b = st;
        if (prune && b.error + lower_bounds[j] > best) {
            b.error = best + 1;
        } else {
            const PixelFit first = fit_own(in, x + j, y + 1, lf, lb);
            b.error += first.cost;
            if (first.foreground) b.lower_pattern |= bit;
            if (!prune || !(b.error > best)) {
                const Source s{&first.error, 8, in.maps.error_scale[lower_slot]};
                const PixelFit second = fit_value(in, diffused(in, upper_slot, ctx.sp, &s, 1),
                                                  in.work[upper_slot].w, uf, ub);
                b.error += second.cost;
                if (second.foreground) b.upper_pattern |= bit;
            }
        }

        if (ctx.optimization) {
            for (OrderState* o : {&a, &b}) {
                if ((!prune || o->error < best) &&
                    breaks_inversion_limit(ctx, upper, lower, o->upper_pattern, o->lower_pattern,
                                           mask, mask)) {
                    o->error = rejection_error;
                }
            }
            mask = static_cast<std::uint8_t>((mask >> 1) + 0x80);
        }

        st = (b.error <= a.error) ? b : a;
        if (st.error > best) break;
    }
    return {st.error, st.upper_pattern, st.lower_pattern};
}

Evaluation evaluate_cells(const ExactContext& ctx, int x, int y, std::uint8_t upper,
                          std::uint8_t lower, RowBounds upper_bounds, RowBounds lower_bounds,
                          std::int64_t best) {
    const bool vertical = ctx.mode == FitMode::vertical_cell;
    const Order& primary = vertical ? vertical_upper_first : circular_upper_first;
    const Order& secondary = vertical ? vertical_lower_first : circular_lower_first;
    OrderState st;
    std::uint8_t mask = 0xC0;
    for (int k = 0; k < 4; ++k) {
        OrderState a = st;
        run_cell_order(ctx, primary, a, x, y, k, upper, lower, upper_bounds[k], best);
        if (ctx.lumi_sort) {
            OrderState b = st;
            run_cell_order(ctx, secondary, b, x, y, k, upper, lower, lower_bounds[k], best);
            if (ctx.optimization) {
                // Columns of later cells count with the background colours.
                for (OrderState* o : {&a, &b}) {
                    if (o->error < best &&
                        breaks_inversion_limit(ctx, upper, lower, o->upper_pattern,
                                               o->lower_pattern, mask, 0xFF)) {
                        o->error = rejection_error;
                    }
                }
                mask = static_cast<std::uint8_t>((((mask >> 1) + 0x80) >> 1) + 0x80);
            }
            st = (b.error <= a.error) ? b : a;
        } else {
            st = a;
        }
        if (st.error > best) break;
    }
    return {st.error, st.upper_pattern, st.lower_pattern};
}

}  // namespace lumaweave
