// "Col Reduction": the list of palette colours and blends, the scores and the snapping pass.
#include <gtest/gtest.h>

#include "convert/convert.hpp"
#include "io/config.hpp"
#include "support/conversion_fixture.hpp"

using namespace lumaweave;
using test::Color;

namespace {

// Index of the pair (a, b), a < b, among the 120 pairs in order (0,1), (0,2) .. (14,15).
int pair_index(int a, int b) {
    int index = 0;
    for (int i = 0; i < a; ++i)
        index += 15 - i;
    return index + b - a - 1;
}

Palette msx1_working() {
    auto conv = test::flat_conversion(16, 16, {0, 0, 0});
    setup_palette(*conv, DefaultPalettes{}.msx1, std::nullopt);
    return conv->working;
}

ConversionSettings settings(int ratio, int dark_color, int brightness = 1) {
    ConversionSettings s;
    s.vertical_error_ratio = ratio;
    s.dark_color = dark_color;
    s.brightness = brightness;
    return s;
}

struct Entry {
    int r, g, b, a, pb, wa, wb;
    bool operator==(const Entry&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Entry& e) {
    return out << "colour (" << e.r << ", " << e.g << ", " << e.b << ") pair " << e.a << "/" << e.pb
               << " weights " << e.wa << "/" << e.wb;
}
Entry entry(const MixList& list, int i) {
    const MixEntry& e = list.entries[static_cast<std::size_t>(i)];
    return {e.color.r, e.color.g, e.color.b, e.a, e.b, e.weight_a, e.weight_b};
}

MixChoice choose(const MixList& list, const Palette& pal, Color c, int brightness = 1) {
    return best_mix_entry(list, pal, brightness != 0, Pixel{c.r, c.g, c.b, 0});
}

}  // namespace

TEST(MixList, RatioEightHasOneHalfBlendPerPairThenThePureColours) {
    const Palette pal = msx1_working();
    const MixList list = build_mix_list(pal, settings(8, 0));
    ASSERT_EQ(list.count, 136);
    // MSX1 colours 12 (72, 145, 36) and 13 (182, 109, 182).
    EXPECT_EQ(entry(list, pair_index(12, 13)), (Entry{127, 127, 109, 12, 13, 64, 64}));
    EXPECT_EQ(entry(list, pair_index(14, 15)), (Entry{218, 218, 218, 14, 15, 64, 64}));
    for (int n = 0; n < 16; ++n) {
        const Entry e = entry(list, 120 + n);
        EXPECT_EQ(e, (Entry{pal[n].r, pal[n].g, pal[n].b, n, n, 64, 64})) << n;
    }
}

TEST(MixList, OtherRatiosHaveThreeBlendsPerPairInOrder) {
    for (const int ratio : {0, 4, 7}) {
        EXPECT_EQ(build_mix_list(msx1_working(), settings(ratio, 0)).count, 376) << ratio;
    }
    const MixList list = build_mix_list(msx1_working(), settings(7, 0));
    const int first = 3 * pair_index(12, 13);
    EXPECT_EQ(entry(list, first), (Entry{154, 118, 145, 12, 13, 96, 32}));  // 75 % colour 13
    EXPECT_EQ(entry(list, first + 1), (Entry{127, 127, 109, 12, 13, 64, 64}));
    EXPECT_EQ(entry(list, first + 2), (Entry{99, 136, 72, 12, 13, 32, 96}));  // 75 % colour 12
    EXPECT_EQ(entry(list, 360), (Entry{0, 0, 0, 0, 0, 64, 64}));
}

// Blends with colour 0 weigh the distance to black up ("Dark Color" off) or the distance to the
// other colour down (on); the pure colour 0 keeps its weights.
TEST(MixList, BlendsWithBlackGetTheDarkColourWeights) {
    const Palette pal = msx1_working();
    const MixList off = build_mix_list(pal, settings(8, 0));
    const MixList on = build_mix_list(pal, settings(8, 1));
    for (int b = 1; b < 16; ++b) {
        EXPECT_EQ(off.entries[static_cast<std::size_t>(pair_index(0, b))].weight_a, 256);
        EXPECT_EQ(off.entries[static_cast<std::size_t>(pair_index(0, b))].weight_b, 2);
        EXPECT_EQ(on.entries[static_cast<std::size_t>(pair_index(0, b))].weight_a, 64);
        EXPECT_EQ(on.entries[static_cast<std::size_t>(pair_index(0, b))].weight_b, 32);
    }
    EXPECT_EQ(entry(off, pair_index(1, 2)).wa, 64);
    EXPECT_EQ(entry(off, 120).wa, 64);
    EXPECT_EQ(entry(off, 120).wb, 64);

    const MixList off7 = build_mix_list(pal, settings(7, 0));
    const MixList on7 = build_mix_list(pal, settings(7, 1));
    const int first = 3 * pair_index(0, 15);
    EXPECT_EQ(entry(off7, first), (Entry{191, 191, 191, 0, 15, 384, 1}));
    EXPECT_EQ(entry(off7, first + 1), (Entry{127, 127, 127, 0, 15, 256, 2}));
    EXPECT_EQ(entry(off7, first + 2), (Entry{63, 63, 63, 0, 15, 128, 3}));
    EXPECT_EQ(entry(on7, first), (Entry{191, 191, 191, 0, 15, 96, 16}));
    EXPECT_EQ(entry(on7, first + 1), (Entry{127, 127, 127, 0, 15, 64, 32}));
    EXPECT_EQ(entry(on7, first + 2), (Entry{63, 63, 63, 0, 15, 32, 48}));
}

TEST(MixList, BlendsShiftArithmetically) {
    Palette pal{};
    pal[2] = {-53, -7, 9};
    pal[3] = {0, 0, 0};
    const MixList half = build_mix_list(pal, settings(8, 0));
    EXPECT_EQ(entry(half, pair_index(2, 3)), (Entry{-27, -4, 4, 2, 3, 64, 64}));
    const MixList thirds = build_mix_list(pal, settings(7, 0));
    // (6 * 0 + 2 * -53) >> 3 = -106 >> 3 = -14; (6 * -53) >> 3 = -318 >> 3 = -40.
    EXPECT_EQ(entry(thirds, 3 * pair_index(2, 3)).r, -14);
    EXPECT_EQ(entry(thirds, 3 * pair_index(2, 3) + 2).r, -40);
}

TEST(MixScore, PixelOnAPaletteColourScoresZero) {
    const Palette pal = msx1_working();
    const MixList list = build_mix_list(pal, settings(8, 0));
    // Black matches the blend of colours 0 and 1 (both black), the first entry.
    const MixChoice black = choose(list, pal, {0, 0, 0});
    EXPECT_EQ(black.index, 0);
    EXPECT_EQ(black.score, 0);
    const MixChoice white = choose(list, pal, {255, 255, 255});
    EXPECT_EQ(white.index, 135);
    EXPECT_EQ(white.score, 0);
}

// Grey 127 takes the blend of colours 12 and 13: ((15627 + 10371) * 64 >> 9) + 324 = 3573.
TEST(MixScore, GreyTakesTheBlendOfColours12And13) {
    const Palette pal = msx1_working();
    const MixList list = build_mix_list(pal, settings(8, 0));
    const MixChoice grey = choose(list, pal, {127, 127, 127});
    EXPECT_EQ(grey.index, pair_index(12, 13));
    EXPECT_EQ(grey.score, 3573);
}

// Pixel (20, 20, 20): distance 2800 to black. "Dark Color" off: the 0/1 blend scores
// (2800 * 256 + 2800 * 2) >> 9 + 2800 = 4210, the pure colour 0 wins with 3500 (before the pure
// colour 1, which scores the same); on: the blend scores 525 + 2800 = 3325 and wins.
TEST(MixScore, DarkColourDecidesBetweenBlackAndItsBlends) {
    const Palette pal = msx1_working();
    const MixChoice off = choose(build_mix_list(pal, settings(8, 0)), pal, {20, 20, 20});
    EXPECT_EQ(off.index, 120);
    EXPECT_EQ(off.score, 3500);
    const MixChoice on = choose(build_mix_list(pal, settings(8, 1)), pal, {20, 20, 20});
    EXPECT_EQ(on.index, 0);
    EXPECT_EQ(on.score, 3325);
    // Unweighted distances: 1200, so the pure colour 0 scores 300 + 1200.
    const MixChoice plain =
        choose(build_mix_list(pal, settings(8, 0, 0)), pal, {20, 20, 20}, /*brightness=*/0);
    EXPECT_EQ(plain.index, 120);
    EXPECT_EQ(plain.score, 1500);
}

// Every pixel takes its winner's colour exactly, except those with edge strength 255.
TEST(ColorReduction, SnapsPixelsBelowTheStrongestEdges) {
    auto conv = test::flat_conversion(16, 16, {127, 127, 127});
    setup_palette(*conv, DefaultPalettes{}.msx1, std::nullopt);
    conv->edge_map.fill(0);
    conv->edge_map[2 * max_width + 3] = 255;
    conv->edge_map[2 * max_width + 4] = 254;
    reduce_colors(*conv);
    auto at = [&](int x, int y) {
        const Pixel& p = conv->work[y * max_width + x];
        return std::array<int, 3>{p.r, p.g, p.b};
    };
    EXPECT_EQ(at(3, 2), (std::array<int, 3>{127, 127, 127}));
    EXPECT_EQ(at(4, 2), (std::array<int, 3>{127, 127, 109}));
    EXPECT_EQ(at(0, 0), (std::array<int, 3>{127, 127, 109}));
    EXPECT_EQ(at(15, 15), (std::array<int, 3>{127, 127, 109}));

    ConversionSettings off;
    off.col_reduction = 0;
    auto untouched = test::flat_conversion(16, 16, {127, 127, 127}, off);
    setup_palette(*untouched, DefaultPalettes{}.msx1, std::nullopt);
    untouched->edge_map.fill(0);
    reduce_colors(*untouched);
    EXPECT_EQ(untouched->work[0].b, 127);
}

// The winning colour is not clamped: a working palette beyond 0..255 shows in the picture.
TEST(ColorReduction, WinnerIsTakenUnclamped) {
    auto conv = test::flat_conversion(16, 16, {0, 0, 0});
    for (auto& c : conv->working)
        c = {300, 300, 300};
    conv->working[7] = {-20, -30, -40};
    conv->edge_map.fill(0);
    reduce_colors(*conv);
    EXPECT_EQ(conv->work[0].r, -20);
    EXPECT_EQ(conv->work[0].g, -30);
    EXPECT_EQ(conv->work[0].b, -40);
}
