// The edge measure and the picture adjustments: "Gamma", "Index", "ColorD" and "Edge Emph".
#include <gtest/gtest.h>

#include <climits>

#include "support/conversion_fixture.hpp"

using namespace lumaweave;
using test::Color;
using test::pixel;

// A 16x16 picture of grey `background` whose pixel (x, y) is `c`.
static std::unique_ptr<Conversion> one_pixel(int background, Color c, int x, int y,
                                             const ConversionSettings& s = {}) {
    const auto bg = static_cast<std::uint8_t>(background);
    auto conv = test::flat_conversion(16, 16, {bg, bg, bg}, s);
    pixel(*conv, x, y) = {c.r, c.g, c.b, 0};
    return conv;
}

// A step of 8 from a direct neighbour counts whole (s = 64: channel edges 98, 120, 111 of weights
// 2, 4, 3, mean 109), from a diagonal one half (88); a neighbour beyond the picture is the pixel.
// Weight 319 - edge (256 without "Edge Calc"), error scale (255 - edge) / 4 + 192.
TEST(EdgeMeasure, NeighboursWeightsAndCap) {
    EXPECT_EQ(edge_log(1), 0);
    EXPECT_EQ(edge_log(130049 * 2 / 6 + 1), 341);  // 32 ln s, truncated
    EXPECT_EQ(edge_log(INT_MAX), 511);             // capped
    // Background, odd pixel's value and place, pixel measured, Edge Calc; edge, weight, scale.
    const int cases[][10] = {
        {100, 108, 5, 4, 5, 5, 1, 109, 210, 228}, {100, 108, 5, 6, 5, 5, 1, 109, 210, 228},
        {100, 108, 4, 5, 5, 5, 1, 109, 210, 228}, {100, 108, 6, 5, 5, 5, 1, 109, 210, 228},
        {100, 108, 4, 4, 5, 5, 1, 88, 231, 233},  {100, 108, 6, 4, 5, 5, 1, 88, 231, 233},
        {100, 108, 4, 6, 5, 5, 1, 88, 231, 233},  {100, 108, 6, 6, 5, 5, 1, 88, 231, 233},
        {100, 108, 1, 0, 0, 0, 1, 122, 197, 225}, {100, 108, 14, 15, 15, 15, 1, 122, 197, 225},
        {0, 255, 5, 5, 5, 5, 1, 255, 64, 192},    {0, 255, 5, 5, 9, 9, 1, 0, 319, 255},
        {0, 255, 5, 5, 5, 5, 0, 0, 256, 192},     {0, 255, 5, 5, 9, 9, 0, 0, 256, 255}};
    for (const auto& c : cases) {
        ConversionSettings s;
        s.edge_calc = c[6];
        const auto v = static_cast<std::uint8_t>(c[1]);
        auto conv = one_pixel(c[0], {v, v, v}, c[2], c[3], s);
        measure_edges(*conv);
        const int slot = c[5] * max_width + c[4];
        EXPECT_EQ((std::array{conv->edge_map[slot], conv->work[slot].w, conv->error_scale[slot]}),
                  (std::array{c[7], c[8], c[9]}))
            << c[2] << "," << c[3] << " measured at " << c[4] << "," << c[5];
    }
}

