// The fast search against the straightforward one on small random pictures under random settings:
// the same VRAM image and preview, and the same evaluation candidate by candidate.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "convert/pipeline.hpp"
#include "fuzz/harness.hpp"
#include "support/stages.hpp"

using namespace lumaweave;
using test::Color;
using test::grey;

namespace {

#ifdef LUMAWEAVE_SANITIZED_TESTS
constexpr int case_count = 40;
#else
constexpr int case_count = 128;
#endif

struct Random : test::Lcg {
    int operator()(std::size_t n) { return static_cast<int>(below(static_cast<std::uint32_t>(n))); }
    Color color() { return {std::uint8_t(next()), std::uint8_t(next()), std::uint8_t(next())}; }
};

// A picture of 16 to 64 by 16 to 32 pixels: a background and rectangles of noise, flat colour,
// palette colour, gradient, few palette colours, dark greys (colours 0 and 1 tie) or stripes.
// Each setting keeps its initial value one time in four (column mode stays frequent); one time in
// three the palette has few distinct values, so that colours repeat.
ConversionSettings make_case(Random& rnd, test::RgbPicture& picture, DefaultPalettes& palettes) {
    const int w = rnd(4) == 0 ? 48 + 8 * rnd(3) : 16 + 8 * rnd(4), h = 16 + rnd(17);
    std::vector<std::uint8_t> bytes(setting_fields().size());
    for (std::uint8_t& b : bytes)
        b = std::uint8_t(rnd.next());
    ConversionSettings s = fuzz::convert_settings(bytes);
    for (const SettingField& f : setting_fields())
        s.*f.member = rnd(4) == 0 ? initial_value(f) : s.*f.member;
    PaletteTable& table = s.palette == 2 ? palettes.msx2 : palettes.msx1;
    const bool few_values = rnd(3) == 0;
    for (std::int32_t& v : table)
        v = few_values ? rnd(4) * 7 / 3 : v;
    auto pal = [&table](int k) {
        const auto v = [&](int c) { return std::uint8_t(table[3 * k + c] * 255 / 7); };
        return Color{v(0), v(1), v(2)};
    };
    picture = {w, h, std::vector<std::uint8_t>(std::size_t{3} * w * h)};
    for (int area = 0, count = 1 + rnd(6); area < count; ++area) {
        const int kind = rnd(7), shape = rnd(4), x0 = area ? rnd(w) : 0, y0 = area ? rnd(h) : 0;
        const int x1 = area ? x0 + 2 + rnd(w) : w, y1 = area ? y0 + 2 + rnd(h) : h;
        const Color a = rnd.color(), b = rnd.color();
        const int k[3] = {rnd(16), rnd(16), rnd(16)};
        for (int y = y0; y < std::min(y1, h); ++y) {
            for (int x = x0; x < std::min(x1, w); ++x) {
                const int t = shape % 2 ? y - y0 : x - x0;
                const int n = std::max(1, (shape % 2 ? y1 - y0 : x1 - x0) - 1);
                auto mix = [&](int u, int v) { return std::uint8_t((u * (n - t) + v * t) / n); };
                const Color g{mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};  // gradient
                const int j = k[(shape / 2 ? x : y) % 2];                    // stripes
                const Color by_kind[] = {rnd.color(),   a,     pal(k[0]), g, pal(k[rnd(3)]),
                                         grey(rnd(48)), pal(j)};
                const Color c = by_kind[kind];
                std::uint8_t* p = &picture.rgb[3 * static_cast<std::size_t>(y * w + x)];
                std::tie(p[0], p[1], p[2]) = std::tie(c.r, c.g, c.b);
            }
        }
    }
    return s;
}

// Four workers as the search sees them, whose tasks run on the calling thread last first: the
// blocks of later runs are searched before the pass has the lists they start from.
struct BackwardWorkers final : Workers {
    int count() const override { return 4; }
    void for_each(int n, const std::function<void(int)>& task) override {
        for (int i = n - 1; i >= 0; --i)
            task(i);
    }
};

// What an evaluation reports of a candidate: its error and patterns, or only that it lost.
std::tuple<std::int64_t, int, int> outcome(const Evaluation& v, bool lost) {
    if (lost) return {dead_error, 0, 0};
    return {v.error, v.upper_pattern, v.lower_pattern};
}

}  // namespace

