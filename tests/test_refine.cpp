// The block-noise refinement: when it runs, which blocks test A and test B select, and the choice
// between the best single-colour and the best patterned answer of its column search.
//
// The pictures are prepared by hand (weights, and sometimes the palette, chosen so that the
// answer follows from the rules) and fitted by both searches, which must agree.
#include <gtest/gtest.h>

#include <cstdint>

#include "support/fitting_fixture.hpp"

using namespace lumaweave;
using test::BlockBytes;
using test::Color;
using test::msx1;

namespace {

Color grey(int v) {
    const auto c = static_cast<std::uint8_t>(v);
    return {c, c, c};
}

// ---------------------------------------------------------------------------------------------
// Test A

// Two blocks, MSX1, column mode. Block 0 is white: the main pass gives it the red list's first
// exact entry, (0x1F, 0x1F), white its background. Block 1 mixes 8 and 15 (white in its first
// column, so block 0's result has no edge): only (0x8F, 0x8F) is exact, and it moves to the
// front of the red list. Re-fitted, block 0 meets (0x8F, 0x8F) first: exact and single-coloured,
// so it is taken. Block 0's result weights are all 319; its source weights are 319 except at
// pixel (3, 1), which sets the largest weight difference.
test::PreparedPicture test_a_picture(std::int32_t weight_at_3_1, const ConversionSettings& s) {
    test::PreparedPicture p;
    p.width = 16;
    p.height = 2;
    p.settings = s;
    p.color = [](int x, int y) {
        const int j = x - 8;
        if (x < 8) return msx1[15];
        if (y == 0) return msx1[j % 2 ? 8 : 15];
        return msx1[j == 0 ? 15 : 8];
    };
    p.weight = [weight_at_3_1](int x, int y) { return x == 3 && y == 1 ? weight_at_3_1 : 319; };
    return p;
}

ConversionSettings block_noise_only() {
    ConversionSettings s;
    s.vertical_error_ratio = 8;
    s.lumi_sort = 1;
    s.block_noise = 1;
    s.mix = 0;
    s.sp = 0;
    return s;
}

const BlockBytes block1{0x55, 0x7F, 0x8F, 0x8F};
const BlockBytes kept{0x00, 0x00, 0x1F, 0x1F};
const BlockBytes refitted{0x00, 0x00, 0x8F, 0x8F};

}  // namespace

TEST(RefinementTestA, WeightDifferenceOf150KeepsTheBlock) {
    auto conv = test::fit_both(test_a_picture(169, block_noise_only()));
    EXPECT_EQ(test::block_bytes(*conv, 0, 0), kept);
    EXPECT_EQ(test::block_bytes(*conv, 8, 0), block1);
}

TEST(RefinementTestA, WeightDifferenceOf151RefitsTheBlock) {
    auto conv = test::fit_both(test_a_picture(168, block_noise_only()));
    EXPECT_EQ(test::block_bytes(*conv, 0, 0), refitted);
    EXPECT_EQ(test::block_bytes(*conv, 8, 0), block1);  // patterned: never selected by test A
}

// "Mix" runs the pass too; with ratio 8 and "Lumi Sort" it is test A's pass.
TEST(RefinementTestA, MixWithRatioEightAndLumiSortUsesTestA) {
    ConversionSettings s = block_noise_only();
    s.block_noise = 0;
    s.mix = 1;
    EXPECT_EQ(test::block_bytes(*test::fit_both(test_a_picture(168, s)), 0, 0), refitted);
    EXPECT_EQ(test::block_bytes(*test::fit_both(test_a_picture(169, s)), 0, 0), kept);
}

// Without "Block Noise" and "Mix" the pass does not run, whatever the weights.
TEST(RefinementTestA, NoPassWithoutBlockNoiseOrMix) {
    ConversionSettings s = block_noise_only();
    s.block_noise = 0;
    auto conv = test::fit_both(test_a_picture(64, s));
    EXPECT_EQ(test::block_bytes(*conv, 0, 0), kept);
}

// ---------------------------------------------------------------------------------------------
// Test B

