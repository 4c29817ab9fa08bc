// What a new front end does: it includes lumaweave.hpp alone, holds a picture's pixels in memory
// and converts them. That must give what the program gives for a BMP file of the same pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "lumaweave.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;

namespace {

std::string file_of(const test::ScratchDir& dir, const test::RgbPicture& picture,
                    const std::string& name = "p.bmp") {
    test::write_file(dir / name, picture.bmp());
    return (dir / name).string();
}

}  // namespace

// Sizes whose height is not a multiple of 8 and position corrections among them.
TEST(PublicInterface, PixelsConvertToTheBytesOfTheirBmpFile) {
    test::ScratchDir dir;
    // Reused from picture to picture, after larger and refused ones, as a batch does: nothing of
    // one conversion may leak into the next.
    Converter converter;
    const struct {
        int width, height;
        ConversionSettings settings;
    } cases[] = {{32, 20, {}},
                 {40, 27, {.horizontal_position_correction = 3, .hue = 2}},
                 {264, 17, {.vertical_error_ratio = 5, .horizontal_position_correction = 7}},
                 {16, 16, {.color_no0 = 1, .mix = 0}}};
    for (const auto& [width, height, settings] : cases) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        const test::RgbPicture picture = test::make_noise(width, height, width + height);
        const Result from_pixels = lumaweave::convert(picture.pixels(), settings);
        const Result& from_file = converter.convert_file(file_of(dir, picture), settings);
        ASSERT_TRUE(from_pixels.ok() && from_file.ok()) << shown_text(from_pixels.outcome);
        const int shown_width = settings.horizontal_position_correction ? width - 8 : width;
        EXPECT_EQ(std::pair(from_pixels.width, from_pixels.height),
                  std::pair(shown_width, height / 8 * 8));
        EXPECT_TRUE(from_pixels.vram == from_file.vram);
        EXPECT_TRUE(from_pixels.preview == from_file.preview);
        EXPECT_TRUE(from_pixels.export_bmp == from_file.export_bmp);
        EXPECT_TRUE(from_pixels.source == from_file.source);
        EXPECT_EQ(from_pixels.display, from_file.display);
        // The source as the conversion took it converts, as it is, to the same bytes: what a
        // front end's trial conversions rely on.
        const PixelPicture taken{from_pixels.width, from_pixels.height, from_pixels.source};
        EXPECT_TRUE(converter.convert_cropped(taken, settings).vram == from_pixels.vram);
        EXPECT_FALSE(converter.convert_bmp({}).ok());
    }
}

// Each check refuses a picture in memory with the status its BMP file gets, and leaves an empty
// result; a file's failure names the file.
TEST(PublicInterface, RefusedPixelsGetTheStatusOfTheirBmpFile) {
    test::ScratchDir dir;
    const struct {
        int width, height;
        ConversionSettings settings;
        Status status;
    } cases[] = {{20, 16, {}, Status::width_not_multiple_of_8},
                 {264, 16, {}, Status::width_exceeds_256},
                 {272, 16, {.horizontal_position_correction = 1}, Status::width_exceeds_256},
                 {16, 200, {}, Status::height_exceeds_192},
                 {16, 8, {}, Status::image_too_small},
                 {8, 16, {}, Status::image_too_small},
                 {20, 16, {.hue = 7}, Status::invalid_settings},
                 {16, 16, {.palette = 3}, Status::invalid_settings}};
    Converter converter;
    for (const auto& [width, height, settings, status] : cases) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        const test::RgbPicture picture = test::make_noise(width, height, 1);
        const std::string path = file_of(dir, picture);
        const Result from_pixels = lumaweave::convert(picture.pixels(), settings);
        const Result& from_file = converter.convert_file(path, settings);
        for (const auto& [r, file] : {std::pair{&from_pixels, std::string()}, {&from_file, path}}) {
            EXPECT_EQ(std::pair(r->outcome.status, r->outcome.file), std::pair(status, file));
            EXPECT_TRUE(r->width == 0 && r->height == 0 && r->export_bmp.empty() &&
                        r->source.empty());
            EXPECT_TRUE(std::ranges::count(r->vram, 0) == 14343 &&
                        std::ranges::count(r->preview, 0) == 512 * 384 * 3);
        }
    }
    // Pixels that do not fill the picture's size.
    const test::RgbPicture picture = test::make_noise(16, 16, 1);
    const PixelPicture short_of_one{16, 16, std::span(picture.rgb).first(picture.rgb.size() - 1)};
    EXPECT_EQ(lumaweave::convert(short_of_one).outcome.status, Status::format_not_convertible);
}
