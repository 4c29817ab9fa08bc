// What a front end does: it includes lumaweave.hpp alone, holds a picture's pixels in memory
// and converts them. That must give what the program gives for a BMP file of the same pixels,
// success or refusal.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "formats/bmp.hpp"
#include "formats/s05.hpp"
#include "fuzz/harness.hpp"

using namespace lumaweave;

namespace {

void put(std::vector<std::uint8_t>& file, std::size_t at, std::int64_t v) {
    bmp::put_i32(&file[at], static_cast<std::int32_t>(v));
}

}  // namespace

// Sizes whose height is not a multiple of 8 and position corrections among them (one leaving 8
// columns). The file's header holds odd values in the fields the reader ignores, which the "TEST_"
// picture must not copy. The file's conversion follows the fuzz targets' rules.
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
                 {16, 16, {.color_no0 = 1, .mix = 0}},
                 {16, 16, {.horizontal_position_correction = 5, .block_noise = 0}}};
    for (const auto& [width, height, settings] : cases) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        const test::RgbPicture picture = test::make_noise(width, height, width + height);
        std::vector<std::uint8_t> file = picture.bmp();
        for (int at : {2, 6, 34, 46, 50})
            put(file, at, 1000 + at);
        put(file, 14, 108);
        bmp::put_u16(&file[26], 0);
        test::write_file(dir / "p.bmp", file);
        const Result from_pixels = lumaweave::convert(picture.pixels(), settings);
        const Result& from_file = converter.convert_file((dir / "p.bmp").string(), settings);
        ASSERT_TRUE(from_pixels.ok() && from_file.ok()) << shown_text(from_pixels.outcome);
        EXPECT_EQ(fuzz::check_converted(from_file, file, settings), "");
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

// The checks run in a fixed order; a picture failing several gets the first one's status, as
// pixels and as a file at 32 bits per pixel (checked after the sizes), settings out of range
// before all. A refusal leaves an empty result; a file's names the file.
TEST(PublicInterface, RefusalsInOrderForPixelsAndFiles) {
    using enum Status;
    test::ScratchDir dir;
    const std::string path = (dir / "p.bmp").string();
    Converter converter;
    auto refused = [&](std::int64_t width, std::int64_t height, const ConversionSettings& s,
                       Status status) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        std::vector<std::uint8_t> file = test::make_flat_bmp(16, 16, {10, 20, 30});
        put(file, 18, width);
        put(file, 22, height);
        bmp::put_u16(&file[28], 32);
        test::write_file(path, file);
        const Result& r = converter.convert_file(path, s);
        EXPECT_EQ(std::tie(r.outcome.status, r.outcome.file), std::tie(status, path));
        EXPECT_TRUE(fuzz::empty_result(r));
        if (width <= 0 || height <= 0 || width > 300 || height > 300 ||
            status == format_not_convertible)
            return;
        const Result from_pixels =
            lumaweave::convert(test::make_noise(int(width), int(height), 1).pixels(), s);
        EXPECT_EQ(std::pair(from_pixels.outcome.status, from_pixels.outcome.file),
                  std::pair(status, std::string()));
        EXPECT_TRUE(fuzz::empty_result(from_pixels));
    };
    // Width, height, position correction, status.
    const std::tuple<std::int64_t, std::int64_t, int, Status> sizes[] = {
        {20, 16, 0, width_not_multiple_of_8},  {260, 100, 0, width_not_multiple_of_8},
        {-12, 16, 0, width_not_multiple_of_8}, {264, 192, 0, width_exceeds_256},
        {272, 192, 3, width_exceeds_256},      {264, 200, 0, width_exceeds_256},
        {256, 200, 0, height_exceeds_192},     {16, INT32_MAX, 0, height_exceeds_192},
        {8, 200, 0, height_exceeds_192},       {16, INT32_MIN, 0, image_too_small},
        {16, 8, 0, image_too_small},           {8, 16, 0, image_too_small},
        {16, -16, 0, image_too_small},         {-16, 16, 0, image_too_small},
        {INT32_MIN, 16, 0, image_too_small},   {0x7FFFFFF8, 16, 0, width_exceeds_256}};
    for (const auto& [width, height, correction, status] : sizes)
        refused(width, height, {.horizontal_position_correction = correction}, status);
    refused(16, 16, {}, format_not_convertible);
    refused(20, 16, {.hue = 7}, invalid_settings);
    refused(16, 16, {.palette = 3}, invalid_settings);
    // Depth, compression or pixel offset (field at, value; 0: none), file size: refused but 922.
    const std::int64_t edits[][3] = {
        {28, 8, 822},       {28, 24 + 256, 822},  {30, 1, 822},
        {30, 0x10000, 822}, {10, INT32_MIN, 822}, {10, 0x7FFFFFF0, 822},
        {10, 55, 822},      {0, 0, 821},          {0, 0, 53},
        {0, 0, 0},          {0, 0, 922}};
    for (const auto& [at, value, size] : edits) {
        std::vector<std::uint8_t> file = test::make_flat_bmp(16, 16, {10, 20, 30});  // 822 bytes
        if (at != 0) put(file, static_cast<std::size_t>(at), value);
        file.resize(static_cast<std::size_t>(size), 0xEE);
        EXPECT_EQ(converter.convert_bmp(file).outcome.status,
                  size == 922 ? ok : format_not_convertible)
            << at << ": " << value << ", " << size << " bytes";
    }
    const test::RgbPicture picture = test::make_noise(16, 16, 1);
    const PixelPicture short_of_one{16, 16, std::span(picture.rgb).first(picture.rgb.size() - 1)};
    EXPECT_EQ(lumaweave::convert(short_of_one).outcome.status, format_not_convertible);
}

