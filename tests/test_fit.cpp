// Tie rules, bounds and roundings of the block fitting and its refinement that whole photos
// rarely isolate. Whole pictures are fitted by both searches, which must agree.
#include <gtest/gtest.h>

#include <tuple>

#include "convert/column_block.hpp"
#include "support/stages.hpp"

using namespace lumaweave;
using test::BlockBytes;
using test::grey;

namespace {

constexpr auto column = FitMode::column, vertical = FitMode::vertical_cell,
               circular = FitMode::circular_cell;

// Candidate (pair, pair) of the one-block picture p: its error and patterns (unless pu < 0).
void expect_evaluation(const test::PreparedPicture& p, FitMode mode, int upper, int lower,
                       std::int64_t error, int pu, int pl) {
    const auto st = p.build();
    const FitInput in = st->input();
    const auto u = static_cast<std::uint8_t>(upper), l = static_cast<std::uint8_t>(lower);
    const auto bounds = std::make_unique<reference::State>();
    reference::compute_row_bounds(in, *bounds, mode, 0, 0, false, u);
    reference::compute_row_bounds(in, *bounds, mode, 0, 0, true, l);
    const RowBounds ub = reference::row_bounds(bounds->upper_bounds, mode, u);
    const RowBounds lb = reference::row_bounds(bounds->lower_bounds, mode, l);
    const ExactContext ctx(in, mode);
    const Evaluation e =
        mode == column ? evaluate_columns(ctx, 0, 0, u, l, ub, lb, no_best_error, Pruning::full)
                       : evaluate_cells(ctx, 0, 0, u, l, ub, lb, no_best_error);
    EXPECT_EQ(e.error, error);
    if (pu >= 0) {
        EXPECT_EQ(std::pair(int{e.upper_pattern}, int{e.lower_pattern}), std::pair(pu, pl));
    }
}

}  // namespace

// Grey `upper` above grey `lower` (MSX1), both rows fitted with `pair`, weights wu and wl, error
// scale 192 above with "Sp"; distances 3 d^2 ("Brightness" "No") unless said.
TEST(Evaluation, GreyBlocks) {
    struct Case {
        FitMode mode;
        int ratio, lumi_sort, sp, brightness, upper, lower, wu, wl, pair, error, pu, pl;
    } const cases[] = {
        // 100 takes 14 and passes (-82 x 192) >> 8 = -62 (floor); 38 takes black.
        {column, 8, 1, 1, 0, 100, 100, 2, 3, 0x1E, 8 * (40344 + 12996), 0x00, 0xFF},
        // 0 takes 14 and passes -182; the receiver is held at -96 (-48 with "Brightness").
        {column, 8, 1, 0, 0, 0, 0, 1, 1, 0xEF, 8 * (3 * 182 * 182 + 231852), 0xFF, 0xFF},
        {column, 8, 1, 0, 1, 0, 0, 1, 1, 0xEF, 8 * (7 * 182 * 182 + 370300), 0xFF, 0xFF},
        // Equally far from both colours: the background.
        {column, 8, 1, 0, 0, 0, 0, 1, 1, 0x01, 0, 0x00, 0x00},
        // Both orders cost 48387 + 3: the lower-first order wins the tie.
        {column, 8, 1, 0, 0, 128, 128, 1, 1, 0x1F, 8 * 48390, 0xFF, 0x00},
        // Upper first 39675 + 75 against 43200 + 75: strictly smaller, taken.
        {column, 8, 1, 0, 0, 140, 120, 1, 1, 0x1F, 8 * 39750, 0x00, 0xFF},
        // Cells: either order 78150 a cell; the tie goes to the lower-first one, if it runs.
        {vertical, 8, 1, 0, 0, 100, 100, 1, 1, 0x1F, 4 * 78150, 0x00, 0xFF},
        {circular, 8, 0, 0, 0, 100, 100, 1, 1, 0x1F, 4 * 78150, 0xFF, 0x00},
        // r = 0: the whole error goes sideways, so the row's second pixel takes white.
        {vertical, 0, 0, 0, 0, 100, 100, 1, 1, 0x1F, 4 * 78150, 0xAA, 0xAA},
        {circular, 0, 0, 0, 0, 100, 100, 1, 1, 0x1F, 4 * 78150, 0x55, 0xAA},
        // r = 4: each half share rounded down on its own (-420 >> 3 = -53).
        {vertical, 4, 0, 0, 0, 100, 100, 1, 1, 0x1F, 4 * 96258, 0xAA, 0x55},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        test::PreparedPicture p;
        p.color = [&c](int, int y) { return grey(y == 0 ? c.upper : c.lower); };
        p.weight = [&c](int, int y) { return y == 0 ? c.wu : c.wl; };
        p.error_scale = [&c](int, int y) { return y == 0 && c.sp ? 192 : 255; };
        std::tie(p.settings.vertical_error_ratio, p.settings.lumi_sort, p.settings.sp,
                 p.settings.brightness) = std::tie(c.ratio, c.lumi_sort, c.sp, c.brightness);
        expect_evaluation(p, c.mode, c.pair, c.pair, c.error, c.pu, c.pl);
    }
}

