// The VRAM image, the smoothing and the "TEST_" picture.
#include <gtest/gtest.h>

#include "formats/bmp.hpp"
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
    std::vector<std::uint8_t> preview(preview_bytes);
    for (const auto& c : cases) {
        auto st = test::flat_stages(16, 16, {100, 100, 100});
        st->msx1_palette();
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

// The "TEST_" picture is a standard BMP of the preview's 2 * width x 2 * height pixels, whatever
// the source's header held beside the fields it reads; the resolution is kept.
TEST(ExportPicture, AStandardDoubleSizeBmpOfThePreview) {
    Converter converter;
    const ConversionSettings quick{.block_noise = 0, .mix = 0};  // the export does not need them
    // 24 x 20: 16 of the 20 rows are converted, shown 48 x 32.
    for (auto [w, h] : {std::pair{24, 20}, {16, 16}, {256, 192}}) {
        const int ew = 2 * w, eh = 2 * (h - h % 8);
        std::vector<std::uint8_t> source = test::make_noise_bmp(w, h, 2);
        for (int at : {2, 6, 34, 38, 42, 46, 50})
            bmp::put_i32(&source[at], 1000 + at);
        bmp::put_i32(&source[14], 108);
        bmp::put_u16(&source[26], 0);
        const Result& r = converter.convert_bmp(source, quick);
        ASSERT_TRUE(r.ok());
        // A standard header, then the preview's rows bottom-up, blue, green, red.
        std::vector<std::uint8_t> expected = test::make_bmp(ew, eh, [&r](int x, int y) {
            const std::uint8_t* p = &r.preview[(std::size_t{1} * y * preview_width + x) * 3];
            return test::Color{p[0], p[1], p[2]};
        });
        for (int at : {38, 42})
            bmp::put_i32(&expected[at], 1000 + at);
        EXPECT_TRUE(r.export_bmp == expected) << w << " x " << h;
    }
}
