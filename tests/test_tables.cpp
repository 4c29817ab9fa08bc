// The tables the block fitting consults.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/conversion_fixture.hpp"

using namespace lumaweave;

namespace {

// A 16x16 picture of (60, 90, 120) with the MSX1 palette (Hue 0), its distances and fitting
// tables built.
std::unique_ptr<test::Stages> tables_for(const ConversionSettings& s) {
    auto st = test::flat_stages(16, 16, {60, 90, 120}, s);
    st->msx1_palette();
    build_distance_map(s, st->palette, st->work, st->distance);
    build_fitting_tables(s, st->palette, st->tables);
    return st;
}

// "Color No.0" and "Brightness" No, then Yes: 105 pairs without colour 0 or all 120, in order;
// clamp to [-48, 303] and squares weighted 2, 4, 1, or [-96, 351] unweighted.
TEST(FittingTables, DistinctCountPairListsClampAndSquares) {
    auto st = tables_for({});
    const FittingTables* t = &st->tables;
    const int distinct[][2] = {{0x0000, 1}, {0x1122, 2}, {0x1213, 3}, {0x0123, 4}, {0xF00F, 2}};
    for (const auto& [n, count] : distinct)
        EXPECT_EQ(t->distinct_count[n], count) << std::hex << n;
    ASSERT_EQ(t->pair_count, 105);
    EXPECT_TRUE(t->pairs[0] == 0x12 && t->pairs[14] == 0x23 && t->pairs[104] == 0xEF);
    EXPECT_TRUE(t->clamp_low == -48 && t->clamp_high == 303);
    EXPECT_EQ(t->square_weight, (std::array{2, 4, 1}));
    EXPECT_EQ(st->distance[5 * max_width + 7][15], 2 * 195 * 195 + 4 * 165 * 165 + 135 * 135);

    st = tables_for({.color_no0 = 1, .brightness = 0});
    t = &st->tables;
    ASSERT_EQ(t->pair_count, 120);
    EXPECT_TRUE(t->pairs[0] == 0x01 && t->pairs[15] == 0x12 && t->pairs[119] == 0xEF);
    EXPECT_TRUE(t->clamp_low == -96 && t->clamp_high == 351);
    EXPECT_EQ(t->square_weight, (std::array{1, 1, 1}));
    EXPECT_EQ(st->distance[0][15], 195 * 195 + 165 * 165 + 135 * 135);
}

// Luminances 0 (colours 0, 1), 15207 (2), 18807 (3), 18200 (14), 25500 (15). Excluded: darkest
// below darker than brightest above, or with "Optimizat" a smaller sum below; never U over U.
TEST(ExclusionTable, LumiSortRules) {
    // Optimizat, upper pair, lower pair, excluded.
    const int cases[][4] = {{0, 0x2E, 0x1F, 1}, {0, 0x01, 0x1F, 0}, {0, 0x3E, 0x2F, 1},
                            {0, 0x2E, 0x3F, 0}, {1, 0x2E, 0x1F, 1}, {1, 0x3E, 0x2F, 0},
                            {1, 0x01, 0x1F, 0}, {1, 0x1F, 0x01, 1}};
    for (const auto& c : cases) {
        auto st = tables_for({.optimization = c[0]});
        const auto& excluded = st->tables.excluded;
        EXPECT_EQ(excluded[c[1] * 256 + c[2]], c[3]) << std::hex << c[1] << " over " << c[2];
        for (int u = 0; u < 256; ++u)
            ASSERT_EQ(excluded[u * 257], 0) << u;
        st->settings.lumi_sort = 0;  // built again in the same tables
        build_fitting_tables(st->settings, st->palette, st->tables);
        EXPECT_EQ(std::count(excluded.begin(), excluded.end(), 0), 65536);
    }
}

}  // namespace
