// A new front end's whole use of the core: one header, one call, pixels held in memory in and the
// result out, the same bytes as the program gives for a BMP file of those pixels.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "lumaweave.hpp"

namespace {

// The BMP file of the same pixels, as a paint program writes it: 54-byte header, bottom-up rows
// of blue, green, red.
std::vector<std::uint8_t> bmp_file(int width, int height, const std::vector<std::uint8_t>& rgb) {
    std::vector<std::uint8_t> file(54 + 3 * std::size_t(width) * height);
    auto put = [&](int at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file[at + i] = static_cast<std::uint8_t>(v >> 8 * i);
    };
    file[0] = 'B', file[1] = 'M', put(2, std::uint32_t(file.size())), put(10, 54), put(14, 40);
    put(18, width), put(22, height), file[26] = 1, file[28] = 24;
    for (std::size_t y = 0; y < std::size_t(height); ++y) {
        for (std::size_t i = 0; i < 3 * std::size_t(width); ++i)
            file[54 + (height - 1 - y) * 3 * width + i] =
                rgb[y * 3 * width + i - i % 3 + 2 - i % 3];
    }
    return file;
}

}  // namespace

TEST(FrontEnd, ConvertsPixelsHeldInMemoryWithOneCall) {
    const int width = 48, height = 36;
    std::vector<std::uint8_t> rgb(3 * width * height);
    for (std::size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = static_cast<std::uint8_t>(i * 7919 % 251);

    const lumaweave::Result result = lumaweave::convert({width, height, rgb}, {.hue = 2});

    ASSERT_TRUE(result.ok()) << lumaweave::shown_text(result.outcome);
    EXPECT_EQ(std::pair(result.width, result.height), std::pair(48, 32));
    lumaweave::Converter program;
    const lumaweave::Result& from_file =
        program.convert_bmp(bmp_file(width, height, rgb), {.hue = 2});
    EXPECT_TRUE(result.vram == from_file.vram && result.export_bmp == from_file.export_bmp);
    EXPECT_EQ(result.vram.size(), 14343u);
    EXPECT_EQ(lumaweave::convert({20, 16, rgb}).outcome.status,
              lumaweave::Status::width_not_multiple_of_8);
}