// Gamma T(i) = i + i (255 - i) g / 4080 rounded, channels times T(L / 100) * 100 / L (L = 55
// takes T(1)); Index adds 1/16; ColorD v + (100 v - L) k / 100, k = ColorD / 8; then clamped.
TEST(Adjustments, GammaIndexAndColorD) {
    const int gamma[][3] = {{8, 0, 0},     {8, 255, 255}, {8, 64, 88}, {8, 128, 160},
                            {8, 192, 216}, {-10, 0, 0},   {-10, 1, 0}, {-10, 255, 255},
                            {-10, 64, 34}, {-10, 128, 88}};
    for (const auto& [g, i, t] : gamma)
        EXPECT_EQ(gamma_table(g)[i], t) << g << " " << i;
    void (*passes[])(Conversion&) = {adjust_gamma, adjust_index, adjust_color_d};
    // Pass (Gamma, Index, ColorD), its value (Index: 1 R, 2 G, 4 B), pixel before and after.
    const int cases[][8] = {{0, 8, 128, 128, 128, 160, 160, 160},
                            {0, -10, 128, 128, 128, 88, 88, 88},
                            {0, 8, 0, 0, 0, 0, 0, 0},
                            {0, 8, 0, 0, 5, 0, 0, 9},
                            {0, 8, 255, 0, 0, 255, 0, 0},
                            {1, 1, 100, 100, 100, 106, 100, 100},
                            {1, 1, 250, 250, 250, 255, 250, 250},
                            {1, 5, 100, 100, 100, 106, 100, 106},
                            {1, 2, 100, 250, 15, 100, 255, 15},
                            {2, 8, 200, 100, 100, 255, 70, 70},
                            {2, 8, 90, 90, 90, 90, 90, 90},
                            {2, -4, 200, 100, 100, 165, 115, 115},
                            {2, 1, 200, 100, 100, 208, 96, 96},
                            {2, 14, 0, 200, 0, 0, 255, 0}};
    for (const auto& c : cases) {
        ConversionSettings s;
        s.gamma = c[0] == 0 ? c[1] : 0;
        s.index_r = c[0] == 1 && (c[1] & 1);
        s.index_g = c[0] == 1 && (c[1] & 2);
        s.index_b = c[0] == 1 && (c[1] & 4);
        s.color_d = c[0] == 2 ? c[1] : 0;
        const auto in = [&](int i) { return static_cast<std::uint8_t>(c[2 + i]); };
        auto conv = one_pixel(50, {in(0), in(1), in(2)}, 4, 4, s);
        passes[c[0]](*conv);
        const Pixel& p = pixel(*conv, 4, 4);
        EXPECT_EQ((std::array{p.r, p.g, p.b}), (std::array{c[5], c[6], c[7]}))
            << "pass " << c[0] << " value " << c[1] << " on " << c[2] << "," << c[3] << "," << c[4];
    }
}

// In place, row by row: the left and upper neighbours are already sharpened; each difference is
// shifted right by 3 (toward minus infinity), the sum clamped; a border neighbour is the pixel.
TEST(EdgeEmph, SharpensInPlaceWithArithmeticShifts) {
    ConversionSettings s;
    s.edge_emph = 1;
    auto conv = one_pixel(100, {250, 250, 250}, 3, 3, s);
    emphasize_edges(*conv);
    auto red = [&](int x, int y) { return pixel(*conv, x, y).r; };
    // (3, 2): 100 + (-150 >> 3); (4, 2): its left neighbour is already 81; (3, 3): 250 + 21 + 18
    // + 21 + 18, clamped; (4, 3): (100 - 255) >> 3 = -20 and (100 - 102) >> 3 = -1.
    EXPECT_EQ((std::array{red(3, 2), red(4, 2), red(5, 2), red(3, 3), red(4, 3), red(3, 4),
                          red(3, 1), pixel(*conv, 4, 3).b}),
              (std::array{81, 102, 99, 255, 79, 79, 100, 79}));
    auto corner = one_pixel(100, {200, 200, 200}, 0, 0, s);
    emphasize_edges(*corner);
    // 200 + 12 (right) + 12 (below); then (100 - 224) >> 3 = -16.
    EXPECT_EQ((std::array{pixel(*corner, 0, 0).r, pixel(*corner, 1, 0).r, pixel(*corner, 0, 1).g}),
              (std::array{224, 84, 84}));
    auto off = one_pixel(100, {250, 250, 250}, 3, 3);
    emphasize_edges(*off);
    EXPECT_EQ(pixel(*off, 3, 3).r, 250);
}
