// Reading a BMP file's header, and the companion palette file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "formats/s05.hpp"
#include "formats/vram.hpp"
#include "lumaweave.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;

namespace {

// Sets the little-endian field of `bytes` bytes at `at`.
void put(std::vector<std::uint8_t>& file, std::size_t at, std::int64_t v, int bytes = 4) {
    for (int i = 0; i < bytes; ++i)
        file[at + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i));
}

// Quick settings: the fitting's options do not touch what these tests look at.
ConversionSettings quick(int correction = 0) {
    return {.horizontal_position_correction = correction, .block_noise = 0, .mix = 0};
}

}  // namespace

// The checks run in a fixed order; a picture failing several gets the first one's status.
TEST(BmpFile, HeaderChecksRefuseInOrder) {
    using enum Status;
    Converter converter;
    // Width, height, correction, status; at 32 bits per pixel, which is checked after them.
    const std::tuple<std::int64_t, std::int64_t, int, Status> sizes[] = {
        {20, 16, 0, width_not_multiple_of_8},   {260, 100, 0, width_not_multiple_of_8},
        {-12, 16, 0, width_not_multiple_of_8},  {264, 192, 0, width_exceeds_256},
        {272, 192, 3, width_exceeds_256},       {0x7FFFFFF8, 16, 0, width_exceeds_256},
        {264, 200, 0, width_exceeds_256},       {256, 200, 0, height_exceeds_192},
        {16, INT32_MAX, 0, height_exceeds_192}, {8, 200, 0, height_exceeds_192},
        {16, INT32_MIN, 0, image_too_small},    {16, 8, 0, image_too_small},
        {16, -16, 0, image_too_small},          {-16, 16, 0, image_too_small},
        {INT32_MIN, 16, 0, image_too_small},    {16, 16, 0, format_not_convertible}};
    for (const auto& [width, height, correction, status] : sizes) {
        std::vector<std::uint8_t> file = test::make_flat_bmp(16, 16, {10, 20, 30});
        put(file, 18, width);
        put(file, 22, height);
        put(file, 28, 32, 2);
        EXPECT_EQ(converter.convert_bmp(file, quick(correction)).outcome.status, status)
            << width << "x" << height;
    }
    // Depth, compression or pixel offset (field at, value; 0: none), file size, status.
    const std::tuple<int, std::int64_t, std::size_t, Status> edits[] = {
        {28, 8, 822, format_not_convertible},
        {28, 24 + 256, 822, format_not_convertible},
        {30, 1, 822, format_not_convertible},
        {30, 0x10000, 822, format_not_convertible},
        {10, INT32_MIN, 822, format_not_convertible},
        {10, 0x7FFFFFF0, 822, format_not_convertible},
        {10, 55, 822, format_not_convertible},
        {0, 0, 821, format_not_convertible},
        {0, 0, 53, format_not_convertible},
        {0, 0, 0, format_not_convertible},
        {0, 0, 922, ok}};
    for (const auto& [at, value, size, status] : edits) {
        std::vector<std::uint8_t> file = test::make_flat_bmp(16, 16, {10, 20, 30});  // 822 bytes
        if (at != 0) put(file, static_cast<std::size_t>(at), value);
        file.resize(size, 0xEE);
        EXPECT_EQ(converter.convert_bmp(file, quick()).outcome.status, status)
            << at << ": " << value << ", " << size << " bytes";
    }
}

// Decoding, the crop of the rows beyond a multiple of 8 and the shift of a position correction
// are checked on every seed of the fuzz target (fuzz/harness.cpp). Narrowed to 8 columns, a
// picture converts: only the first run of each row is written.
TEST(BmpFile, CorrectionMayLeaveEightColumns) {
    Converter converter;
    const Result& r = converter.convert_bmp(test::make_noise_bmp(16, 16, 8), quick(5));
    ASSERT_TRUE(r.ok() && r.width == 8);
    for (int y = 0; y < 16; ++y) {
        EXPECT_NE(r.vram[vram::colour_offset(0, y)], 0) << y;
        EXPECT_EQ(r.vram[vram::colour_offset(8, y)], 0) << y;
    }
}

// Named like the source minus its last four characters, + ".s05". Values above 7 count as 7;
// a file too short for the palette reads zeros there; a missing or unreadable one is ignored.
// Handed in with the pixels, the palette converts them as the file beside them does.
TEST(CompanionFile, PaletteRules) {
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
    Converter converter;
    const auto companion = [&] {
        EXPECT_TRUE(converter.convert_file((dir / "p.bmp").string(), quick()).ok());
        return converter.companion();
    };
    test::write_file(dir / "p.s05", file);
    EXPECT_EQ(companion(), clamped);
    const Result with = lumaweave::convert(picture.pixels(), quick(), {}, clamped);
    EXPECT_TRUE(with.vram == converter.result().vram && with.display == converter.result().display);
    EXPECT_FALSE(lumaweave::convert(picture.pixels(), quick()).vram == with.vram);
    test::write_file(dir / "p.s05", std::vector<std::uint8_t>(100, 0x77));
    EXPECT_EQ(companion(), PaletteTable{});
    for (const bool folder : {false, true}) {
        std::filesystem::remove(dir / "p.s05");
        if (folder) std::filesystem::create_directory(dir / "p.s05");
        EXPECT_FALSE(companion().has_value());
    }
}