namespace {

// Colours 0 and 1 black, 2..15 white; "Color No.0" on, so the list begins (0x01, 0x01),
// (0x01, 0x02), .. Two blocks, "Mix" without "Lumi Sort": column mode in the main pass, test B
// and the vertical cell mode in the refinement.
//
// Block 0 is dark grey, at most 40, so every pixel takes black whenever its row's pair holds
// black (the values it receives stay below 128): every entry with black on both rows costs the
// same, and the first, (0x01, 0x01), wins the main pass, black its background. Block 1 is black
// and white (black in its first column, so block 0's result has no edge): its first exact entry
// is (0x02, 0x02), which moves to the front of the red list. Re-fitted, block 0 takes
// (0x02, 0x02), black its foreground.
//
// Block 0's source weights are 255, 64 below the result weights of 319, except where given;
// column j's upper and lower values are given, and the column counts when the two differences
// from black add up to more than 64.
test::PreparedPicture test_b_picture(const std::array<int, 8>& upper,
                                     const std::array<int, 8>& lower, int heavy_x = -1,
                                     int heavy_y = -1) {
    test::PreparedPicture p;
    p.width = 16;
    p.height = 2;
    p.settings.color_no0 = 1;
    p.settings.lumi_sort = 0;
    p.settings.optimization = 0;
    p.settings.mix = 1;
    p.settings.block_noise = 0;
    p.settings.vertical_error_ratio = 8;
    p.settings.dither_order = 0;
    p.settings.sp = 0;
    Palette palette;
    for (int k = 0; k < 16; ++k)
        palette[k] = k < 2 ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
    p.palette = palette;
    p.color = [upper, lower](int x, int y) {
        if (x < 8) return grey(y == 0 ? upper[x] : lower[x]);
        const int j = x - 8;
        const int black = y == 0 ? 0xB4 : 0xCA;  // columns 0, 2, 3, 5 above; 0, 1, 4, 6 below
        return grey((black & (0x80 >> j)) ? 0 : 255);
    };
    p.weight = [heavy_x, heavy_y](int x, int y) {
        return x == heavy_x && y == heavy_y ? 254 : 255;
    };
    return p;
}

const BlockBytes b_kept{0x00, 0x00, 0x01, 0x01};
const BlockBytes b_refitted{0xFF, 0xFF, 0x02, 0x02};
const BlockBytes b_block1{0xB4, 0xCA, 0x02, 0x02};

}  // namespace

TEST(RefinementTestB, TwoDriftingColumnsKeepTheBlock) {
    auto conv = test::fit_both(
        test_b_picture({40, 40, 30, 30, 30, 30, 30, 30}, {40, 40, 30, 30, 30, 30, 30, 30}));
    EXPECT_EQ(test::block_bytes(*conv, 0, 0), b_kept);
    EXPECT_EQ(test::block_bytes(*conv, 8, 0), b_block1);
}

TEST(RefinementTestB, ThreeDriftingColumnsRefitTheBlock) {
    auto conv = test::fit_both(
        test_b_picture({40, 30, 30, 40, 30, 30, 30, 40}, {40, 30, 30, 40, 30, 30, 30, 40}));
    EXPECT_EQ(test::block_bytes(*conv, 0, 0), b_refitted);
    EXPECT_EQ(test::block_bytes(*conv, 8, 0), b_block1);  // no drift: never selected
}

// A column counts when |dR|, |dG| or |dB| is above 64: 32 + 33 counts, 32 + 32 does not.
TEST(RefinementTestB, DriftMustExceed64) {
    auto over = test::fit_both(
        test_b_picture({40, 40, 32, 30, 30, 30, 30, 30}, {40, 40, 33, 30, 30, 30, 30, 30}));
    EXPECT_EQ(test::block_bytes(*over, 0, 0), b_refitted);
    auto at = test::fit_both(
        test_b_picture({40, 40, 32, 30, 30, 30, 30, 30}, {40, 40, 32, 30, 30, 30, 30, 30}));
    EXPECT_EQ(test::block_bytes(*at, 0, 0), b_kept);
}

// A weight difference of 65 in either row keeps a column out of the count, whatever its drift.
TEST(RefinementTestB, WeightDifferenceOf65KeepsTheColumnOut) {
    const std::array<int, 8> three{40, 40, 40, 30, 30, 30, 30, 30};
    EXPECT_EQ(test::block_bytes(*test::fit_both(test_b_picture(three, three)), 0, 0), b_refitted);
    EXPECT_EQ(test::block_bytes(*test::fit_both(test_b_picture(three, three, 2, 1)), 0, 0), b_kept);
    EXPECT_EQ(test::block_bytes(*test::fit_both(test_b_picture(three, three, 1, 0)), 0, 0), b_kept);
}

// "Block Noise" without column mode in force (here "Lumi Sort" is off) and without "Mix" runs no
// pass.
TEST(RefinementTestB, BlockNoiseWithoutColumnModeDoesNothing) {
    const std::array<int, 8> three{40, 40, 40, 30, 30, 30, 30, 30};
    test::PreparedPicture p = test_b_picture(three, three);
    p.settings.mix = 0;
    p.settings.block_noise = 1;
    EXPECT_EQ(test::block_bytes(*test::fit_both(p), 0, 0), b_kept);
}

// ---------------------------------------------------------------------------------------------
// Solid or textured

