// The tables the block fitting consults: distinct counts, palette distances, pairs and pairs of
// pairs, clamp and square tables, exclusions and the row-bound cache template.
#include <gtest/gtest.h>

#include <algorithm>

#include "convert/convert.hpp"
#include "io/config.hpp"
#include "support/conversion_fixture.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
using test::Color;

namespace {

// A 16x16 conversion with the MSX1 palette (Hue 0) and its fitting tables built.
std::unique_ptr<Conversion> tables_for(const ConversionSettings& s, Color picture = {60, 90, 120}) {
    auto conv = test::flat_conversion(16, 16, picture, s);
    setup_palette(*conv, DefaultPalettes{}.msx1, std::nullopt);
    build_distance_tables(*conv);
    build_fitting_tables(*conv);
    return conv;
}

bool excluded(const Conversion& conv, int upper, int lower) {
    return conv.excluded[static_cast<std::size_t>(upper * 256 + lower)] != 0;
}

}  // namespace

TEST(FittingTables, DistinctCountCountsDifferentDigits) {
    auto conv = tables_for({});
    EXPECT_EQ(conv->distinct_count[0x0000], 1);
    EXPECT_EQ(conv->distinct_count[0x1122], 2);
    EXPECT_EQ(conv->distinct_count[0x1212], 2);
    EXPECT_EQ(conv->distinct_count[0x1213], 3);
    EXPECT_EQ(conv->distinct_count[0x0123], 4);
    EXPECT_EQ(conv->distinct_count[0xF00F], 2);
    EXPECT_EQ(conv->distinct_count[0xFFFF], 1);
}

TEST(FittingTables, PairListFollowsColourNumberZero) {
    ConversionSettings without;
    without.color_no0 = 0;
    auto a = tables_for(without);
    ASSERT_EQ(a->pair_count, 105);
    EXPECT_EQ(a->pairs[0], 0x12);
    EXPECT_EQ(a->pairs[1], 0x13);
    EXPECT_EQ(a->pairs[14], 0x23);
    EXPECT_EQ(a->pairs[104], 0xEF);

    ConversionSettings with;
    with.color_no0 = 1;
    auto b = tables_for(with);
    ASSERT_EQ(b->pair_count, 120);
    EXPECT_EQ(b->pairs[0], 0x01);
    EXPECT_EQ(b->pairs[15], 0x12);
    EXPECT_EQ(b->pairs[119], 0xEF);
    for (int i = 0; i < 120; ++i) {
        const int p = b->pairs[static_cast<std::size_t>(i)];
        EXPECT_LT(p >> 4, p & 15) << i;
        if (i > 0) {
            EXPECT_GT(p, b->pairs[static_cast<std::size_t>(i - 1)]) << i;
        }
    }
}

TEST(FittingTables, PairPairListCombinesEveryUpperWithEveryLowerPair) {
    auto conv = tables_for({});
    const auto& block = conv->pair_pairs[0];
    EXPECT_EQ(block[0].upper, 0x12);
    EXPECT_EQ(block[0].lower, 0x12);
    EXPECT_EQ(block[1].upper, 0x12);
    EXPECT_EQ(block[1].lower, 0x13);
    EXPECT_EQ(block[105].upper, 0x13);
    EXPECT_EQ(block[105].lower, 0x12);
    EXPECT_EQ(block[105 * 105 - 1].upper, 0xEF);
    EXPECT_EQ(block[105 * 105 - 1].lower, 0xEF);
    for (int k = 1; k < 3; ++k) {
        for (int i = 0; i < 105 * 105; ++i) {
            ASSERT_EQ(conv->pair_pairs[k][i].upper, block[i].upper);
            ASSERT_EQ(conv->pair_pairs[k][i].lower, block[i].lower);
        }
    }
}

// Brightness "Yes": clamp to [-48, 303], squares weighted 2, 4, 1; "No": [-96, 351], unweighted.
TEST(FittingTables, ClampAndSquareTablesFollowBrightness) {
    auto yes = tables_for({});
    EXPECT_EQ(yes->clamp_low, -48);
    EXPECT_EQ(yes->clamp_high, 303);
    EXPECT_EQ(yes->square_weight[0] * 9, 18);
    EXPECT_EQ(yes->square_weight[1] * 9, 36);
    EXPECT_EQ(yes->square_weight[2] * 9, 9);

    ConversionSettings s;
    s.brightness = 0;
    auto no = tables_for(s);
    EXPECT_EQ(no->clamp_low, -96);
    EXPECT_EQ(no->clamp_high, 351);
    EXPECT_EQ(no->square_weight, (std::array<std::int32_t, 3>{1, 1, 1}));
}

TEST(FittingTables, RowBoundCacheTemplateIsAllUnknown) {
    auto conv = tables_for({});
    EXPECT_TRUE(std::all_of(conv->bound_template.begin(), conv->bound_template.end(),
                            [](std::int64_t v) { return v == -1; }));
}

