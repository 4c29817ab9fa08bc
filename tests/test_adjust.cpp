// The edge measure's log scale and the picture adjustments "Gamma", "Index" and "ColorD".
#include <gtest/gtest.h>

#include <climits>

#include "support/conversion_fixture.hpp"

using namespace lumaweave;

// 32 ln s, truncated; capped.
TEST(EdgeMeasure, LogScale) {
    EXPECT_EQ(edge_log(1), 0);
    EXPECT_EQ(edge_log(130049 * 2 / 6 + 1), 341);
    EXPECT_EQ(edge_log(INT_MAX), 511);
}

// Gamma T(i) = i + i (255 - i) g / 4080 rounded, channels times T(L / 100) * 100 / L (L = 55
// takes T(1)); Index adds 1/16; ColorD v + (100 v - L) k / 100, k = ColorD / 8; then clamped.
TEST(Adjustments, GammaIndexAndColorD) {
    const int gamma[][3] = {{8, 0, 0}, {8, 255, 255}, {8, 64, 88}, {-10, 1, 0}, {-10, 64, 34}};
    for (const auto& [g, i, t] : gamma)
        EXPECT_EQ(gamma_table(g)[i], t) << g << " " << i;
    void (*passes[])(Conversion&) = {adjust_gamma, adjust_index, adjust_color_d};
    // Pass (Gamma, Index on R and B, ColorD), value, pixel (4, 4) amid grey 50 before and after.
    const int cases[][8] = {
        {0, 8, 0, 0, 0, 0, 0, 0},           {0, 8, 0, 0, 5, 0, 0, 9},
        {0, 8, 255, 0, 0, 255, 0, 0},       {1, 1, 250, 100, 100, 255, 100, 106},
        {2, 1, 200, 100, 100, 208, 96, 96}, {2, 14, 0, 200, 0, 0, 255, 0}};
    for (const auto& c : cases) {
        const int g = c[0] == 0 ? c[1] : 0, i = c[0] == 1, d = c[0] == 2 ? c[1] : 0;
        const ConversionSettings s{.gamma = g, .index_r = i, .index_b = i, .color_d = d};
        auto conv = test::flat_conversion(16, 16, {50, 50, 50}, s);
        Pixel& p = conv->work[4 * max_width + 4];
        p = {c[2], c[3], c[4], 0};
        passes[c[0]](*conv);
        EXPECT_EQ((std::array{p.r, p.g, p.b}), (std::array{c[5], c[6], c[7]}))
            << "pass " << c[0] << " value " << c[1] << " on " << c[2] << "," << c[3] << "," << c[4];
    }
}
