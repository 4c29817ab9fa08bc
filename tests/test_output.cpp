// The VRAM image, smoothing, preview, export picture and names, and conversions in sequence.
#include <gtest/gtest.h>

#include <algorithm>

#include "batch/output.hpp"
#include "support/conversion_fixture.hpp"

using namespace lumaweave;

// A flat 16x16 picture with the MSX1 palette, ready for the last stage.
static std::unique_ptr<Conversion> render_ready(int hue = 0) {
    ConversionSettings s;
    s.hue = hue;
    auto conv = test::flat_conversion(16, 16, {100, 100, 100}, s);
    setup_palette(*conv, DefaultPalettes{}.msx1, std::nullopt);
    return conv;
}

static std::uint8_t& pattern(Conversion& conv, int x, int y) {
    return conv.vram[vram::pattern_offset(x, y)];
}

static std::array<int, 3> preview_bgr(const Conversion& conv, int x, int y) {
    const std::uint8_t* p = conv.preview.data() + 54 + y * 1536 + x * 3;
    return {p[0], p[1], p[2]};
}

static std::string convert_picture(Conversion& conv, const std::vector<std::uint8_t>& bmp,
                                   const ConversionSettings& s = {}) {
    test::ScratchDir dir;
    test::write_file(dir / "p.bmp", bmp);
    ScratchPool pool;
    return convert_file(conv, pool, (dir / "p.bmp").string(), s, DefaultPalettes{});
}

TEST(VramLayout, AddressesHeaderAndNameTable) {
    const int addresses[][3] = {{0, 0, 0},   {7, 0, 0},   {8, 0, 8},         {0, 1, 1},
                                {0, 8, 256}, {9, 9, 265}, {255, 191, 0x17FF}};
    for (const auto& [x, y, address] : addresses)
        EXPECT_EQ(vram::pattern_address(x, y), static_cast<std::size_t>(address)) << x << "," << y;
    EXPECT_EQ(vram::pattern_offset(9, 9), 7u + 265u);
    EXPECT_EQ(vram::colour_offset(9, 9), 7u + 0x2000u + 265u);
    EXPECT_EQ(vram::colour_offset(255, 191) + 1, 14343u);  // the file's last byte

    std::array<std::uint8_t, vram::file_size> image{};
    vram::finish_image(image.data());
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(image[i], (std::array{0xFE, 0, 0, 0xFF, 0x37, 0, 0})[i]) << i;
    for (int i = 7; i < 14343; ++i)
        ASSERT_EQ(image[i], i >= 6151 && i < 6919 ? (i - 6151) % 256 : 0) << i;
}

// Rows 2-3 of every 4, in a flat 2x2 area (pixels within 4 per channel): a lone foreground
// pixel of a pair moves over when the other row holds none or two of it. Colours stay.
TEST(Smoothing, LoneForegroundPixelMovesToTheOtherPixelOfItsPair) {
    // Run, row, both rows' patterns, green added to pixel (run + 1, row + 1), patterns after.
    const int cases[][7] = {{0, 2, 0x80, 0x00, 0, 0x40, 0x00},  {8, 2, 0x20, 0x30, 0, 0x10, 0x30},
                            {0, 6, 0x00, 0x01, 0, 0x00, 0x02},  {0, 2, 0x80, 0x40, 0, 0x80, 0x40},
                            {8, 2, 0x08, 0x08, 0, 0x08, 0x08},  {0, 0, 0x80, 0x00, 0, 0x80, 0x00},
                            {0, 4, 0x80, 0x00, 0, 0x80, 0x00},  {0, 12, 0x80, 0x00, 0, 0x80, 0x00},
                            {0, 14, 0x80, 0x00, 0, 0x40, 0x00}, {0, 2, 0xA0, 0x00, 4, 0x50, 0x00},
                            {0, 2, 0xA0, 0x00, 5, 0x90, 0x00}};
    for (const auto& c : cases) {
        auto conv = render_ready();
        pattern(*conv, c[0], c[1]) = static_cast<std::uint8_t>(c[2]);
        pattern(*conv, c[0], c[1] + 1) = static_cast<std::uint8_t>(c[3]);
        conv->work[(c[1] + 1) * max_width + c[0] + 1].g += c[4];
        conv->vram[vram::colour_offset(c[0], c[1])] = 0xF4;
        render_output(*conv);
        EXPECT_EQ((std::array<int, 3>{pattern(*conv, c[0], c[1]), pattern(*conv, c[0], c[1] + 1),
                                      conv->vram[vram::colour_offset(c[0], c[1])]}),
                  (std::array{c[5], c[6], 0xF4}))
            << c[0] << "," << c[1];
    }
}

