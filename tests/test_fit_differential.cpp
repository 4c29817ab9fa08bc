// The fast search against the straightforward one on small random pictures converted under random
// settings: the same VRAM image and preview, and the same evaluation candidate by candidate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <tuple>
#include <vector>

#include "convert/fitting.hpp"
#include "convert/settings.hpp"
#include "support/fitting_fixture.hpp"

using namespace lumaweave;
using test::Color;
using test::Lcg;

namespace {

#ifdef LUMAWEAVE_SANITIZED_TESTS
constexpr int case_count = 40;
#else
constexpr int case_count = 128;
#endif

int below(Lcg& lcg, int n) {
    return static_cast<int>(lcg.below(static_cast<std::uint32_t>(n)));
}

Color random_color(Lcg& lcg) {
    auto v = [&lcg] { return static_cast<std::uint8_t>(lcg.below(256)); };
    return {v(), v(), v()};
}

// Every field takes its initial value one time in four (keeping ratio 8 and column mode
// frequent), else any value its controls can store.
ConversionSettings random_settings(Lcg& lcg) {
    ConversionSettings s;
    for (const SettingField& f : setting_fields()) {
        std::vector<std::int32_t> domain;
        if (f.kind == ControlKind::check_box) domain.push_back(f.clear_value);
        for (const SettingControl& c : f.controls)
            domain.push_back(c.value);
        s.*f.member = lcg.below(4) == 0
                          ? f.initial
                          : domain[lcg.below(static_cast<std::uint32_t>(domain.size()))];
    }
    return s;
}

// Writes p.bmp into dir, 16 to 64 wide and 16 to 32 high: a background and rectangles of noise,
// flat colour, palette colour, gradient, few palette colours, dark greys (where colours 0 and 1
// tie) or stripes; one time in three p.s05, a companion palette of few distinct values, so that
// colours repeat. Returns the settings to convert it with.
ConversionSettings write_case(Lcg& lcg, const test::ScratchDir& dir) {
    const int w = lcg.below(4) == 0 ? 48 + 8 * below(lcg, 3) : 16 + 8 * below(lcg, 4);
    const int h = 16 + below(lcg, 17);
    const ConversionSettings s = random_settings(lcg);
    std::array<std::int32_t, 48> table =
        s.palette == 2 ? DefaultPalettes{}.msx2 : DefaultPalettes{}.msx1;
    std::filesystem::remove(dir / "p.s05");
    if (lcg.below(3) == 0) {
        for (std::int32_t& v : table)
            v = static_cast<std::int32_t>(lcg.below(4)) * 7 / 3;
        test::write_file(
            dir / "p.s05", test::make_s05([&table](int k) {
                return std::array<int, 3>{table[3 * k], table[3 * k + 1], table[3 * k + 2]};
            }));
    }
    auto palette = [&table](int k) {
        auto v = [&](int i) { return static_cast<std::uint8_t>(table[3 * k + i] * 255 / 7); };
        return Color{v(0), v(1), v(2)};
    };
    std::vector<Color> pixels(static_cast<std::size_t>(w * h));
    for (int area = 0, count = 1 + below(lcg, 6); area < count; ++area) {
        const int kind = below(lcg, 7);
        const int x0 = area ? below(lcg, w) : 0, y0 = area ? below(lcg, h) : 0;
        const int x1 = area ? x0 + 2 + below(lcg, w) : w, y1 = area ? y0 + 2 + below(lcg, h) : h;
        const Color a = random_color(lcg), b = random_color(lcg);
        const int k[3] = {below(lcg, 16), below(lcg, 16), below(lcg, 16)};
        const std::uint32_t area_seed = lcg.next();
        const bool across = area_seed % 2 == 0;
        Lcg noise(area_seed);
        for (int y = y0; y < std::min(y1, h); ++y) {
            for (int x = x0; x < std::min(x1, w); ++x) {
                const int t = across ? x - x0 : y - y0;
                const int n = std::max(1, across ? x1 - x0 - 1 : y1 - y0 - 1);
                auto mix = [&](std::uint8_t u, std::uint8_t v) {
                    return static_cast<std::uint8_t>((u * (n - t) + v * t) / n);
                };
                const auto dark = static_cast<std::uint8_t>(kind == 5 ? noise.below(48) : 0);
                const Color by_kind[7] = {kind == 0 ? random_color(noise) : a,
                                          a,
                                          palette(k[0]),
                                          {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)},
                                          palette(k[kind == 4 ? noise.below(3) : 0]),
                                          {dark, dark, dark},
                                          palette(k[(area_seed & 4 ? x : y) % 2])};
                pixels[static_cast<std::size_t>(y * w + x)] = by_kind[kind];
            }
        }
    }
    test::write_file(dir / "p.bmp", test::make_bmp(w, h, [&](int x, int y) {
                         return pixels[static_cast<std::size_t>(y * w + x)];
                     }));
    return s;
}

}  // namespace

