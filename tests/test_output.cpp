// The VRAM image, the smoothing, and conversions in sequence.
#include <gtest/gtest.h>

#include "batch/output.hpp"
#include "support/conversion_fixture.hpp"

using namespace lumaweave;

// Whole pictures cover every address; these localize a slip in the arithmetic or the header.
TEST(VramLayout, AddressesHeaderAndNameTable) {
    EXPECT_EQ(vram::pattern_offset(9, 9), 7u + 256 + 8 + 1);
    EXPECT_EQ(vram::colour_offset(9, 9), 7u + 0x2000 + 256 + 8 + 1);
    EXPECT_EQ(vram::colour_offset(255, 191) + 1, 14343u);  // the file's last byte
    std::array<std::uint8_t, vram::file_size> image{};
    vram::finish_image(image.data());
    EXPECT_EQ(std::vector(image.begin(), image.begin() + 7),
              (std::vector<std::uint8_t>{0xFE, 0, 0, 0xFF, 0x37, 0, 0}));
    for (int i = 7; i < 14343; ++i)
        ASSERT_EQ(image[i], i >= 6151 && i < 6919 ? (i - 6151) % 256 : 0) << i;
}

// Rows 2-3 of every 4, in a flat 2x2 area (pixels within 4 per channel): a lone foreground
// pixel of a pair moves over when the other row holds none or two of it. Colours stay.
TEST(Smoothing, LoneForegroundPixelMovesToTheOtherPixelOfItsPair) {
    // Run, row, both rows' patterns, green added to pixel (run + 1, row + 1), patterns after.
    const int cases[][7] = {{0, 2, 0x80, 0x00, 0, 0x40, 0x00}, {8, 2, 0x20, 0x30, 0, 0x10, 0x30},
                            {0, 6, 0x00, 0x01, 0, 0x00, 0x02}, {0, 2, 0x80, 0x40, 0, 0x80, 0x40},
                            {0, 0, 0x80, 0x00, 0, 0x80, 0x00}, {0, 14, 0x80, 0x00, 0, 0x40, 0x00},
                            {0, 2, 0xA0, 0x00, 4, 0x50, 0x00}, {0, 2, 0xA0, 0x00, 5, 0x90, 0x00}};
    for (const auto& c : cases) {
        auto conv = test::flat_conversion(16, 16, {100, 100, 100});
        setup_palette(*conv, DefaultPalettes{}.msx1, std::nullopt);
        auto pattern = [&](int dy) -> std::uint8_t& {
            return conv->vram[vram::pattern_offset(c[0], c[1] + dy)];
        };
        pattern(0) = static_cast<std::uint8_t>(c[2]);
        pattern(1) = static_cast<std::uint8_t>(c[3]);
        conv->work[(c[1] + 1) * max_width + c[0] + 1].g += c[4];
        conv->vram[vram::colour_offset(c[0], c[1])] = 0xF4;
        render_output(*conv);
        EXPECT_EQ((std::array<int, 3>{pattern(0), pattern(1),
                                      conv->vram[vram::colour_offset(c[0], c[1])]}),
                  (std::array{c[5], c[6], 0xF4}))
            << c[0] << "," << c[1];
    }
}

// Nothing of one conversion leaks into the next: after a larger picture, a small one gives the
// bytes it gives alone. The export picture is twice the working size.
TEST(ConversionSequence, SmallPictureAfterALargeOneGivesTheSameBytesAsAlone) {
    test::ScratchDir dir;
    test::write_file(dir / "small.bmp", test::make_noise_bmp(16, 16, 31));
    test::write_file(dir / "large.bmp", test::make_noise_bmp(64, 48, 30));
    ScratchPool pool;
    for (const ConversionSettings& s :
         {ConversionSettings{.color_no0 = 1, .hue = 3, .index_0 = 0},
          ConversionSettings{.vertical_error_ratio = 5, .lumi_sort = 0, .hue = -2, .index_0 = 0}}) {
        auto alone = make_conversion(), reused = make_conversion();
        for (auto [conv, name] : {std::pair{alone.get(), "small.bmp"},
                                  {reused.get(), "large.bmp"},
                                  {reused.get(), "small.bmp"}})
            ASSERT_EQ(convert_file(*conv, pool, (dir / name).string(), s, {}), "") << name;
        EXPECT_EQ(reused->vram, alone->vram) << "hue " << s.hue;
        EXPECT_EQ(reused->preview, alone->preview) << "hue " << s.hue;
        EXPECT_EQ(reused->export_image, alone->export_image) << "hue " << s.hue;
        EXPECT_EQ(build_export_image(*reused), 54u + 32 * 96);
    }
}
