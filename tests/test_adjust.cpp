// The edge measure's log scale and the picture adjustments "Gamma", "Index" and "ColorD".
#include <gtest/gtest.h>

#include <climits>

#include "support/conversion_fixture.hpp"

using namespace lumaweave;

// A step of 8 from a direct neighbour counts whole (s = 64: channel edges 98, 120, 111 of weights
// 2, 4, 3, mean 109), from a diagonal one half (88); a neighbour beyond the picture is the pixel.
// Weight 319 - edge (256 without "Edge Calc"), error scale (255 - edge) / 4 + 192. The log scale:
// 32 ln s, truncated, capped at 511.
TEST(EdgeMeasure, NeighboursWeightsAndCap) {
    EXPECT_EQ(edge_log(1), 0);
    EXPECT_EQ(edge_log(130049 * 2 / 6 + 1), 341);
    EXPECT_EQ(edge_log(INT_MAX), 511);
    // Background, odd pixel's value and place, pixel measured, Edge Calc; edge, weight, scale.
    const int cases[][10] = {
        {100, 108, 5, 4, 5, 5, 1, 109, 210, 228}, {100, 108, 6, 6, 5, 5, 1, 88, 231, 233},
        {100, 108, 1, 0, 0, 0, 1, 122, 197, 225}, {0, 255, 5, 5, 5, 5, 1, 255, 64, 192},
        {0, 255, 5, 5, 9, 9, 1, 0, 319, 255},     {0, 255, 5, 5, 5, 5, 0, 0, 256, 192}};
    for (const auto& c : cases) {
        const auto bg = static_cast<std::uint8_t>(c[0]);
        auto st = test::flat_stages(16, 16, {bg, bg, bg}, {.edge_calc = c[6]});
        st->at(c[2], c[3]) = {c[1], c[1], c[1], 0};
        measure_edges(st->settings, st->work, st->maps);
        const int slot = c[5] * max_width + c[4];
        EXPECT_EQ((std::array{st->maps.edge[slot], st->work[slot].w, st->maps.error_scale[slot]}),
                  (std::array{c[7], c[8], c[9]}))
            << c[2] << "," << c[3] << " measured at " << c[4] << "," << c[5];
    }
}

// Gamma T(i) = i + i (255 - i) g / 4080 rounded, channels times T(L / 100) * 100 / L (L = 55
// takes T(1)); Index adds 1/16; ColorD v + (100 v - L) k / 100, k = ColorD / 8; then clamped.
TEST(Adjustments, GammaIndexAndColorD) {
    const int gamma[][3] = {{8, 0, 0}, {8, 255, 255}, {8, 64, 88}, {-10, 1, 0}, {-10, 64, 34}};
    for (const auto& [g, i, t] : gamma)
        EXPECT_EQ(gamma_table(g)[i], t) << g << " " << i;
    void (*passes[])(const ConversionSettings&, WorkImage&) = {adjust_gamma, adjust_index,
                                                               adjust_color_d};
    // Pass (Gamma, Index on R and B, ColorD), value, pixel (4, 4) amid grey 50 before and after.
    const int cases[][8] = {
        {0, 8, 0, 0, 0, 0, 0, 0},           {0, 8, 0, 0, 5, 0, 0, 9},
        {0, 8, 255, 0, 0, 255, 0, 0},       {1, 1, 250, 100, 100, 255, 100, 106},
        {2, 1, 200, 100, 100, 208, 96, 96}, {2, 14, 0, 200, 0, 0, 255, 0}};
    for (const auto& c : cases) {
        const int g = c[0] == 0 ? c[1] : 0, i = c[0] == 1, d = c[0] == 2 ? c[1] : 0;
        const ConversionSettings s{.gamma = g, .index_r = i, .index_b = i, .color_d = d};
        auto st = test::flat_stages(16, 16, {50, 50, 50}, s);
        Pixel& p = st->at(4, 4);
        p = {c[2], c[3], c[4], 0};
        passes[c[0]](s, st->work);
        EXPECT_EQ((std::array{p.r, p.g, p.b}), (std::array{c[5], c[6], c[7]}))
            << "pass " << c[0] << " value " << c[1] << " on " << c[2] << "," << c[3] << "," << c[4];
    }
}
