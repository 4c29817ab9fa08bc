// The edge measure and the picture adjustments: "Gamma", "Index", "ColorD" and "Edge Emph".
#include <gtest/gtest.h>

#include <climits>

#include "convert/convert.hpp"
#include "support/conversion_fixture.hpp"

using namespace lumaweave;
using test::Color;
using test::pixel;

namespace {

struct Rgb3 {
    int r, g, b;
    bool operator==(const Rgb3&) const = default;
};

Rgb3 rgb(const Pixel& p) {
    return {p.r, p.g, p.b};
}

std::ostream& operator<<(std::ostream& out, const Rgb3& c) {
    return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

// Runs one adjustment on a 16x16 picture whose pixel (4, 4) is `c` (the rest grey 50).
Rgb3 adjusted(void (*pass)(Conversion&), Color c, ConversionSettings s) {
    auto conv = test::conversion_with(
        16, 16,
        [c](int x, int y) {
            return x == 4 && y == 4 ? c : Color{50, 50, 50};
        },
        s);
    pass(*conv);
    return rgb(pixel(*conv, 4, 4));
}

ConversionSettings with_gamma(int g) {
    ConversionSettings s;
    s.gamma = g;
    return s;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Edge measure

TEST(EdgeMeasure, ChannelStrengthIsLogOfTheWeightedSum) {
    // The three channel sums of a pixel with 255 against three zero neighbours on its left.
    EXPECT_EQ(edge_log(130049 * 2 / 6 + 1), 341);
    EXPECT_EQ(edge_log(130049 * 4 / 6 + 1), 363);
    EXPECT_EQ(edge_log(130049 * 3 / 6 + 1), 354);
    EXPECT_EQ(edge_log(1), 0);
    EXPECT_EQ(edge_log(INT_MAX), 511);  // capped
}

TEST(EdgeMeasure, FlatPictureHasNoEdges) {
    auto conv = test::flat_conversion(24, 16, {90, 120, 30});
    // Whatever lies beyond the picture must not count as a neighbour.
    for (int y = 0; y < 17; ++y)
        pixel(*conv, 24, y) = {255, 0, 255, 0};
    for (int x = 0; x < 25; ++x)
        pixel(*conv, x, 16) = {255, 0, 255, 0};
    measure_edges(*conv);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 24; ++x) {
            const int slot = y * max_width + x;
            ASSERT_EQ(conv->work[slot].w, 319) << x << "," << y;
            ASSERT_EQ(conv->error_scale[slot], 255);
            ASSERT_EQ(conv->edge_map[slot], 0);
            ASSERT_EQ(conv->work[slot].r, 90);  // colours are left alone
        }
    }
}

// Pixel (1, y) of a picture whose column 0 is black and the rest white has its left, upper-left
// and lower-left neighbours at 0: s = 65025 + 2 * 32512 = 130049, edge 352 capped to 255.
TEST(EdgeMeasure, StrongEdgeIsCappedAt255) {
    auto picture = [](int x, int) { return x == 0 ? Color{0, 0, 0} : Color{255, 255, 255}; };
    auto conv = test::conversion_with(16, 16, picture);
    measure_edges(*conv);
    const int slot = 5 * max_width + 1;
    EXPECT_EQ(conv->work[slot].w, 64);
    EXPECT_EQ(conv->error_scale[slot], 192);
    EXPECT_EQ(conv->edge_map[slot], 255);

    ConversionSettings no_edges;
    no_edges.edge_calc = 0;
    auto off = test::conversion_with(16, 16, picture, no_edges);
    measure_edges(*off);
    EXPECT_EQ(off->work[slot].w, 256);
    EXPECT_EQ(off->error_scale[slot], 192);  // still measured
    EXPECT_EQ(off->edge_map[slot], 0);
    EXPECT_EQ(off->work[8 * max_width + 8].w, 256);
}

// Each of the four direct neighbours counts whole (s = 64, edge 109), each diagonal one half
// (s = 32: e = 76, 98, 90, edge 88).
TEST(EdgeMeasure, DiagonalNeighboursCountHalf) {
    struct Neighbour {
        int dx, dy, edge;
    };
    for (const Neighbour n : {Neighbour{0, -1, 109},
                              {0, 1, 109},
                              {-1, 0, 109},
                              {1, 0, 109},
                              {-1, -1, 88},
                              {1, -1, 88},
                              {-1, 1, 88},
                              {1, 1, 88}}) {
        auto conv = test::conversion_with(16, 16, [n](int x, int y) {
            return x == 5 + n.dx && y == 5 + n.dy ? Color{108, 108, 108} : Color{100, 100, 100};
        });
        measure_edges(*conv);
        const int slot = 5 * max_width + 5;
        EXPECT_EQ(conv->edge_map[slot], n.edge) << n.dx << "," << n.dy;
        EXPECT_EQ(conv->work[slot].w, 319 - n.edge) << n.dx << "," << n.dy;
        EXPECT_EQ(conv->error_scale[slot], (255 - n.edge) / 4 + 192) << n.dx << "," << n.dy;
    }
}

// At the corner the clamped neighbours are the pixel itself and add nothing: a step of 8 to the
// right neighbour counts once directly and once halved as the upper-right one, s = 96.
TEST(EdgeMeasure, NeighboursAreClampedToThePicture) {
    auto conv = test::conversion_with(16, 16, [](int x, int y) {
        return x == 1 && y == 0 ? Color{108, 108, 108} : Color{100, 100, 100};
    });
    measure_edges(*conv);
    // e = 111, 133, 124: edge 122.
    EXPECT_EQ(conv->edge_map[0], 122);
    EXPECT_EQ(conv->work[0].w, 197);
    EXPECT_EQ(conv->error_scale[0], 225);
}

// ---------------------------------------------------------------------------------------------
// Gamma

TEST(Gamma, TableFollowsTheQuadraticCurveRoundedToNearest) {
    for (int g = -10; g <= 8; ++g) {
        const auto t = gamma_table(g);
        for (int i = 0; i < 256; ++i) {
            // i + i (255 - i) g / 4080, to the nearest integer (the numerator is positive).
            const int twice = 2 * (4080 * i + i * (255 - i) * g) + 4080;
            ASSERT_EQ(t[static_cast<std::size_t>(i)], twice / 8160) << "gamma " << g << " i " << i;
        }
        EXPECT_EQ(t[0], 0);
        EXPECT_EQ(t[255], 255);
    }
    const auto bright = gamma_table(8);
    EXPECT_EQ(bright[64], 88);
    EXPECT_EQ(bright[128], 160);
    EXPECT_EQ(bright[192], 216);
    const auto dark = gamma_table(-10);
    EXPECT_EQ(dark[64], 34);
    EXPECT_EQ(dark[128], 88);
    EXPECT_EQ(dark[1], 0);
}

TEST(Gamma, PixelIsScaledToTheLuminanceOfTheCurve) {
    EXPECT_EQ(adjusted(adjust_gamma, {128, 128, 128}, with_gamma(8)), (Rgb3{160, 160, 160}));
    EXPECT_EQ(adjusted(adjust_gamma, {128, 128, 128}, with_gamma(-10)), (Rgb3{88, 88, 88}));
    EXPECT_EQ(adjusted(adjust_gamma, {0, 0, 0}, with_gamma(8)), (Rgb3{0, 0, 0}));
    // Luminance 55 looks up entry 1 (rounded), not 0: blue 5 * 1 * 100 / 55.01 = 9.09.
    EXPECT_EQ(adjusted(adjust_gamma, {0, 0, 5}, with_gamma(8)), (Rgb3{0, 0, 9}));
    // A channel scaled past 255 stays at 255.
    EXPECT_EQ(adjusted(adjust_gamma, {255, 0, 0}, with_gamma(8)), (Rgb3{255, 0, 0}));
}

// ---------------------------------------------------------------------------------------------
// Index

TEST(Index, CheckedChannelsGrowByOneSixteenth) {
    ConversionSettings r;
    r.index_r = 1;
    EXPECT_EQ(adjusted(adjust_index, {100, 100, 100}, r), (Rgb3{106, 100, 100}));
    EXPECT_EQ(adjusted(adjust_index, {250, 250, 250}, r), (Rgb3{255, 250, 250}));

    ConversionSettings rb;
    rb.index_r = 1;
    rb.index_b = 1;
    EXPECT_EQ(adjusted(adjust_index, {100, 100, 100}, rb), (Rgb3{106, 100, 106}));

    ConversionSettings g;
    g.index_g = 1;
    EXPECT_EQ(adjusted(adjust_index, {100, 250, 15}, g), (Rgb3{100, 255, 15}));
}

// ---------------------------------------------------------------------------------------------
// ColorD

TEST(ColorD, ChannelsMoveAwayFromTheLuminance) {
    ConversionSettings s;
    s.color_d = 8;  // k = 1: L = 13000, red 200 + 70, green and blue 100 - 30
    EXPECT_EQ(adjusted(adjust_color_d, {200, 100, 100}, s), (Rgb3{255, 70, 70}));
    EXPECT_EQ(adjusted(adjust_color_d, {90, 90, 90}, s), (Rgb3{90, 90, 90}));

    s.color_d = -4;  // k = -0.5: toward the luminance
    EXPECT_EQ(adjusted(adjust_color_d, {200, 100, 100}, s), (Rgb3{165, 115, 115}));

    s.color_d = 1;  // k = 0.125: 208.75 and 96.25 truncate
    EXPECT_EQ(adjusted(adjust_color_d, {200, 100, 100}, s), (Rgb3{208, 96, 96}));

    s.color_d = 14;  // k = 1.75: red 0 - 206.5 clamps to 0, green 343.5 to 255
    EXPECT_EQ(adjusted(adjust_color_d, {0, 200, 0}, s), (Rgb3{0, 255, 0}));
}

// ---------------------------------------------------------------------------------------------
// Edge Emph

TEST(EdgeEmph, FlatPictureIsUnchanged) {
    ConversionSettings s;
    s.edge_emph = 1;
    auto conv = test::flat_conversion(16, 16, {30, 140, 250}, s);
    emphasize_edges(*conv);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(rgb(pixel(*conv, x, y)), (Rgb3{30, 140, 250}));
    }
}