// Luminances (MSX1, Hue 0): colours 0 and 1: 0, 2: 15207, 3: 18807, 14: 18200, 15: 25500.
TEST(ExclusionTable, LumiSortWithoutOptimizationComparesDarkestBelowWithBrightestAbove) {
    ConversionSettings s;
    s.lumi_sort = 1;
    s.optimization = 0;
    auto conv = tables_for(s);
    EXPECT_TRUE(excluded(*conv, 0x2E, 0x1F));   // colour 1 is darker than colours 2 and 14
    EXPECT_FALSE(excluded(*conv, 0x01, 0x1F));  // 0 is not darker than 0
    EXPECT_TRUE(excluded(*conv, 0x3E, 0x2F));   // 15207 below 18807
    EXPECT_FALSE(excluded(*conv, 0x2E, 0x3F));  // 18807 is above both 15207 and 18200
    for (int u = 0; u < 256; ++u)
        EXPECT_FALSE(excluded(*conv, u, u)) << u;
}

TEST(ExclusionTable, LumiSortWithOptimizationComparesLuminanceSums) {
    ConversionSettings s;
    s.lumi_sort = 1;
    s.optimization = 1;
    auto conv = tables_for(s);
    EXPECT_TRUE(excluded(*conv, 0x2E, 0x1F));   // 0 + 25500 < 15207 + 18200
    EXPECT_FALSE(excluded(*conv, 0x3E, 0x2F));  // 15207 + 25500 >= 18807 + 18200
    EXPECT_FALSE(excluded(*conv, 0x01, 0x1F));
    EXPECT_TRUE(excluded(*conv, 0x1F, 0x01));
    for (int u = 0; u < 256; ++u)
        EXPECT_FALSE(excluded(*conv, u, u)) << u;
}

TEST(ExclusionTable, WithoutLumiSortNothingIsExcluded) {
    ConversionSettings on;
    on.lumi_sort = 1;
    auto conv = tables_for(on);
    ASSERT_TRUE(excluded(*conv, 0x2E, 0x1F));
    // Built again in the same conversion object with "Lumi Sort" off.
    conv->settings.lumi_sort = 0;
    build_fitting_tables(*conv);
    EXPECT_TRUE(std::all_of(conv->excluded.begin(), conv->excluded.end(),
                            [](std::uint8_t v) { return v == 0; }));
}

TEST(PaletteDistanceMap, HoldsTheWeightedDistanceToEveryColour) {
    auto conv = tables_for({}, {60, 90, 120});
    const auto& d = conv->distance[5 * max_width + 7];
    for (int k = 0; k < 16; ++k) {
        const Rgb& c = conv->working[k];
        const int dr = 60 - c.r, dg = 90 - c.g, db = 120 - c.b;
        EXPECT_EQ(d[k], 2 * dr * dr + 4 * dg * dg + db * db) << k;
    }
    EXPECT_EQ(d[15], 2 * 195 * 195 + 4 * 165 * 165 + 135 * 135);

    ConversionSettings plain;
    plain.brightness = 0;
    auto unweighted = tables_for(plain, {60, 90, 120});
    EXPECT_EQ(unweighted->distance[0][15], 195 * 195 + 165 * 165 + 135 * 135);
}

// The distances describe the picture after the colour reduction and before "Edge Emph".
TEST(PaletteDistanceMap, IsBuiltBeforeEdgeEmphasis) {
    test::ScratchDir dir;
    test::write_file(dir / "p.bmp", test::make_bmp(16, 16, [](int x, int y) {
                         return x == 3 && y == 3 ? Color{250, 250, 250} : Color{100, 100, 100};
                     }));
    ConversionSettings s;
    s.col_reduction = 0;
    s.edge_emph = 1;
    auto conv = make_conversion();
    ScratchPool pool;
    ASSERT_EQ(convert_file(*conv, pool, (dir / "p.bmp").string(), s, DefaultPalettes{}), "");
    const int slot = 3 * max_width + 3;
    EXPECT_EQ(conv->work[slot].r, 255);                 // sharpened
    EXPECT_EQ(conv->distance[slot][0], 7 * 250 * 250);  // from 250 to black
    EXPECT_EQ(conv->distance[2 * max_width + 3][0], 7 * 100 * 100);

    // With "Col Reduction" the distances start from the snapped colour: grey 127 becomes
    // (127, 127, 109) when no pixel is on a full-strength edge.
    test::write_file(dir / "g.bmp", test::make_flat_bmp(16, 16, {127, 127, 127}));
    ASSERT_EQ(convert_file(*conv, pool, (dir / "g.bmp").string(), {}, DefaultPalettes{}), "");
    EXPECT_EQ(conv->distance[0][0], 2 * 127 * 127 + 4 * 127 * 127 + 109 * 109);
}
