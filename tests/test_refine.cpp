// The block-noise refinement: the bounds of tests A and B, and of its choice between the best
// single-colour and the best patterned answer.
#include <gtest/gtest.h>

#include <tuple>

#include "support/fitting_fixture.hpp"

using namespace lumaweave;
using test::BlockBytes;
using test::grey;

// White block 0 gets (0x1F, 0x1F); block 1 moves its only exact entry (0x8F, 0x8F) to the front,
// which a re-fit of block 0 takes. Result weights 319, source weights too but at (3, 1). Test A
// runs with "Block Noise", or with "Mix" (ratio 8 and "Lumi Sort").
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

// Colours 0, 1 black, 2..15 white: dark block 0 gets entry 0 (0x01, 0x01); block 1 moves (0x02,
// 0x02) to the front, which a re-fit takes. Test B ("Mix" out of column mode) needs three columns
// whose two pixels' differences from black add up to more than 64, and whose source weights (255,
// but 254 at pixel `heavy`) lie 64 below the result's.
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
// nearer to the white the other pixels receive. The limit is 150 x 16 / 15 = 160.
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
}

// Block 0, of weight 0, gets entry 0 (0x12, 0x12); re-fitted it meets block 1's (0x1F, 0x1F)
// first (patterned, 0), then (0x12, 0x12) (solid, 0): recorded, and 0 >= 0 x 16 / 15.
TEST(Refinement, SolidEntryAtTheBestPatternedErrorCounts) {
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
