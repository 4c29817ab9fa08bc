// Bounds, saturation and tie rules of the stages before the fitting, and of the smoothing, that
// the golden pictures do not reach: small pictures with expected values worked out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <tuple>

#include "convert/large_memory.hpp"
#include "support/stages.hpp"

using namespace lumaweave;
using test::grey;

namespace {

std::array<int, 3> rgb(const Pixel& p) {
    return {p.r, p.g, p.b};
}
std::array<int, 3> rgb(const Rgb& c) {
    return {c.r, c.g, c.b};
}

std::unique_ptr<test::Stages> flat(int v, const ConversionSettings& s = {}) {
    return test::stages_with(
        16, 16, [v](int, int) { return grey(v); }, s);
}

}  // namespace

// The edge measure's log scale, 32 ln s, is capped at 511; gamma keeps 0 and 255 (luminance 55
// takes T(1)); Index and ColorD clamp to 0..255.
TEST(Adjustments, EndsOfTheScales) {
    EXPECT_EQ(std::tuple(edge_log(1), edge_log(130049 * 2 / 6 + 1), edge_log(INT_MAX)),
              std::tuple(0, 341, 511));
    // The stepped scale gives the logarithm's value for every sum the measures can make (up to
    // 6 * 255 * 255 * 4 / 6 + 1) and for a spread of larger ones.
    for (std::int32_t s = 1; s <= 260101; ++s)
        ASSERT_EQ(edge_log(s), edge_log_computed(s)) << s;
    for (std::int64_t s = 260101; s <= INT_MAX; s += 7919)
        ASSERT_EQ(edge_log(static_cast<std::int32_t>(s)),
                  edge_log_computed(static_cast<std::int32_t>(s)))
            << s;
    EXPECT_EQ(gamma_table(-10)[1], 0);
    void (*passes[])(const ConversionSettings&, WorkImage&) = {adjust_gamma, adjust_index,
                                                               adjust_color_d};
    // Pass (Gamma, Index on R and B, ColorD), value, pixel (4, 4) amid grey 50 before and after.
    const int cases[][8] = {{0, 8, 0, 0, 5, 0, 0, 9},
                            {0, 8, 255, 0, 0, 255, 0, 0},
                            {1, 1, 250, 100, 100, 255, 100, 106},
                            {2, 14, 0, 200, 0, 0, 255, 0}};
    for (const auto& c : cases) {
        const int g = c[0] == 0 ? c[1] : 0, i = c[0] == 1, d = c[0] == 2 ? c[1] : 0;
        auto st = flat(50, {.gamma = g, .index_r = i, .index_b = i, .color_d = d});
        Pixel& p = st->at(4, 4);
        p = {c[2], c[3], c[4], 0};
        passes[c[0]](st->settings, st->work);
        EXPECT_EQ(rgb(p), (std::array{c[5], c[6], c[7]})) << "pass " << c[0] << " on " << c[2];
    }
}

