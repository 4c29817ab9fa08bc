// The VRAM image and the smoothing.
#include <gtest/gtest.h>

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
