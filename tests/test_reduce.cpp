// "Col Reduction": the list of palette colours and blends, and the snapping pass.
#include <gtest/gtest.h>

#include "support/conversion_fixture.hpp"

using namespace lumaweave;

// Index of the pair (a, b), a < b, among the 120 pairs in order (0,1), (0,2) .. (14,15).
static int pair_index(int a, int b) {
    return a * 15 - a * (a - 1) / 2 + b - a - 1;
}

static std::unique_ptr<test::Stages> msx1_grey(std::uint8_t grey,
                                               const ConversionSettings& s = {}) {
    auto st = test::flat_stages(16, 16, {grey, grey, grey}, s);
    st->msx1_palette();
    return st;
}

static void reduce(test::Stages& st) {
    reduce_colors(st.settings, st.palette, st.maps, st.work);
}

// Per pair a half blend (ratio 8) or 75 % of the second, half, 75 % of the first, shifted
// arithmetically; then the pure colours. Blends with colour 0 weigh the distance to black up
// ("Dark Color" off: x4 and /32) or the other one down (on: /2).
TEST(MixList, EntriesInOrder) {
    const Palette msx1 = msx1_grey(0)->palette.working;
    Palette negative{};
    negative[2] = {-53, -7, 9};
    const int p12 = pair_index(12, 13), p0 = pair_index(0, 15), p2 = pair_index(2, 3);
    // Ratio, Dark Color, palette (1: negative), entry; its colour, colours and weights.
    const int cases[][11] = {{8, 0, 0, p12, 127, 127, 109, 12, 13, 64, 64},
                             {8, 0, 0, 135, 255, 255, 255, 15, 15, 64, 64},
                             {8, 0, 0, p0, 127, 127, 127, 0, 15, 256, 2},
                             {7, 0, 0, 3 * p12, 154, 118, 145, 12, 13, 96, 32},
                             {7, 0, 0, 3 * p0 + 2, 63, 63, 63, 0, 15, 128, 3},
                             {7, 1, 0, 3 * p0, 191, 191, 191, 0, 15, 96, 16},
                             {7, 0, 1, 3 * p2 + 2, -40, -6, 6, 2, 3, 32, 96}};
    for (const auto& c : cases) {
        const MixList list = build_mix_list(c[2] ? negative : msx1,
                                            {.vertical_error_ratio = c[0], .dark_color = c[1]});
        EXPECT_EQ(list.count, c[0] == 8 ? 136 : 376);
        const MixEntry& e = list.entries[static_cast<std::size_t>(c[3])];
        EXPECT_EQ((std::array{e.color.r, e.color.g, e.color.b, e.a, e.b, e.weight_a, e.weight_b}),
                  (std::array{c[4], c[5], c[6], c[7], c[8], c[9], c[10]}))
            << "ratio " << c[0] << " dark " << c[1] << " entry " << c[3];
    }
}

// The entry of least score ((distance to a x weight a + to b x weight b) >> 9, plus the distance
// to the blend), the first of equal ones, gives a grey pixel its colour.
TEST(ColorReduction, WinningEntries) {
    // Dark Color, Brightness, grey level of the pixel, winning entry (score in the comment).
    const int cases[][4] = {{0, 1, 0, 0},                     // 0
                            {0, 1, 255, 135},                 // 0: pure colour 15, after the blends
                            {0, 1, 127, pair_index(12, 13)},  // 3573
                            {0, 1, 20, 120},                  // 3500: pure colour 0
                            {1, 1, 20, 0},                    // 3325: the blend of 0 and 1
                            {0, 0, 20, 120}};                 // 1500
    for (const auto& c : cases) {
        const ConversionSettings s{.brightness = c[1], .dark_color = c[0]};
        auto st = msx1_grey(static_cast<std::uint8_t>(c[2]), s);
        reduce(*st);
        const Rgb want = build_mix_list(st->palette.working, s).entries[c[3]].color;
        const Pixel& got = st->at(5, 5);
        EXPECT_EQ((std::array{got.r, got.g, got.b}), (std::array{want.r, want.g, want.b}))
            << "grey " << c[2] << " dark " << c[0] << " brightness " << c[1];
    }
}

// Every pixel takes its winner's colour exactly and unclamped, except those of edge strength 255.
TEST(ColorReduction, SnapsPixelsBelowTheStrongestEdges) {
    auto st = msx1_grey(127);
    st->maps.edge[2 * max_width + 3] = 255;
    st->maps.edge[2 * max_width + 4] = 254;
    reduce(*st);
    auto rgb = [](const Pixel& p) { return std::array{p.r, p.g, p.b}; };
    EXPECT_EQ(rgb(st->at(3, 2)), (std::array{127, 127, 127}));
    EXPECT_EQ(rgb(st->at(4, 2)), (std::array{127, 127, 109}));
    EXPECT_EQ(rgb(st->at(15, 15)), (std::array{127, 127, 109}));
    auto black = msx1_grey(0);
    black->palette.working.fill({300, 300, 300});
    black->palette.working[7] = {-20, -30, -40};
    reduce(*black);
    EXPECT_EQ(rgb(black->at(0, 0)), (std::array{-20, -30, -40}));
}