// The companion palette file is named like the picture minus its last four characters, + ".s05";
// values above 7 count as 7. Handed in with the pixels, the palette converts them as the file
// beside them does. (Short, missing and unreadable companions: the fuzz seeds.)
TEST(PublicInterface, CompanionPaletteAsAFileOrWithThePixels) {
    test::ScratchDir dir;
    EXPECT_EQ(companion_name("C:\\pics\\cat.BMP"), "C:\\pics\\cat.s05");
    const test::RgbPicture picture = test::make_noise(16, 16, 21);
    test::write_file(dir / "p.bmp", picture.bmp());
    std::vector<std::uint8_t> file(s05::palette_offset + 32 + 200, 0x5A);
    PaletteTable clamped;
    for (int k = 0; k < 16; ++k) {  // red k, green 15 - k (the high nibble ignored), blue k / 2
        file[s05::palette_offset + 2 * k] = static_cast<std::uint8_t>(k << 4 | k / 2);
        file[s05::palette_offset + 2 * k + 1] = static_cast<std::uint8_t>(0xF0 | (15 - k));
        std::tie(clamped[3 * k], clamped[3 * k + 1], clamped[3 * k + 2]) =
            std::tuple(std::min(k, 7), std::min(15 - k, 7), k / 2);
    }
    test::write_file(dir / "p.s05", file);
    Converter converter;
    ASSERT_TRUE(converter.convert_file((dir / "p.bmp").string()).ok());
    EXPECT_EQ(converter.companion(), clamped);
    const Result with = lumaweave::convert(picture.pixels(), {}, {}, clamped);
    EXPECT_TRUE(with.vram == converter.result().vram && with.display == converter.result().display);
    EXPECT_FALSE(lumaweave::convert(picture.pixels()).vram == with.vram);
}

// What a caller leaves out of the products stays empty; the rest, and the video memory, are what
// a conversion that makes everything gives, also for a converter reused after larger pictures
// and refusals, and when the products change between conversions.
TEST(PublicInterface, ProductsLeftOutStayEmpty) {
    const test::RgbPicture large = test::make_noise(64, 48, 5), small = test::make_noise(24, 16, 9);
    const ConversionSettings settings{.vertical_error_ratio = 6, .mix = 0};
    const struct {
        bool preview, export_bmp, source;
    } cases[] = {{false, false, false},
                 {false, true, false},
                 {true, false, false},
                 {false, false, true},
                 {true, true, true}};
    Converter converter;
    for (const auto& [preview, export_bmp, source] : cases) {
        SCOPED_TRACE(testing::Message() << preview << export_bmp << source);
        converter.set_products({preview, export_bmp, source});
        for (const test::RgbPicture* picture : {&large, &small}) {
            const Result full = lumaweave::convert(picture->pixels(), settings);
            const Result& got = converter.convert(picture->pixels(), settings);
            ASSERT_TRUE(full.ok() && got.ok());
            EXPECT_TRUE(got.vram == full.vram);
            EXPECT_TRUE(preview ? got.preview == full.preview : got.preview.empty());
            EXPECT_TRUE(export_bmp ? got.export_bmp == full.export_bmp : got.export_bmp.empty());
            EXPECT_TRUE(source ? got.source == full.source : got.source.empty());
            EXPECT_FALSE(converter.convert_bmp({}).ok());
            EXPECT_TRUE(converter.result().export_bmp.empty() && converter.result().source.empty());
        }
    }
}
