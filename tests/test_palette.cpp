// The working palette, the display palette and the palette luminance, with the "Hue" search.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "convert/convert.hpp"
#include "io/config.hpp"
#include "support/conversion_fixture.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
using test::Color;

namespace {

struct Rgb3 {
    int r, g, b;
    bool operator==(const Rgb3&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Rgb3& c) {
    return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}
Rgb3 rgb(const lumaweave::Rgb& c) {
    return {c.r, c.g, c.b};
}

ConversionSettings with_hue(int hue, int index_0) {
    ConversionSettings s;
    s.hue = hue;
    s.index_0 = index_0;
    return s;
}

// Sets up the palette of a conversion of a 16x16 picture of one colour.
std::unique_ptr<Conversion> palette_of(const ConversionSettings& s,
                                       const PaletteTable& table = DefaultPalettes{}.msx1,
                                       const std::optional<PaletteTable>& companion = {},
                                       Color picture = {0, 0, 0}) {
    auto conv = test::flat_conversion(16, 16, picture, s);
    setup_palette(*conv, table, companion);
    return conv;
}

}  // namespace

TEST(Palette, WithoutHueWorkingAndDisplayPalettesAreTheTableInSevenths) {
    auto conv = palette_of(ConversionSettings{});
    EXPECT_EQ(rgb(conv->working[2]), (Rgb3{109, 182, 109}));
    EXPECT_EQ(rgb(conv->working[15]), (Rgb3{255, 255, 255}));
    EXPECT_EQ(conv->luminance[15], 25500);
    EXPECT_EQ(conv->luminance[2], 15207);
    EXPECT_EQ(conv->luminance[0], 0);
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(rgb(conv->working[k]), rgb(conv->display[k])) << k;

    // Each step of the 0..7 scale is v * 255 / 7, truncated.
    PaletteTable ramp{};
    for (int k = 0; k < 16; ++k)
        ramp[3 * k] = k % 8;
    auto steps = palette_of(ConversionSettings{}, ramp);
    const int expected[8] = {0, 36, 72, 109, 145, 182, 218, 255};
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(steps->display[k].r, expected[k % 8]) << k;
}

TEST(Palette, TableValuesAreClampedTo0To7) {
    PaletteTable table = DefaultPalettes{}.msx1;
    table[3 * 2 + 0] = 9;
    table[3 * 2 + 1] = -3;
    auto conv = palette_of(ConversionSettings{}, table);
    EXPECT_EQ(rgb(conv->working[2]), (Rgb3{255, 0, 109}));
    EXPECT_EQ(rgb(conv->display[2]), (Rgb3{255, 0, 109}));
}

// A configuration number beyond 32 bits reads as the largest 32-bit value and then counts as 7.
TEST(Palette, OversizedConfigurationNumberEndsUpAs7) {
    std::string text = "* MSX1 palette 0,0,0 0,0,0 99999999999999,5,3";
    for (int k = 3; k < 16; ++k)
        text += " 1,1,1";
    PaletteTable table{};
    ASSERT_EQ(read_config_numbers(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                                  msx1_palette_key, table.data(), 48),
              2);
    EXPECT_EQ(table[6], INT32_MAX);
    auto conv = palette_of(ConversionSettings{}, table);
    EXPECT_EQ(rgb(conv->working[2]), (Rgb3{255, 182, 109}));
}

// The palette choice 2 means MSX2; any other value MSX1.
TEST(Palette, ChoiceTwoSelectsMsx2AndAnythingElseMsx1) {
    test::ScratchDir dir;
    test::write_file(dir / "p.bmp", test::make_flat_bmp(16, 16, {80, 80, 80}));
    auto conv = make_conversion();
    ScratchPool pool;
    for (const int choice : {1, 2, 0, 3}) {
        ConversionSettings s;
        s.palette = choice;
        ASSERT_EQ(convert_file(*conv, pool, (dir / "p.bmp").string(), s, DefaultPalettes{}), "");
        EXPECT_EQ(rgb(conv->display[2]), choice == 2 ? (Rgb3{36, 218, 36}) : (Rgb3{109, 182, 109}))
            << "choice " << choice;
    }
}

// With the "0" box every searched colour goes one step darker; positive Hue g = 2 Hue moves the
// working colour g/8 of the way: (255 * 12 * s + 255 * (8 - 12) * o) / 56.
TEST(Palette, HueSixWithIndexZeroDarkensTheWorkingPaletteOnly) {
    auto conv = palette_of(with_hue(6, 1));
    EXPECT_EQ(rgb(conv->working[2]), (Rgb3{54, 127, 54}));
    EXPECT_EQ(rgb(conv->display[2]), (Rgb3{109, 182, 109}));
    EXPECT_EQ(conv->luminance[2], 30 * 54 + 59 * 127 + 11 * 54);
    EXPECT_EQ(rgb(conv->working[0]), (Rgb3{0, 0, 0}));
    EXPECT_EQ(rgb(conv->working[1]), (Rgb3{0, 0, 0}));
    EXPECT_EQ(rgb(conv->working[15]), (Rgb3{255, 255, 255}));
    // MSX1 colour 14 (5, 5, 5): 255 * (12 * 4 - 4 * 5) / 56 = 127.
    EXPECT_EQ(rgb(conv->working[14]), (Rgb3{127, 127, 127}));
}

TEST(Palette, HueScalingFactorFollowsTheSignOfHue) {
    // Hue 1: g = 2, (255 * 2 * 2 + 255 * 6 * 3) / 56 = 100 and (255 * 2 * 4 + 255 * 6 * 5) / 56 =
    // 173.
    EXPECT_EQ(rgb(palette_of(with_hue(1, 1))->working[2]), (Rgb3{100, 173, 100}));
    // Hue -1: g = -1, 255 * (8 v + 1) / 56.
    EXPECT_EQ(rgb(palette_of(with_hue(-1, 1))->working[2]), (Rgb3{113, 186, 113}));
    // Hue -4: g = -4, 255 * (8 v + 4) / 56.
    EXPECT_EQ(rgb(palette_of(with_hue(-4, 1))->working[2]), (Rgb3{127, 200, 127}));
    EXPECT_EQ(rgb(palette_of(with_hue(-4, 1))->display[2]), (Rgb3{109, 182, 109}));
}

// A companion palette makes colour 1 searchable, and scaled values below 0 truncate toward 0.
TEST(Palette, CompanionPaletteAndNegativeWorkingValues) {
    PaletteTable companion{};
    for (int k = 2; k < 15; ++k)
        companion[3 * k] = companion[3 * k + 1] = companion[3 * k + 2] = 4;
    companion[3 * 1 + 0] = companion[3 * 1 + 1] = companion[3 * 1 + 2] = 1;
    companion[3 * 5 + 0] = 0;
    companion[3 * 5 + 1] = 7;
    companion[3 * 5 + 2] = 0;
    companion[3 * 15 + 0] = companion[3 * 15 + 1] = companion[3 * 15 + 2] = 7;

    auto conv = palette_of(with_hue(6, 1), DefaultPalettes{}.msx1, companion);
    // Colour 1 (1, 1, 1) -> s = 0: 255 * (-4) * 1 / 56 = -18.2.
    EXPECT_EQ(rgb(conv->working[1]), (Rgb3{-18, -18, -18}));
    EXPECT_EQ(rgb(conv->display[1]), (Rgb3{36, 36, 36}));
    // Colour 5 (0, 7, 0) -> s = (-1, 6, -1): -3060 / 56 = -54.6, 11220 / 56 = 200.4.
    EXPECT_EQ(rgb(conv->working[5]), (Rgb3{-54, 200, -54}));
    EXPECT_EQ(conv->luminance[5], 30 * -54 + 59 * 200 + 11 * -54);
    EXPECT_EQ(rgb(conv->working[15]), (Rgb3{255, 255, 255}));

    // Without a companion, colour 1 is never searched.
    EXPECT_EQ(rgb(palette_of(with_hue(6, 1))->working[1]), (Rgb3{0, 0, 0}));
}

// On a black picture colour 15 (7, 7, 7) already scores the largest distance any colour can
// reach, so every candidate of a position scores the same and the first (offset -1, -1, -1)
// wins: the search gives what the "0" box gives.
TEST(Palette, HueSearchKeepsTheFirstOfEqualScores) {
    auto searched = palette_of(with_hue(6, 0));
    auto darkened = palette_of(with_hue(6, 1));
    EXPECT_EQ(rgb(searched->working[2]), (Rgb3{54, 127, 54}));
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(rgb(searched->working[k]), rgb(darkened->working[k])) << k;
        EXPECT_EQ(rgb(searched->display[k]), rgb(darkened->display[k])) << k;
    }
}

// A candidate equal to another trial colour is skipped: colours 2 and 3 both (3, 3, 3); colour 2
// takes (2, 2, 2), so colour 3's first candidate is taken and it gets (2, 2, 3).
TEST(Palette, HueSearchSkipsCandidatesThatDuplicateAnotherColour) {
    PaletteTable table = DefaultPalettes{}.msx1;
    for (int c = 0; c < 3; ++c)
        table[3 * 2 + c] = table[3 * 3 + c] = 3;
    auto conv = palette_of(with_hue(6, 0), table);
    EXPECT_EQ(rgb(conv->working[2]), (Rgb3{54, 54, 54}));
    EXPECT_EQ(rgb(conv->working[3]), (Rgb3{54, 54, 109}));
    // MSX1 colour 4 (3, 2, 7) is unaffected: (2, 1, 6).
    EXPECT_EQ(rgb(conv->working[4]), (Rgb3{54, 18, 200}));
}