namespace {

// One block; only pixel (7, 0) weighs (1), every other pixel has weight 0, so a candidate's
// error is that pixel's cost. Distances 2 dR^2 + 4 dG^2 + dB^2. The upper row is X = (40, 40, 40),
// the lower row white. Palette (colour 0 unused, 4..15 black, far from everything):
//   1: P = (45, 45, 40)  d(X, P) = 150, the colour nearest to X and to every whitish value
//   2: Q                 d(X, Q) = 160 or 159, the farthest from whitish values
//   3: K = (40, 40, 53)  d(X, K) = 169, between P and Q from whitish values
// The lower row takes the pair's colour nearest to white and passes back an error that puts the
// upper pixels near white; so column 7 is fitted upper pixel first (X takes its pair's colour
// nearer to X), the other upper pixels lower pixel first (they take the colour nearer to white).
// A candidate is patterned exactly when those differ: with P in the upper pair both are P (solid,
// 150); with (Q, K) above, X takes Q and the others K (patterned, d(X, Q)). The main pass keeps
// entry 0, (0x12, 0x12): solid, 150, both rows showing P. Its result weights are 319 and the
// source's at most 1, so test A selects it. Best solid 150, limit 150 x 16 / 15 = 160; the first
// patterned entry of least error is (0x23, 0x12): Q at column 7 above K, P below.
test::PreparedPicture solid_or_textured_picture(Rgb q) {
    test::PreparedPicture p;
    p.width = 8;
    p.height = 2;
    p.settings.vertical_error_ratio = 8;
    p.settings.lumi_sort = 1;
    p.settings.optimization = 1;
    p.settings.block_noise = 1;
    p.settings.mix = 0;
    p.settings.sp = 0;
    Palette palette;
    palette.fill({0, 0, 0});
    palette[1] = {45, 45, 40};
    palette[2] = q;
    palette[3] = {40, 40, 53};
    p.palette = palette;
    p.color = [](int, int y) { return grey(y == 0 ? 40 : 255); };
    p.weight = [](int x, int y) { return x == 7 && y == 0 ? 1 : 0; };
    return p;
}

}  // namespace

// Patterned at 160 = the limit: the single-colour answer stays.
TEST(RefinementSolidOrTextured, TexturedAtTheLimitGivesTheSolidEntry) {
    auto conv = test::fit_both(solid_or_textured_picture({40, 34, 36}));  // 4 x 36 + 16 = 160
    EXPECT_EQ(test::block_bytes(*conv, 0, 0), (BlockBytes{0xFF, 0xFF, 0x12, 0x12}));
}

// Patterned at 159, below the limit: taken although the solid answer costs less.
TEST(RefinementSolidOrTextured, TexturedBelowTheLimitIsTaken) {
    auto conv = test::fit_both(solid_or_textured_picture({35, 35, 37}));  // 50 + 100 + 9 = 159
    EXPECT_EQ(test::block_bytes(*conv, 0, 0), (BlockBytes{0x01, 0xFF, 0x23, 0x12}));
}

// Only entries strictly above the best patterned error are abandoned, so a single-colour entry
// met later at that same error is still recorded. Colours 1..14 black, 15 white. Block 0 is black
// in columns 0..3 and white in 4..7 on both rows, all of weight 0, so every entry costs 0: the
// main pass keeps entry 0, (0x12, 0x12), whose two blacks tie everywhere (background 2, solid).
// Block 1 (black in its first column) fits exactly first with (0x1F, 0x1F), which moves to the
// front. Re-fitted, block 0 meets (0x1F, 0x1F) first: patterned, error 0; then (0x12, 0x12):
// solid, error 0, not above 0. Limit 0 x 16 / 15 = 0, and 0 >= 0 gives the solid entry.
TEST(RefinementSolidOrTextured, SolidEntryAtTheBestTexturedErrorCounts) {
    test::PreparedPicture p;
    p.width = 16;
    p.height = 2;
    p.settings.vertical_error_ratio = 8;
    p.settings.lumi_sort = 1;
    p.settings.block_noise = 1;
    p.settings.mix = 0;
    p.settings.sp = 0;
    Palette palette;
    palette.fill({0, 0, 0});
    palette[15] = {255, 255, 255};
    p.palette = palette;
    p.color = [](int x, int y) {
        if (x < 8) return grey(x < 4 ? 0 : 255);
        const int black = y == 0 ? 0x96 : 0xA5;
        return grey((black & (0x80 >> (x - 8))) ? 0 : 255);
    };
    p.weight = [](int x, int) { return x < 8 ? 0 : 256; };
    auto conv = test::fit_both(p);
    EXPECT_EQ(test::block_bytes(*conv, 0, 0), (BlockBytes{0x00, 0x00, 0x12, 0x12}));
    EXPECT_EQ(test::block_bytes(*conv, 8, 0), (BlockBytes{0x96, 0xA5, 0x1F, 0x1F}));
}