// Both searches convert every picture to the same bytes, the fast one also with its blocks
// searched in runs for several workers. On one block, in every mode, sampled
// candidates are evaluated against the least error met so far, the largest best below the
// rejection value, and their own error E plus one and E: the fast evaluation gives the
// straightforward result below the best, else reports the candidate lost. The refinement's column
// evaluation follows a candidate up to a limit of E + 1 and drops it at E.
TEST(FitDifferential, FastSearchChoosesAsTheStraightforwardOne) {
    // One pipeline per search, reused from picture to picture as the program does.
    BackwardWorkers backward;
    const auto fast = std::make_unique<Pipeline>(), straight = std::make_unique<Pipeline>();
    const auto shared = std::make_unique<Pipeline>(backward);
    const auto state = std::make_unique<reference::State>();
    const auto block = std::make_unique<BlockData>();
    int reached[5] = {}, refused = 0;  // column, vertical, circular cell mode; test A, test B
    for (std::uint32_t seed = 0x5EED0000u; seed < 0x5EED0000u + case_count; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed 0x" << std::hex << seed);
        Random rnd{{seed}};
        DefaultPalettes palettes;
        test::RgbPicture picture;
        const ConversionSettings s = make_case(rnd, picture, palettes);
        const bool column_in_force = s.vertical_error_ratio == 8 && s.lumi_sort;
        ++reached[static_cast<int>(main_pass_mode(s))];
        if (s.mix || (s.block_noise && column_in_force)) ++reached[column_in_force ? 3 : 4];
        const Result& by_fast = fast->convert_pixels(picture.pixels(), s, palettes, {}, false);
        ASSERT_TRUE(by_fast.ok());
        ASSERT_EQ(straight->load_pixels(picture.pixels(), s, false), Status::ok);
        straight->prepare(palettes, {});
        const FitInput in = straight->fit_input();
        reference::fit_blocks(in, *state, straight->vram());
        reference::refine_blocks(in, *state, straight->refine_scratch(), straight->vram());
        straight->finish();
        EXPECT_TRUE(by_fast.vram == straight->result().vram &&
                    by_fast.preview == straight->result().preview);
        EXPECT_TRUE(shared->convert_pixels(picture.pixels(), s, palettes, {}, false).vram ==
                    straight->result().vram)
            << "with the blocks searched in runs";

        const int n = in.tables.pair_count;
        const int x = 8 * rnd(in.work.width / 8), y = 2 * rnd(in.work.height / 2);
        for (FitMode mode : {FitMode::column, FitMode::vertical_cell, FitMode::circular_cell}) {
            SCOPED_TRACE(testing::Message() << "block " << x << "," << y << ", mode " << int(mode));
            const bool column = mode == FitMode::column, lower_rows = column || s.lumi_sort;
            prepare_block(in, *block, mode, x, y, lower_rows);
            state->upper_bounds.fill(reference::bound_unknown);
            state->lower_bounds.fill(reference::bound_unknown);
            for (int p = 0; p < n; ++p) {
                const std::uint8_t pair = in.tables.pairs[p];
                reference::compute_row_bounds(in, *state, mode, x, y, false, pair);
                if (lower_rows) reference::compute_row_bounds(in, *state, mode, x, y, true, pair);
            }
            const ExactContext ctx(in, mode);
            auto* const main_pass = column ? evaluate_columns_fast : evaluate_cells_fast;
            std::int64_t least = rejection_error - 1;
            const int step = 17 + rnd(8);
            for (int id = rnd(step); id < n * n; id += step) {
                const int iu = id / n, il = id % n;
                const std::uint8_t u = in.tables.pairs[iu], l = in.tables.pairs[il];
                const RowBounds ub = reference::row_bounds(state->upper_bounds, mode, u);
                const RowBounds lb = reference::row_bounds(state->lower_bounds, mode, l);
                auto straightforward = [&](std::int64_t best, Pruning pruning) {
                    return column ? evaluate_columns(ctx, x, y, u, l, ub, lb, best, pruning)
                                  : evaluate_cells(ctx, x, y, u, l, ub, lb, best);
                };
                auto fast_evaluation = [&](decltype(main_pass) f, std::int64_t best) {
                    Evaluation e{0, 0, 0};
                    e.error = f(in, *block, iu, il, best, e.upper_pattern, e.lower_pattern);
                    return e;
                };
                auto expect = [&](Evaluation want, Evaluation got, std::int64_t best) {
                    EXPECT_EQ(outcome(got, got.error == dead_error),
                              outcome(want, want.error >= best))
                        << "against " << best << ", pairs " << iu << "/" << il;
                };
                const Evaluation exact = straightforward(no_best_error, Pruning::full);
                const std::int64_t e = exact.error;
                refused += e >= rejection_error;
                for (std::int64_t best : {least, rejection_error - 1, e + 1, e}) {
                    if (best < rejection_error)
                        expect(straightforward(best, Pruning::full),
                               fast_evaluation(main_pass, best), best);
                }
                if (column && e < rejection_error) {  // the refinement's column evaluations
                    expect(exact, straightforward(e, Pruning::refine), no_best_error);
                    expect(exact, fast_evaluation(evaluate_columns_unpruned, e + 1), e + 1);
                }
                if (column) expect(exact, fast_evaluation(evaluate_columns_unpruned, e), e);
                if (!column && e < rejection_error) {
                    // The cell modes' bounds hold below the candidate's error; without lumi_sort
                    // the sum of the cells' tables is the error.
                    EXPECT_LE(error_floor(in, *block, 0, iu)[il], e) << "pairs " << iu << "/" << il;
                    if (s.lumi_sort) {
                        EXPECT_LE(error_floor(in, *block, 1, il)[iu], e);
                        EXPECT_LE(cell_floor(in, *block, iu, il, no_best_error), e);
                        EXPECT_LE(cell_row_floor(in, *block, iu), e);
                        EXPECT_LE(cell_column_floor(in, *block, il), e);
                    } else {
                        std::int64_t sum = 0;
                        for (int k = 0; k < 4; ++k) {
                            sum += block->cell_own_cost[0][k][static_cast<std::size_t>(iu)] +
                                   cell_rest_costs(in, *block, 0, k, iu)[il];
                        }
                        EXPECT_EQ(sum, e) << "pairs " << iu << "/" << il;
                    }
                }
                least = std::min(least, e);
                if (HasFailure()) return;  // one report is enough
            }
        }
    }
    for (int count : reached)
        EXPECT_GE(count, case_count / 16) << "the sample misses a mode or a refinement test";
    EXPECT_GT(refused, 0) << "no candidate of the sample breaks the inversion limit";
}