// Table values clamped to 0..7 and scaled by 255 / 7 give the display colour; the working one is
// (255 g s + 255 (8 - g) o) / 56 with g = 2 Hue (or Hue when negative), o the table value and s
// the searched one: one step darker with the "0" box, and on black, where every candidate scores
// the same, the first, (-1, -1, -1); a candidate equal to another colour is skipped. Colours 0,
// 15 and 1 (unless from a companion) are not searched.
TEST(Palette, HueSearchTiesSkipsAndClamps) {
    const PaletteTable msx1 = DefaultPalettes{}.msx1;
    PaletteTable saturated = msx1, twins = msx1;  // saturated: a clamped configuration number
    std::tie(saturated[9], saturated[10], saturated[11]) = std::tuple(INT32_MAX, -3, 4);
    for (int c = 0; c < 3; ++c)
        twins[3 * 2 + c] = twins[3 * 3 + c] = 3;
    PaletteTable companion{};  // colour 1 (1, 1, 1), 5 (0, 7, 0), 15 white, the others (4, 4, 4)
    for (int i = 3; i < 48; ++i)
        companion[i] = i < 6 ? 1 : i < 45 ? 4 : 7;
    std::tie(companion[15], companion[16], companion[17]) = std::tuple(0, 7, 0);
    const auto palette = [](int hue, int index_0, const PaletteTable& table,
                            const std::optional<PaletteTable>& with) {
        const ConversionSettings s{.hue = hue, .index_0 = index_0};
        return setup_palette(s, flat(0, s)->work, table, with);
    };
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
        const PaletteSet p = palette(c[0], c[1], table, with);
        const Rgb& w = p.working[c[3]];
        EXPECT_EQ(rgb(w), (std::array{c[4], c[5], c[6]})) << "hue " << c[0] << " colour " << c[3];
        EXPECT_EQ(rgb(p.display[c[3]]), rgb(palette(0, 0, table, with).working[c[3]]));
        EXPECT_EQ(p.luminance[c[3]], 30 * w.r + 59 * w.g + 11 * w.b);
    }
}

// Index of the pair (a, b), a < b, among the 120 pairs in order (0,1), (0,2) .. (14,15).
constexpr int pair_index(int a, int b) {
    return a * 15 - a * (a - 1) / 2 + b - a - 1;
}

// The entry of least score ((distance to a x weight a + to b x weight b) >> 9, plus the distance
// to the blend), the first of equal ones, gives a pixel its colour exactly and unclamped, except
// on edges of strength 255.
TEST(ColorReduction, FirstLeastEntryWinsBelowTheStrongestEdges) {
    // Dark Color, Brightness, grey level of the pixel, winning entry (score in the comment).
    const int cases[][4] = {{0, 1, 0, 0},                     // 0
                            {0, 1, 255, 135},                 // 0: pure colour 15, after the blends
                            {0, 1, 127, pair_index(12, 13)},  // 3573
                            {0, 1, 20, 120},                  // 3500: pure colour 0
                            {1, 1, 20, 0},                    // 3325: the blend of 0 and 1
                            {0, 0, 20, 120}};                 // 1500
    for (const auto& c : cases) {
        const ConversionSettings s{.brightness = c[1], .dark_color = c[0]};
        auto st = flat(c[2], s);
        st->maps.edge[2 * max_width + 3] = 255;
        st->maps.edge[2 * max_width + 4] = 254;
        reduce_colors(s, st->palette, st->maps, st->work);
        const Rgb want = build_mix_list(st->palette.working, s).entries[c[3]].color;
        EXPECT_EQ(rgb(st->at(4, 2)), rgb(want)) << "grey " << c[2] << " dark " << c[0];
        EXPECT_EQ(rgb(st->at(3, 2)), rgb(Rgb{c[2], c[2], c[2]}));
    }
    auto black = flat(0);
    black->palette.working.fill({300, 300, 300});
    black->palette.working[7] = {-20, -30, -40};
    reduce_colors(black->settings, black->palette, black->maps, black->work);
    EXPECT_EQ(rgb(black->at(0, 0)), (std::array{-20, -30, -40}));
}

// Luminances 0 (colours 0, 1), 15207 (2), 18807 (3), 18200 (14), 25500 (15). Excluded: darkest
// below darker than brightest above, or with "Optimizat" a smaller sum below; never U over U;
// nothing without "Lumi Sort".
TEST(ExclusionTable, LumiSortRules) {
    // Optimizat, upper pair, lower pair, excluded.
    const int cases[][4] = {{0, 0x2E, 0x1F, 1}, {0, 0x01, 0x1F, 0}, {0, 0x3E, 0x2F, 1},
                            {0, 0x2E, 0x3F, 0}, {1, 0x2E, 0x1F, 1}, {1, 0x3E, 0x2F, 0},
                            {1, 0x01, 0x1F, 0}, {1, 0x1F, 0x01, 1}};
    for (const auto& c : cases) {
        auto st = flat(0, {.optimization = c[0]});
        const auto& excluded = st->tables.excluded;
        build_fitting_tables(st->settings, st->palette, st->tables);
        EXPECT_EQ(excluded[c[1] * 256 + c[2]], c[3]) << std::hex << c[1] << " over " << c[2];
        for (int u = 0; u < 256; ++u)
            ASSERT_EQ(excluded[u * 257], 0) << u;
        st->settings.lumi_sort = 0;  // built again in the same tables
        build_fitting_tables(st->settings, st->palette, st->tables);
        EXPECT_EQ(std::count(excluded.begin(), excluded.end(), 0), 65536);
    }
}

