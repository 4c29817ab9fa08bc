// The VRAM image layout, the pixel-swap smoothing, the preview rendering, the export picture and
// output names, and whole conversions one after another.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "batch/output.hpp"
#include "convert/convert.hpp"
#include "formats/vram.hpp"
#include "io/config.hpp"
#include "support/conversion_fixture.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
using test::Color;

namespace {

struct Bgr {
    int b, g, r;
    bool operator==(const Bgr&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Bgr& c) {
    return out << "(b " << c.b << ", g " << c.g << ", r " << c.r << ")";
}

Bgr preview_pixel(const Conversion& conv, int x, int y) {
    const std::uint8_t* p = conv.preview.data() + 54 + y * 1536 + x * 3;
    return {p[0], p[1], p[2]};
}

// A flat 16x16 picture with the MSX1 display palette, ready for the last stage.
std::unique_ptr<Conversion> render_ready(Color c = {100, 100, 100}) {
    auto conv = test::flat_conversion(16, 16, c);
    setup_palette(*conv, DefaultPalettes{}.msx1, std::nullopt);
    conv->vram.fill(0);
    conv->preview.fill(0);
    return conv;
}

std::uint8_t& pattern(Conversion& conv, int x, int y) {
    return conv.vram[vram::pattern_offset(x, y)];
}
std::uint8_t& colour(Conversion& conv, int x, int y) {
    return conv.vram[vram::colour_offset(x, y)];
}

// Converts a picture file with the given settings in the given conversion object.
std::string convert_picture(Conversion& conv, const std::vector<std::uint8_t>& bmp,
                            const ConversionSettings& s, const std::string& name = "p.bmp") {
    test::ScratchDir dir;
    test::write_file(dir / name, bmp);
    ScratchPool pool;
    return convert_file(conv, pool, (dir / name).string(), s, DefaultPalettes{});
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// VRAM image layout

TEST(VramLayout, PatternAddressOfRowAndRun) {
    EXPECT_EQ(vram::pattern_address(0, 0), 0u);
    EXPECT_EQ(vram::pattern_address(7, 0), 0u);  // one byte per 8-pixel run
    EXPECT_EQ(vram::pattern_address(8, 0), 8u);
    EXPECT_EQ(vram::pattern_address(0, 1), 1u);
    EXPECT_EQ(vram::pattern_address(0, 7), 7u);
    EXPECT_EQ(vram::pattern_address(0, 8), 256u);
    EXPECT_EQ(vram::pattern_address(9, 9), 256u + 8u + 1u);
    EXPECT_EQ(vram::pattern_address(255, 191), 0x17FFu);
    EXPECT_EQ(vram::pattern_offset(9, 9), 7u + 265u);
    EXPECT_EQ(vram::colour_offset(9, 9), 7u + 0x2000u + 265u);
    EXPECT_EQ(vram::colour_offset(255, 191), 14342u);  // the file's last byte
    EXPECT_EQ(vram::file_size, 14343u);
}

TEST(VramLayout, FinishingWritesHeaderAndIdentityNameTable) {
    std::array<std::uint8_t, vram::file_size> image{};
    vram::finish_image(image.data());
    const std::array<std::uint8_t, 7> header{0xFE, 0x00, 0x00, 0xFF, 0x37, 0x00, 0x00};
    EXPECT_TRUE(std::equal(header.begin(), header.end(), image.begin()));
    for (int n = 0; n < 768; ++n)
        ASSERT_EQ(image[6151 + n], n % 256) << n;
    EXPECT_EQ(image[6151 + 256], 0x00);
    EXPECT_EQ(image[6151 + 767], 0xFF);
    EXPECT_TRUE(std::all_of(image.begin() + 7, image.begin() + 6151, [](int b) { return b == 0; }));
    EXPECT_TRUE(std::all_of(image.begin() + 6919, image.end(), [](int b) { return b == 0; }));
}

// A 16x16 picture writes the first 2 runs of the first 2 character rows and nothing else.
TEST(VramLayout, SmallPictureWritesOnlyItsArea) {
    auto conv = make_conversion();
    ASSERT_EQ(convert_picture(*conv, test::make_noise_bmp(16, 16, 1), {}), "");
    for (int y = 0; y < 192; ++y) {
        for (int x = 0; x < 256; x += 8) {
            const bool inside = x < 16 && y < 16;
            if (inside) {
                // "Color No.0" is "No", so no written colour byte can be 0.
                ASSERT_NE(conv->vram[vram::colour_offset(x, y)], 0) << x << "," << y;
            } else {
                ASSERT_EQ(conv->vram[vram::colour_offset(x, y)], 0) << x << "," << y;
                ASSERT_EQ(conv->vram[vram::pattern_offset(x, y)], 0) << x << "," << y;
            }
        }
    }
    for (int n = 0; n < 768; ++n)
        ASSERT_EQ(conv->vram[6151 + n], n % 256);
    EXPECT_EQ(conv->vram[0], 0xFE);
}

// Height 100 is converted as 96 rows: rows 96-191 stay empty.
TEST(VramLayout, CroppedRowsStayEmpty) {
    auto conv = make_conversion();
    ASSERT_EQ(convert_picture(*conv, test::make_noise_bmp(16, 100, 2), {}), "");
    for (int y = 0; y < 192; ++y) {
        ASSERT_EQ(conv->vram[vram::colour_offset(0, y)] != 0, y < 96) << y;
        ASSERT_EQ(conv->vram[vram::colour_offset(8, y)] != 0, y < 96) << y;
    }
}

TEST(VramLayout, FullSizePictureFillsEveryColourByte) {
    auto conv = make_conversion();
    ASSERT_EQ(convert_picture(*conv, test::make_flat_bmp(256, 192, {40, 40, 200}), {}), "");
    for (std::size_t i = 7 + 0x2000; i < vram::file_size; ++i) {
        ASSERT_NE(conv->vram[i], 0) << i;
    }
    const std::array<std::uint8_t, 7> header{0xFE, 0x00, 0x00, 0xFF, 0x37, 0x00, 0x00};
    EXPECT_TRUE(std::equal(header.begin(), header.end(), conv->vram.begin()));
}

// ---------------------------------------------------------------------------------------------
// Pixel-swap smoothing

// In a flat area, blocks of rows 2-3, 6-7, ... mirror a row holding one foreground pixel of a
// pair when the other row holds none or two.
TEST(Smoothing, LoneForegroundPixelMovesToTheOtherPixelOfItsPair) {
    auto conv = render_ready();
    pattern(*conv, 0, 2) = 0x80;  // pair 0: one pixel above, none below
    pattern(*conv, 0, 3) = 0x00;
    pattern(*conv, 8, 2) = 0x20;  // pair 1: one above, two below
    pattern(*conv, 8, 3) = 0x30;
    pattern(*conv, 0, 6) = 0x00;  // pair 3: none above, one below
    pattern(*conv, 0, 7) = 0x01;
    colour(*conv, 0, 2) = 0xF4;
    render_output(*conv);
    EXPECT_EQ(pattern(*conv, 0, 2), 0x40);
    EXPECT_EQ(pattern(*conv, 0, 3), 0x00);
    EXPECT_EQ(pattern(*conv, 8, 2), 0x10);
    EXPECT_EQ(pattern(*conv, 8, 3), 0x30);
    EXPECT_EQ(pattern(*conv, 0, 7), 0x02);
    EXPECT_EQ(colour(*conv, 0, 2), 0xF4);  // colours are never changed
}

TEST(Smoothing, OneForegroundPixelInEachRowIsLeftAlone) {
    auto conv = render_ready();
    pattern(*conv, 0, 2) = 0x80;  // diagonal
    pattern(*conv, 0, 3) = 0x40;
    pattern(*conv, 8, 2) = 0x08;  // vertical
    pattern(*conv, 8, 3) = 0x08;
    render_output(*conv);
    EXPECT_EQ(pattern(*conv, 0, 2), 0x80);
    EXPECT_EQ(pattern(*conv, 0, 3), 0x40);
    EXPECT_EQ(pattern(*conv, 8, 2), 0x08);
    EXPECT_EQ(pattern(*conv, 8, 3), 0x08);
}

TEST(Smoothing, OnlyRowsTwoAndThreeOfEveryFourAreSmoothed) {
    auto conv = render_ready();
    for (const int y : {0, 4, 8, 12}) {
        pattern(*conv, 0, y) = 0x80;
        pattern(*conv, 0, y + 1) = 0x00;
    }
    for (const int y : {2, 6, 10, 14})
        pattern(*conv, 0, y) = 0x80;
    render_output(*conv);
    for (const int y : {0, 4, 8, 12})
        EXPECT_EQ(pattern(*conv, 0, y), 0x80) << y;
    for (const int y : {2, 6, 10, 14})
        EXPECT_EQ(pattern(*conv, 0, y), 0x40) << y;
}

// A 2x2 area is flat when every two of its pixels differ by at most 4 in each channel.
TEST(Smoothing, ChannelSpreadOfFiveIsNotFlat) {
    for (const int spread : {4, 5}) {
        auto conv = render_ready();
        conv->work[3 * max_width + 1].g += spread;  // pair 0 of rows 2-3
        conv->work[3 * max_width + 3].b -= 5;       // pair 1: never flat
        pattern(*conv, 0, 2) = 0x80 | 0x20;
        render_output(*conv);
        EXPECT_EQ(pattern(*conv, 0, 2), (spread == 4 ? 0x40 : 0x80) | 0x20) << spread;
    }
}

// ---------------------------------------------------------------------------------------------
// Preview rendering

TEST(Preview, EveryPixelBecomesATwoByTwoBlockOfItsDisplayColour) {
    auto conv = render_ready();
    pattern(*conv, 8, 4) = 0x80;  // rows 4-5 are not smoothed
    colour(*conv, 8, 4) = 0xF4;   // foreground 15, background 4
    render_output(*conv);
    // MSX1 colour 15 (7, 7, 7) is white; colour 4 (3, 2, 7) is (109, 72, 255).
    for (const auto& [x, y] : {std::pair{16, 8}, {17, 8}, {16, 9}, {17, 9}}) {
        EXPECT_EQ(preview_pixel(*conv, x, y), (Bgr{255, 255, 255})) << x << "," << y;
    }
    for (const auto& [x, y] : {std::pair{18, 8}, {19, 9}, {31, 8}}) {
        EXPECT_EQ(preview_pixel(*conv, x, y), (Bgr{255, 72, 109})) << x << "," << y;
    }
    // Rows and runs with pattern and colour 0 show colour 0, black; beyond the picture stays black.
    EXPECT_EQ(preview_pixel(*conv, 16, 10), (Bgr{0, 0, 0}));
    EXPECT_EQ(preview_pixel(*conv, 40, 8), (Bgr{0, 0, 0}));
}

TEST(Preview, UsesTheDisplayPaletteNotTheWorkingOne) {
    auto conv = make_conversion();
    ConversionSettings s;
    s.hue = 6;  // the working palette moves, the display palette does not
    ASSERT_EQ(convert_picture(*conv, test::make_noise_bmp(16, 16, 4), s), "");
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const std::uint8_t pair = conv->vram[vram::colour_offset(x / 2, y / 2)];
            const std::uint8_t bits = conv->vram[vram::pattern_offset(x / 2, y / 2)];
            const int k = (bits & (0x80 >> ((x / 2) % 8))) ? pair >> 4 : pair & 15;
            const auto& c = conv->display[k];
            ASSERT_EQ(preview_pixel(*conv, x, y), (Bgr{c.b, c.g, c.r})) << x << "," << y;
        }
    }
    // Only the top-left 32 x 32 pixels hold the picture.
    for (int y = 0; y < 384; ++y) {
        for (int x = (y < 32 ? 32 : 0); x < 512; ++x) {
            ASSERT_EQ(preview_pixel(*conv, x, y), (Bgr{0, 0, 0})) << x << "," << y;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Export picture and names

TEST(ExportPicture, DoubleSizeBottomUpPictureOfThePreview) {
    auto conv = make_conversion();
    ASSERT_EQ(convert_picture(*conv, test::make_noise_bmp(16, 24, 6), {}), "");
    const std::size_t size = build_export_image(*conv);
    EXPECT_EQ(size, 54u + 48u * 96u);
    const std::uint8_t* image = conv->export_image.data();
    EXPECT_EQ(test::get32(image + 10), 54);
    EXPECT_EQ(test::get32(image + 18), 32);
    EXPECT_EQ(test::get32(image + 22), 48);
    for (int j = 0; j < 48; ++j) {
        ASSERT_TRUE(std::equal(image + 54 + j * 96, image + 54 + (j + 1) * 96,
                               conv->preview.data() + 54 + (47 - j) * 1536))
            << "row " << j;
    }
}

TEST(ExportPicture, FullSizeExportIs589878Bytes) {
    auto conv = make_conversion();
    conv->width = 256;
    conv->height = 192;
    EXPECT_EQ(build_export_image(*conv), 589878u);
    EXPECT_EQ(test::get32(conv->export_image.data() + 18), 512);
    EXPECT_EQ(test::get32(conv->export_image.data() + 22), 384);
}

TEST(OutputNames, ExtensionAndPrefixRules) {
    EXPECT_TRUE(is_bmp_name("a.BMP"));
    EXPECT_TRUE(is_bmp_name("c.bmp"));
    EXPECT_TRUE(is_bmp_name("d.bMp \t"));
    EXPECT_FALSE(is_bmp_name("b.txt"));
    EXPECT_FALSE(is_bmp_name("bmp"));
    EXPECT_FALSE(is_bmp_name("a.bmpx"));

    EXPECT_EQ(vram_name("a.BMP"), "a.S02");
    EXPECT_EQ(vram_name("C:\\x\\p.bmp"), "C:\\x\\p.S02");
    // The last four characters of the name as given go, trailing blanks included.
    EXPECT_EQ(vram_name("c.bmp "), "c..S02");

    EXPECT_EQ(export_name("C:\\x\\p.bmp"), "C:\\x\\TEST_p.bmp");
    EXPECT_EQ(export_name("C:\\pics\\cat.bmp"), "C:\\pics\\TEST_cat.bmp");
    EXPECT_EQ(export_name("p.bmp"), "TEST_p.bmp");
    EXPECT_EQ(export_name("p.BMP"), "TEST_p.bmp");
}

// ---------------------------------------------------------------------------------------------
// One conversion after another

// Nothing of one conversion leaks into the next: after a larger picture converted with a
// searched Hue, a small one gives the bytes it gives alone.
TEST(ConversionSequence, SmallPictureAfterALargeOneGivesTheSameBytesAsAlone) {
    for (const int hue : {3, -2}) {
        ConversionSettings s;
        s.hue = hue;
        s.index_0 = 0;
        s.color_no0 = 1;
        const std::vector<std::uint8_t> small = test::make_noise_bmp(16, 16, 31);

        auto alone = make_conversion();
        ASSERT_EQ(convert_picture(*alone, small, s), "");

        auto reused = make_conversion();
        ASSERT_EQ(convert_picture(*reused, test::make_noise_bmp(64, 48, 30), s), "");
        ASSERT_EQ(convert_picture(*reused, small, s), "");

        EXPECT_EQ(reused->vram, alone->vram) << "hue " << hue;
        EXPECT_EQ(reused->preview, alone->preview) << "hue " << hue;
        EXPECT_TRUE(std::equal(reused->export_image.begin(), reused->export_image.end(),
                               alone->export_image.begin()));
        for (int k = 0; k < 16; ++k) {
            EXPECT_EQ(reused->working[k].r, alone->working[k].r) << k;
            EXPECT_EQ(reused->working[k].g, alone->working[k].g) << k;
            EXPECT_EQ(reused->working[k].b, alone->working[k].b) << k;
        }
        for (int i = 0; i < image_slots; ++i) {
            const Pixel &a = reused->work[i], &b = alone->work[i];
            ASSERT_TRUE(a.r == b.r && a.g == b.g && a.b == b.b && a.w == b.w) << i;
        }
    }
}

// The same picture converted twice in one object gives the same bytes.
TEST(ConversionSequence, RepeatedConversionIsIdentical) {
    const std::vector<std::uint8_t> picture = test::make_noise_bmp(32, 16, 40);
    ConversionSettings s;
    s.vertical_error_ratio = 5;
    s.lumi_sort = 0;
    auto conv = make_conversion();
    ASSERT_EQ(convert_picture(*conv, picture, s), "");
    const auto first = conv->vram;
    ASSERT_EQ(convert_picture(*conv, picture, s), "");
    EXPECT_EQ(conv->vram, first);
}