// The lower-left pixel is one step of red off colour 2: an admitted candidate costs 2 (patterns
// pu, pl), a refused one (pu < 0) the rejection value. Luminance: 1 < 4 < 2 < 14 < 10 < 11 < 15.
TEST(Evaluation, InversionLimit) {
    struct Case {
        const char *upper, *lower;
        FitMode mode;
        int upper_pair, lower_pair, mitigation, lumi_sort, pu, pl;
    } const cases[] = {
        // 11 above 2 and 10: two darker-below columns pass only with "Mitigation", three never.
        {"BB444444", "2A2A2A2A", column, 0x4B, 0x2A, 3, 1, 0x3F, 0xAA},
        {"BB444444", "2A2A2A2A", column, 0x4B, 0x2A, 1, 1, -1, -1},
        {"BBB44444", "2A2A2A2A", column, 0x4B, 0x2A, 3, 1, -1, -1},
        // Two colours in use never break it.
        {"FFFFFFFF", "11111111", column, 0x1F, 0x1F, 1, 1, 0x00, 0xFF},
        // 15 above 14 once; with "Lumi Sort" cells count unfitted columns as 15 over 14: refused.
        {"4F444444", "2E222222", column, 0x4F, 0x2E, 3, 1, 0xBF, 0xBF},
        {"4F444444", "2E222222", circular, 0x4F, 0x2E, 3, 1, -1, -1},
        {"4F444444", "2E222222", vertical, 0x4F, 0x2E, 3, 0, 0xBF, 0xBF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        test::PreparedPicture p;
        p.color = [&c](int x, int y) {
            test::Color v = test::msx1_at(y == 0 ? c.upper : c.lower, x);
            v.r = static_cast<std::uint8_t>(v.r + (x == 0 && y == 1));
            return v;
        };
        std::tie(p.settings.mitigation, p.settings.lumi_sort, p.settings.vertical_error_ratio) =
            std::tuple(c.mitigation, c.lumi_sort, 4);
        expect_evaluation(p, c.mode, c.upper_pair, c.lower_pair, c.pu < 0 ? rejection_error : 2,
                          c.pu, c.pl);
    }
}

// The fast search counts a column's colours by their bits; the exact evaluation reads the table.
TEST(Evaluation, DistinctColoursAsTheTableHoldsThem) {
    const auto& table = distinct_count_table();
    EXPECT_EQ(std::tuple(table[0x0000], table[0x1212], table[0x123F]), std::tuple(1, 2, 4));
    for (unsigned n = 0; n < 65536; ++n) {
        ASSERT_EQ(at_most_two_colours(n >> 12, (n >> 8) & 15, (n >> 4) & 15, n & 15), table[n] <= 2)
            << n;
    }
}

// Candidate ids split into their pairs by a multiplication, for every list length.
TEST(BlockSearch, CandidateIdsSplitWithoutDivision) {
    for (int n = 1; n <= max_pairs; ++n) {
        const std::uint32_t split = pair_split(n);
        for (int id = 0; id < n * n; ++id)
            ASSERT_EQ(split_upper(id, split), id / n) << n << " " << id;
    }
}

// The largest sum over block (8, 2) wins, ties to the earlier channel; the pixels around are blue.
TEST(BlockSearch, DominantChannel) {
    const std::uint8_t cases[][4] = {
        {10, 10, 10, 0}, {0, 0, 0, 0}, {5, 9, 9, 1}, {5, 5, 9, 2}, {9, 5, 9, 0}};
    for (const auto& c : cases) {
        const auto st = test::stages_with(24, 6, [&c](int x, int y) {
            return x / 8 == 1 && y / 2 == 1 ? test::Color{c[0], c[1], c[2]}
                                            : test::Color{0, 0, 255};
        });
        EXPECT_EQ(dominant_channel(st->work, 8, 2), c[3]) << +c[0] << "," << +c[1] << "," << +c[2];
    }
}

// A block of two colours gets one pair, lower number first, and in column j the darker colour
// above where 2 (d0 + d1) >= d2 + d3: d[4j..4j+3] are the distances of the upper pixel to 15,
// the lower to 2, the upper to 2 and the lower to 15 (all 0 unless given).
TEST(BlockSearch, TwoColoursGetOnePairAndTheDarkerColourAboveWhereItCostsLittle) {
    auto ordered = [](BlockBytes b, std::array<int, 32> d = {}) {
        test::PreparedPicture p;
        p.color = [](int, int) { return grey(0); };
        const auto st = p.build();  // "Lumi Sort" on: write_block orders
        for (int j = 0; j < 8; ++j) {
            auto &upper = st->distance[j], &lower = st->distance[max_width + j];
            std::tie(upper[15], lower[2], upper[2], lower[15]) =
                std::tie(d[4 * j], d[4 * j + 1], d[4 * j + 2], d[4 * j + 3]);
        }
        auto byte = [&b](int i) { return static_cast<std::uint8_t>(b[i]); };
        write_block(st->input(), st->vram_image(), 0, 0, byte(0), byte(1), byte(2), byte(3));
        return test::block_bytes(st->vram, 0, 0);
    };
    // 15 above 2: flips at 50 >= 50 and 0 >= 0, not at 50 < 51 or 0 < 1.
    EXPECT_EQ(ordered({0x00, 0x00, 0x2F, 0x12},
                      {10, 15, 25,  25,  10, 15, 25,  26,  0, 0, 1,   0,   0, 0, 0,   0,
                       0,  0,  500, 500, 0,  0,  500, 500, 0, 0, 500, 500, 0, 0, 500, 500}),
              (BlockBytes{0x90, 0x6F, 0x2F, 0x2F}));
    // 2 above 15 stays, so does 1 above 0 (as bright); one colour or three: unchanged.
    EXPECT_EQ(ordered({0xFF, 0x00, 0x23, 0x2F}), (BlockBytes{0xFF, 0x00, 0x2F, 0x2F}));
    EXPECT_EQ(ordered({0x00, 0xFF, 0x01, 0x01}), (BlockBytes{0x00, 0xFF, 0x01, 0x01}));
    EXPECT_EQ(ordered({0xFF, 0xFF, 0x2F, 0x23}), (BlockBytes{0xFF, 0xFF, 0x2F, 0x23}));
    EXPECT_EQ(ordered({0xF0, 0xFF, 0x2F, 0x34}), (BlockBytes{0xF0, 0xFF, 0x2F, 0x34}));
}

// Block 1 meets block 0's winner (0x13, 0x12) at error 300, then (0x12, 0x12) with row bounds 300
// and error 0 (the weighing pixels receive exact values): a bound equal to the best passes.
TEST(BlockSearch, PreCheckAdmitsABoundEqualToTheBest) {
    test::PreparedPicture p;
    p.width = 16;
    p.settings.lumi_sort = p.settings.optimization = p.settings.brightness = p.settings.sp = 0;
    p.palette = test::palette_of(
        {0, 0, 0}, {{1, {100, 100, 100}}, {2, {200, 200, 200}}, {3, {180, 180, 180}}});
    p.color = [](int x, int y) {
        if (x < 8) return grey(x % 2 == 0 ? 100 : y == 0 ? 180 : 200);
        return grey(x == 8 ? (y == 0 ? 110 : 190) : x == 9 ? (y == 0 ? 190 : 110) : 100);
    };
    p.weight = [](int x, int y) { return x < 8 || (x == 8 && y == 1) || (x == 9 && y == 0); };
    EXPECT_EQ(test::block_bytes(p.fit_both(), 8, 0), (BlockBytes{0xBF, 0x7F, 0x12, 0x12}));
}

// Flat pictures: the first entry of least error wins, and then every later block from the front.
TEST(BlockSearch, FlatPicturesTakeTheFirstEntryOfLeastError) {
    struct Case {
        test::Color colour;
        int ratio, dither, lumi_sort, mix, color_no0;
        BlockBytes expected;
    } const cases[] = {
        // Only pairs holding colour 14 on both rows fit exactly.
        {test::msx1_at("E", 0), 8, 1, 1, 1, 0, {0, 0, 0x1E, 0x1E}},
        {test::msx1_at("E", 0), 4, 0, 1, 0, 1, {0, 0, 0x0E, 0x0E}},
        {test::msx1_at("E", 0), 0, 1, 0, 0, 0, {0, 0, 0x1E, 0x1E}},
        // Black: entry 0, black (1) its foreground, or 0x01 with "Color No.0".
        {test::msx1_at("1", 0), 8, 1, 1, 1, 0, {0xFF, 0xFF, 0x12, 0x12}},
        {test::msx1_at("1", 0), 8, 1, 1, 1, 1, {0, 0, 1, 1}},
        // Grey 128, black and white: 7 x 127^2 + 7 a column, first with (0x12, 0x1F), then 0x2F.
        {grey(128), 8, 1, 0, 1, 0, {0, 0, 0x12, 0x1F}},
        {grey(128), 8, 1, 1, 1, 0, {0xFF, 0, 0x2F, 0x2F}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        test::PreparedPicture p;
        p.width = 24;
        p.height = 16;
        p.color = [&c](int, int) { return c.colour; };
        p.weight = [](int, int) { return 256; };
        ConversionSettings& s = p.settings;
        std::tie(s.vertical_error_ratio, s.dither_order, s.lumi_sort, s.mix, s.color_no0) =
            std::tie(c.ratio, c.dither, c.lumi_sort, c.mix, c.color_no0);
        if (c.colour.r == 128) p.palette = test::palette_of({0, 0, 0}, {{15, {255, 255, 255}}});
        const auto vram = p.fit_both();
        for (int y = 0; y < 16; y += 2) {
            for (int x = 0; x < 24; x += 8)
                ASSERT_EQ(test::block_bytes(vram, x, y), c.expected) << "block " << x << "," << y;
        }
    }
}

// Blocks 0, 1, 3 move their one exact entry to the front of the red, green, red list; white
// blocks 2, 4 (red) meet (0x8F, 0x8F) first, then behind (0x89, 0x89); 5 (green) (0x3F, 0x3F).
TEST(BlockSearch, WinnersMoveToTheFrontOfTheirChannelsList) {
    const BlockBytes expected[] = {{0x55, 0xAA, 0x8F, 0x8F}, {0xCC, 0x33, 0x3F, 0x3F},
                                   {0x00, 0x00, 0x8F, 0x8F}, {0xF0, 0x0F, 0x89, 0x89},
                                   {0x00, 0x00, 0x8F, 0x8F}, {0x00, 0xFF, 0x3F, 0x3F}};
    for (int mix : {0, 1}) {
        SCOPED_TRACE(mix ? "column mode" : "cell mode");
        test::PreparedPicture p;
        p.width = 48;
        p.color = [](int x, int y) {
            return test::msx1_at(y == 0 ? "F8F8F8F833FF33FFFFFFFFFF88889999FFFFFFFFFFFFFFFF"
                                        : "8F8F8F8FFF33FF33FFFFFFFF99998888FFFFFFFF33333333",
                                 x);
        };
        p.settings.lumi_sort = 0;
        p.settings.mix = mix;
        const auto vram = p.fit_both();
        for (int b = 0; b < 6; ++b)
            EXPECT_EQ(test::block_bytes(vram, 8 * b, 0), expected[b]) << "block " << b;
    }
}

// Test A: white block 0 gets (0x1F, 0x1F); block 1 moves its only exact entry (0x8F, 0x8F) to the
// front, which a re-fit of block 0 takes. Result weights 319, source weights too but at (3, 1).
// It runs with "Block Noise", or with "Mix" (ratio 8 and "Lumi Sort").
TEST(Refinement, TestASelectsAWeightDifferenceAbove150) {
    for (auto [weight, block_noise, mix, refitted] :
         {std::tuple{169, 1, 0, false}, std::tuple{168, 1, 0, true}, std::tuple{169, 0, 1, false},
          std::tuple{168, 0, 1, true}, std::tuple{64, 0, 0, false}}) {  // the last: no pass
        test::PreparedPicture p;
        p.width = 16;
        std::tie(p.settings.block_noise, p.settings.mix, p.settings.sp) =
            std::tuple(block_noise, mix, 0);
        p.color = [](int x, int y) {
            return test::msx1_at(y == 0 ? "FFFFFFFFF8F8F8F8" : "FFFFFFFFF8888888", x);
        };
        p.weight = [weight](int x, int y) { return x == 3 && y == 1 ? weight : 319; };
        const auto vram = p.fit_both();
        const int pair = refitted ? 0x8F : 0x1F;
        EXPECT_EQ(test::block_bytes(vram, 0, 0), (BlockBytes{0, 0, pair, pair})) << weight << mix;
        EXPECT_EQ(test::block_bytes(vram, 8, 0), (BlockBytes{0x55, 0x7F, 0x8F, 0x8F}));
    }
}

// Test B ("Mix" out of column mode): colours 0, 1 black, 2..15 white; dark block 0 gets entry 0
// (0x01, 0x01), block 1 moves (0x02, 0x02) to the front, which a re-fit takes. It needs three
// columns whose two pixels' differences from black add up to more than 64, and whose source
// weights (255, but 254 at pixel `heavy`) lie 64 below the result's.
TEST(Refinement, TestBSelectsThreeDriftingColumns) {
    // Block 0 is 40, 40, 32, 30... above 40, 40, `lower2`, 30...
    for (auto [lower2, heavy, refitted] :
         {std::tuple{33, -1, true},     // columns 0, 1 and 2 count
          std::tuple{32, -1, false},    // column 2 does not: two
          std::tuple{33, 18, false},    // a weight difference of 65 keeps column 2 out,
          std::tuple{33, 2, false}}) {  // in either row
        test::PreparedPicture p;
        p.width = 16;
        ConversionSettings& s = p.settings;
        s.lumi_sort = s.optimization = s.dither_order = s.sp = s.block_noise = 0;
        s.color_no0 = 1;
        p.palette = test::palette_of({255, 255, 255}, {{0, {0, 0, 0}}, {1, {0, 0, 0}}});
        p.color = [lower2](int x, int y) {
            if (x < 8) return grey(x < 2 ? 40 : x > 2 ? 30 : y == 0 ? 32 : lower2);
            return grey(((y == 0 ? 0xB4 : 0xCA) & (0x80 >> (x - 8))) ? 0 : 255);
        };
        p.weight = [heavy](int x, int y) { return y * 16 + x == heavy ? 254 : 255; };
        const auto vram = p.fit_both();
        EXPECT_EQ(test::block_bytes(vram, 0, 0),
                  (refitted ? BlockBytes{0xFF, 0xFF, 0x02, 0x02} : BlockBytes{0, 0, 0x01, 0x01}))
            << lower2 << " " << heavy;
        EXPECT_EQ(test::block_bytes(vram, 8, 0), (BlockBytes{0xB4, 0xCA, 0x02, 0x02}));
    }
}

// Only pixel (7, 0), X = (40, 40, 40) above white, weighs: entry 0 (0x12, 0x12) shows P at 150
// from X, solid; the best patterned entry (0x23, 0x12) shows Q at X (160 or 159 from it) and K,
// nearer to the white the other pixels receive. The limit is 150 x 16 / 15 = 160. Then block 0,
// of weight 0, gets entry 0; re-fitted it meets block 1's (0x1F, 0x1F) first (patterned, 0),
// then (0x12, 0x12) (solid, 0): recorded, and 0 >= 0 x 16 / 15.
TEST(Refinement, PatternedAnswerOnlyBelowSixteenFifteenthsOfTheSolidOne) {
    for (const auto& [q, expected] :
         {std::pair{Rgb{40, 34, 36}, BlockBytes{0xFF, 0xFF, 0x12, 0x12}},
          std::pair{Rgb{35, 35, 37}, BlockBytes{0x01, 0xFF, 0x23, 0x12}}}) {
        test::PreparedPicture p;
        p.settings.mix = p.settings.sp = 0;
        p.palette = test::palette_of({0, 0, 0}, {{1, {45, 45, 40}}, {2, q}, {3, {40, 40, 53}}});
        p.color = [](int, int y) { return grey(y == 0 ? 40 : 255); };
        p.weight = [](int x, int y) { return x == 7 && y == 0 ? 1 : 0; };
        EXPECT_EQ(test::block_bytes(p.fit_both(), 0, 0), expected) << "Q " << q.r << "," << q.g;
    }
    test::PreparedPicture p;
    p.width = 16;
    p.settings.mix = p.settings.sp = 0;
    p.palette = test::palette_of({0, 0, 0}, {{15, {255, 255, 255}}});
    p.color = [](int x, int y) {
        if (x < 8) return grey(x < 4 ? 0 : 255);
        return grey(((y == 0 ? 0x96 : 0xA5) & (0x80 >> (x - 8))) ? 0 : 255);
    };
    p.weight = [](int x, int) { return x < 8 ? 0 : 256; };
    const auto vram = p.fit_both();
    EXPECT_EQ(test::block_bytes(vram, 0, 0), (BlockBytes{0x00, 0x00, 0x12, 0x12}));
    EXPECT_EQ(test::block_bytes(vram, 8, 0), (BlockBytes{0x96, 0xA5, 0x1F, 0x1F}));
}