// Every pixel becomes a 2x2 block of its display colour (blue, green, red), not its working one
// which Hue 6 moves: colour 2 shows (109, 182, 109), not (54, 127, 54). Beyond stays black.
TEST(Preview, PixelsBecomeTwoByTwoBlocksOfTheirDisplayColour) {
    auto conv = render_ready(6);
    pattern(*conv, 8, 4) = 0x80;
    conv->vram[vram::colour_offset(8, 4)] = 0xF2;
    render_output(*conv);
    const std::array white{255, 255, 255}, green{109, 182, 109}, black{0, 0, 0};
    const std::tuple<int, int, std::array<int, 3>> cases[] = {
        {16, 8, white}, {17, 9, white},  {18, 8, green}, {19, 9, green},
        {31, 8, green}, {16, 10, black}, {40, 8, black}, {16, 40, black}};
    for (const auto& [x, y, bgr] : cases)
        EXPECT_EQ(preview_bgr(*conv, x, y), bgr) << x << "," << y;
}

// Twice the working size; names replace the last four characters of the name as given.
TEST(ExportPicture, SizeAndNames) {
    auto conv = make_conversion();
    conv->width = 256;
    conv->height = 192;
    EXPECT_EQ(build_export_image(*conv), 589878u);
    EXPECT_TRUE(is_bmp_name("d.bMp \t"));
    EXPECT_FALSE(is_bmp_name("a.bmpx"));
    EXPECT_EQ(vram_name("c.bmp "), "c..S02");
    EXPECT_EQ(export_name("C:\\x\\p.BMP"), "C:\\x\\TEST_p.bmp");
}

// Nothing of one conversion leaks into the next: after a larger picture, a small one gives the
// bytes it gives alone.
TEST(ConversionSequence, SmallPictureAfterALargeOneGivesTheSameBytesAsAlone) {
    for (const auto& [hue, ratio, lumi_sort] : {std::array{3, 8, 1}, {-2, 8, 1}, {0, 5, 0}}) {
        ConversionSettings s;
        s.hue = hue;
        s.index_0 = 0;
        s.color_no0 = 1;
        s.vertical_error_ratio = ratio;
        s.lumi_sort = lumi_sort;
        const std::vector<std::uint8_t> small = test::make_noise_bmp(16, 16, 31);
        auto alone = make_conversion(), reused = make_conversion();
        ASSERT_EQ(convert_picture(*alone, small, s), "");
        ASSERT_EQ(convert_picture(*reused, test::make_noise_bmp(64, 48, 30), s), "");
        ASSERT_EQ(convert_picture(*reused, small, s), "");
        EXPECT_EQ(reused->vram, alone->vram) << "hue " << hue;
        EXPECT_EQ(reused->preview, alone->preview) << "hue " << hue;
        EXPECT_EQ(reused->export_image, alone->export_image) << "hue " << hue;
        for (int i = 0; i < image_slots; ++i) {
            const Pixel &a = reused->work[i], &b = alone->work[i];
            ASSERT_TRUE(a.r == b.r && a.g == b.g && a.b == b.b && a.w == b.w) << i;
        }
    }
}