// Sharpening works in place in row-major order: the left and upper neighbours of a pixel are
// already sharpened, each difference is shifted right by 3 (toward minus infinity) and the
// result is clamped before it is stored.
TEST(EdgeEmph, SharpensInPlaceWithArithmeticShifts) {
    ConversionSettings s;
    s.edge_emph = 1;
    auto conv = test::conversion_with(
        16, 16,
        [](int x, int y) {
            return x == 3 && y == 3 ? Color{250, 250, 250} : Color{100, 100, 100};
        },
        s);
    emphasize_edges(*conv);
    auto red = [&](int x, int y) { return pixel(*conv, x, y).r; };
    EXPECT_EQ(red(3, 2), 81);   // 100 + (-150 >> 3)
    EXPECT_EQ(red(4, 2), 102);  // its left neighbour is already 81
    EXPECT_EQ(red(5, 2), 99);   // (100 - 102) >> 3 = -1
    EXPECT_EQ(red(2, 3), 81);
    EXPECT_EQ(red(3, 3), 255);  // 250 + 21 + 18 + 21 + 18, clamped
    EXPECT_EQ(red(4, 3), 79);   // (100 - 255) >> 3 = -20, (100 - 102) >> 3 = -1
    EXPECT_EQ(red(3, 4), 79);
    EXPECT_EQ(red(3, 1), 100);
    EXPECT_EQ(pixel(*conv, 3, 3).g, 255);
    EXPECT_EQ(pixel(*conv, 4, 3).b, 79);

    // Off: nothing changes.
    auto off = test::conversion_with(16, 16, [](int x, int y) {
        return x == 3 && y == 3 ? Color{250, 250, 250} : Color{100, 100, 100};
    });
    emphasize_edges(*off);
    EXPECT_EQ(pixel(*off, 3, 2).r, 100);
    EXPECT_EQ(pixel(*off, 3, 3).r, 250);
}

// At the border the clamped neighbour is the pixel itself and contributes 0.
TEST(EdgeEmph, BorderNeighbourIsThePixelItself) {
    ConversionSettings s;
    s.edge_emph = 1;
    auto conv = test::conversion_with(
        16, 16,
        [](int x, int y) {
            return x == 0 && y == 0 ? Color{200, 200, 200} : Color{100, 100, 100};
        },
        s);
    emphasize_edges(*conv);
    EXPECT_EQ(pixel(*conv, 0, 0).r, 224);  // 200 + 12 (right) + 12 (below)
    EXPECT_EQ(pixel(*conv, 1, 0).r, 84);   // (100 - 224) >> 3 = -16
    EXPECT_EQ(pixel(*conv, 0, 1).r, 84);
}