// Both searches convert every picture to the same bytes. On one block, in every mode, sampled
// candidates are evaluated against the least error met so far, the largest best below the
// rejection value, and their own error E plus one and E: the fast evaluation gives the
// straightforward result below the best, else reports the candidate lost. The refinement's column
// evaluation follows a candidate up to a limit of E + 1 and drops it at E.
TEST(FitDifferential, FastSearchChoosesAsTheStraightforwardOne) {
    test::ScratchDir dir;
    // One conversion object per search, reused from picture to picture as the program does.
    auto conv = make_conversion(), fast_conv = make_conversion();
    conv->reference_fitting = true;
    int reached[5] = {};  // column, vertical cell, circular cell mode; test A, test B
    int refused = 0;
    for (int i = 0; i < case_count; ++i) {
        const std::uint32_t seed = 0x5EED0000u + static_cast<std::uint32_t>(i);
        Lcg lcg(seed);
        const ConversionSettings s = write_case(lcg, dir);
        ++reached[static_cast<int>(main_pass_mode(s))];
        const bool column_in_force = s.vertical_error_ratio == 8 && s.lumi_sort;
        if (s.mix || (s.block_noise && column_in_force)) ++reached[column_in_force ? 3 : 4];
        for (Conversion* c : {conv.get(), fast_conv.get()}) {
            ScratchPool pool;
            ASSERT_EQ(convert_file(*c, pool, (dir / "p.bmp").string(), s, DefaultPalettes{}), "");
        }
        EXPECT_TRUE(conv->vram == fast_conv->vram && conv->preview == fast_conv->preview)
            << "seed 0x" << std::hex << seed;

        const int n = conv->pair_count;
        const int x = 8 * below(lcg, conv->width / 8), y = 2 * below(lcg, conv->height / 2);
        for (FitMode mode : {FitMode::column, FitMode::vertical_cell, FitMode::circular_cell}) {
            const bool column = mode == FitMode::column;
            const bool lower_rows = column || s.lumi_sort;
            BlockData& bd = conv->block;
            prepare_block(*conv, bd, mode, x, y, lower_rows);
            reset_row_bounds(*conv);
            for (int p = 0; p < n; ++p) {
                compute_row_bounds(*conv, mode, x, y, false, conv->pairs[p]);
                if (lower_rows) compute_row_bounds(*conv, mode, x, y, true, conv->pairs[p]);
            }
            const FitContext ctx(*conv, mode);
            std::int64_t least = rejection_error - 1;
            const int step = 17 + below(lcg, 8);
            for (int id = below(lcg, step); id < n * n; id += step) {
                const int iu = id / n, il = id % n;
                const std::uint8_t u = conv->pairs[iu], l = conv->pairs[il];
                auto reference = [&](std::int64_t best, Pruning pruning) {
                    return column ? evaluate_columns(ctx, x, y, u, l, best, pruning)
                                  : evaluate_cells(ctx, x, y, u, l, best);
                };
                auto fast = [&](std::int64_t best, bool refinement) {
                    Evaluation e{0, 0, 0};
                    auto* f = refinement ? evaluate_columns_unpruned
                              : column   ? evaluate_columns_fast
                                         : evaluate_cells_fast;
                    e.error = f(*conv, bd, iu, il, best, e.upper_pattern, e.lower_pattern);
                    return e;
                };
                auto expect = [&](const char* what, Evaluation want, Evaluation got,
                                  std::int64_t best) {
                    auto key = [](const Evaluation& v) {
                        return std::tuple{v.error, int{v.upper_pattern}, int{v.lower_pattern}};
                    };
                    if (want.error >= best) want = {dead_error, 0, 0};
                    if (got.error == dead_error) got = {dead_error, 0, 0};
                    EXPECT_EQ(key(got), key(want))
                        << what << " against " << best << ", seed 0x" << std::hex << seed
                        << std::dec << ", block " << x << "," << y << ", mode " << int(mode)
                        << ", pairs " << iu << "/" << il;
                };
                const Evaluation exact = reference(no_best_error, Pruning::full);
                const std::int64_t e = exact.error;
                refused += e >= rejection_error;
                for (std::int64_t best : {least, rejection_error - 1, e + 1, e}) {
                    if (best < rejection_error)
                        expect("evaluation", reference(best, Pruning::full), fast(best, false),
                               best);
                }
                if (column && e < rejection_error) {
                    expect("refinement", exact, reference(e, Pruning::refine), no_best_error);
                    expect("refinement", exact, fast(e + 1, true), e + 1);
                }
                if (column) expect("refinement", exact, fast(e, true), e);
                least = std::min(least, e);
                if (HasFailure()) return;  // one report is enough
            }
        }
    }
    for (int count : reached)
        EXPECT_GE(count, case_count / 16) << "the sample misses a mode or a refinement test";
    EXPECT_GT(refused, 0) << "no candidate of the sample breaks the inversion limit";
}
