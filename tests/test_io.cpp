#include <gtest/gtest.h>

#include "convert/convert.hpp"
#include "io/messages.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;

// The smallest accepted picture goes through every stage and yields a complete VRAM image.
TEST(ConvertFile, SmallFlatPictureGivesCompleteImage) {
    test::ScratchDir dir;
    test::write_file(dir / "p.bmp", test::make_flat_bmp(16, 16, {255, 255, 255}));
    auto conv = make_conversion();
    ScratchPool pool;
    ASSERT_EQ(convert_file(*conv, pool, (dir / "p.bmp").string(), ConversionSettings{},
                           DefaultPalettes{}),
              "");
    EXPECT_EQ(conv->vram[0], 0xFE);
    EXPECT_EQ(conv->vram[7 + 0x1800 + 767], 0xFF);
    EXPECT_EQ(convert_file(*conv, pool, (dir / "none.bmp").string(), ConversionSettings{},
                           DefaultPalettes{}),
              msg::file_not_found);
}