// Rows 2-3 of every 4, in a flat 2x2 area (pixels within 4 per channel): a lone foreground
// pixel of a pair moves over when the other row holds none or two of it. Colours stay.
TEST(Smoothing, LoneForegroundPixelMovesToTheOtherPixelOfItsPair) {
    // Run, row, both rows' patterns, green added to pixel (run + 1, row + 1), patterns after.
    const int cases[][7] = {{0, 2, 0x80, 0x00, 0, 0x40, 0x00}, {8, 2, 0x20, 0x30, 0, 0x10, 0x30},
                            {0, 6, 0x00, 0x01, 0, 0x00, 0x02}, {0, 2, 0x80, 0x40, 0, 0x80, 0x40},
                            {0, 0, 0x80, 0x00, 0, 0x80, 0x00}, {0, 14, 0x80, 0x00, 0, 0x40, 0x00},
                            {0, 2, 0xA0, 0x00, 4, 0x50, 0x00}, {0, 2, 0xA0, 0x00, 5, 0x90, 0x00}};
    std::vector<std::uint8_t> preview(preview_bytes);
    for (const auto& c : cases) {
        auto st = flat(100);
        auto pattern = [&](int dy) -> std::uint8_t& {
            return st->vram[vram::pattern_offset(c[0], c[1] + dy)];
        };
        pattern(0) = static_cast<std::uint8_t>(c[2]);
        pattern(1) = static_cast<std::uint8_t>(c[3]);
        st->at(c[0] + 1, c[1] + 1).g += c[4];
        st->vram[vram::colour_offset(c[0], c[1])] = 0xF4;
        render_output(st->palette, st->work, st->vram_image(), PreviewImage(preview));
        EXPECT_EQ(
            (std::array<int, 3>{pattern(0), pattern(1), st->vram[vram::colour_offset(c[0], c[1])]}),
            (std::array{c[5], c[6], 0xF4}))
            << c[0] << "," << c[1];
    }
}

// The buffers' memory: small sizes from the heap, large ones in whole huge pages on Linux; every
// byte asked for is writable and keeps what was written, and each size is given back whole
// (AddressSanitizer and the kernel would catch a wrong length or start).
TEST(LargeMemory, EverySizeIsWholeAndAligned) {
    constexpr std::size_t mib = std::size_t{1} << 20;
    for (const std::size_t size :
         {std::size_t{1}, std::size_t{4096}, 2 * mib - 1, 2 * mib, 2 * mib + 1, 7 * mib + 12345}) {
        SCOPED_TRACE(size);
        auto* p = static_cast<unsigned char*>(allocate_large(size));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(std::max_align_t), 0u);
        for (std::size_t at = 0; at < size; at += 4093)
            p[at] = static_cast<unsigned char>(at * 7);
        p[size - 1] = 0xA5;
        for (std::size_t at = 0; at + 1 < size; at += 4093)
            ASSERT_EQ(p[at], static_cast<unsigned char>(at * 7));
        EXPECT_EQ(p[size - 1], 0xA5);
        release_large(p, size);
    }
    LargeArray<std::int64_t> a(300000);
    a[0] = -1;
    a[299999] = 1;
    EXPECT_EQ(a[0] + a[299999], 0);
    EXPECT_EQ(&a[299999] - a.get(), 299999);
}
