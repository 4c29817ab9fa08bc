// The working palette, the display palette and the palette luminance, with the "Hue" search.
#include <gtest/gtest.h>

#include <tuple>

#include "support/conversion_fixture.hpp"

using namespace lumaweave;

// The palette of a conversion of a black 16x16 picture.
static PaletteSet palette_of(int hue, int index_0, const PaletteTable& table,
                             const std::optional<PaletteTable>& companion = {}) {
    const ConversionSettings s{.hue = hue, .index_0 = index_0};
    return setup_palette(s, test::flat_stages(16, 16, {0, 0, 0}, s)->work, table, companion);
}

static std::array<int, 3> rgb(const Rgb& c) {
    return {c.r, c.g, c.b};
}

// Table values, clamped to 0..7 and scaled by 255 / 7 (truncated), give the display colour and
// the working one at Hue 0; else (255 g s + 255 (8 - g) o) / 56 with g = 2 Hue (or Hue when
// negative), o the table value and s the searched one: one step darker with the "0" box, and on
// black, where every candidate scores the same, the first, (-1, -1, -1); a candidate equal to
// another colour is skipped. Colours 0, 15 and 1 (unless from a companion) are not searched.
TEST(Palette, HueExamples) {
    const PaletteTable msx1 = DefaultPalettes{}.msx1;
    PaletteTable saturated = msx1, twins = msx1;  // saturated: a clamped configuration number
    std::tie(saturated[9], saturated[10], saturated[11]) = std::tuple(INT32_MAX, -3, 4);
    for (int c = 0; c < 3; ++c)
        twins[3 * 2 + c] = twins[3 * 3 + c] = 3;
    PaletteTable companion{};  // colour 1 (1, 1, 1), 5 (0, 7, 0), 15 white, the others (4, 4, 4)
    for (int i = 3; i < 48; ++i)
        companion[i] = i < 6 ? 1 : i < 45 ? 4 : 7;
    companion[15] = companion[17] = 0;
    companion[16] = 7;
    // Hue, "0" box, table (1: twins, 2: the companion, 3: saturated), colour, its working colour.
    const int cases[][7] = {{0, 0, 3, 3, 255, 0, 145},    {6, 1, 0, 2, 54, 127, 54},
                            {6, 1, 0, 1, 0, 0, 0},        {1, 1, 0, 2, 100, 173, 100},
                            {-1, 1, 0, 2, 113, 186, 113}, {6, 1, 2, 1, -18, -18, -18},
                            {6, 1, 2, 5, -54, 200, -54},  {6, 0, 0, 2, 54, 127, 54},
                            {6, 0, 1, 2, 54, 54, 54},     {6, 0, 1, 3, 54, 54, 109}};
    for (const auto& c : cases) {
        std::optional<PaletteTable> with;
        if (c[2] == 2) with = companion;
        const PaletteTable& table = c[2] == 1 ? twins : c[2] == 3 ? saturated : msx1;
        const PaletteSet p = palette_of(c[0], c[1], table, with);
        const Rgb& w = p.working[c[3]];
        EXPECT_EQ(rgb(w), (std::array{c[4], c[5], c[6]})) << "hue " << c[0] << " colour " << c[3];
        EXPECT_EQ(rgb(p.display[c[3]]), rgb(palette_of(0, 0, table, with).working[c[3]]));
        EXPECT_EQ(p.luminance[c[3]], 30 * w.r + 59 * w.g + 11 * w.b);
    }
}
