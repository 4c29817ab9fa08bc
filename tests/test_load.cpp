// Reading, validating, cropping and decoding the source picture and its companion palette file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "formats/s05.hpp"
#include "support/conversion_fixture.hpp"

using namespace lumaweave;

namespace {

class LoadTest : public ::testing::Test {
  protected:
    // Loads the picture; the pool is emptied first, as a batch does.
    std::string load(const std::vector<std::uint8_t>& bytes, int correction = 0) {
        std::filesystem::remove(dir_ / "p.bmp");  // truncating a file would flush it
        test::write_file(dir_ / "p.bmp", bytes);
        pool_.free_all();
        conv_->settings.horizontal_position_correction = correction;
        companion_.reset();
        return load_source(*conv_, pool_, (dir_ / "p.bmp").string(), companion_);
    }
    // Whether pixel (x, y) holds the colour of source position (column, row).
    bool shows(int x, int y, int column, int row) const {
        const Pixel& p = conv_->work[y * max_width + x];
        return p.r == (column & 255) && p.g == row && p.b == column >> 8;
    }

    test::ScratchDir dir_;
    ScratchPool pool_;
    std::unique_ptr<Conversion> conv_ = make_conversion();
    std::optional<PaletteTable> companion_;
};

// Red = column, green = row, blue = column / 256.
test::Color position(int x, int y) {
    return {std::uint8_t(x), std::uint8_t(y), std::uint8_t(x >> 8)};
}

// Sets the little-endian field of `bytes` bytes at `at`.
void put(std::vector<std::uint8_t>& file, std::size_t at, std::int64_t v, int bytes = 4) {
    for (int i = 0; i < bytes; ++i)
        file[at + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i));
}

}  // namespace

// The checks run in a fixed order; a picture failing several gets the first one's message.
TEST_F(LoadTest, HeaderChecksRefuseInOrderWithTheirMessages) {
    const char* messages[] = {"width is not a multiple of 8 : 横幅が８の倍数ではありません",
                              "width exceeds 256 : 横幅が２５６を超えています",
                              "vertical width exceeds 192 : 縦幅が１９２を超えています",
                              "image too small : 画像が小さすぎます",
                              "this format cannot be converted : 変換できないフォーマットです",
                              ""};
    // Width, height, correction, message; at 32 bits per pixel, which is checked after them.
    const std::int64_t sizes[][4] = {
        {20, 16, 0, 0},        {260, 100, 0, 0},       {-12, 16, 0, 0},       {264, 192, 0, 1},
        {272, 192, 3, 1},      {0x7FFFFFF8, 16, 0, 1}, {264, 200, 0, 1},      {256, 200, 0, 2},
        {16, INT32_MAX, 0, 2}, {8, 200, 0, 2},         {16, INT32_MIN, 0, 3}, {16, 8, 0, 3},
        {16, -16, 0, 3},       {-16, 16, 0, 3},        {INT32_MIN, 16, 0, 3}};
    for (const auto& c : sizes) {
        std::vector<std::uint8_t> file = test::make_flat_bmp(16, 16, {10, 20, 30});
        put(file, 18, c[0]);
        put(file, 22, c[1]);
        put(file, 28, 32, 2);
        EXPECT_EQ(load(file, static_cast<int>(c[2])), messages[c[3]]) << c[0] << "x" << c[1];
    }
    // Depth, compression or pixel offset (field at, value; 0: none), file size, message.
    const std::int64_t edits[][4] = {{28, 8, 822, 4},         {28, 24 + 256, 822, 4},
                                     {30, 1, 822, 4},         {30, 0x10000, 822, 4},
                                     {10, INT32_MIN, 822, 4}, {10, 0x7FFFFFF0, 822, 4},
                                     {10, 55, 822, 4},        {0, 0, 821, 4},
                                     {0, 0, 20, 4},           {0, 0, 922, 5}};
    for (const auto& c : edits) {
        std::vector<std::uint8_t> file = test::make_flat_bmp(16, 16, {10, 20, 30});  // 822 bytes
        if (c[0] != 0) put(file, static_cast<std::size_t>(c[0]), c[1]);
        file.resize(static_cast<std::size_t>(c[2]), 0xEE);
        EXPECT_EQ(load(file), messages[c[3]]) << c[0] << ": " << c[1] << ", " << c[2] << " bytes";
    }
}

// The rows beyond a multiple of 8 go, half (rounded down) at the bottom, the rest at the top.
TEST_F(LoadTest, HeightIsCroppedToAMultipleOf8KeepingTheMiddleRows) {
    for (const auto& [height, kept, top] : {std::array{103, 96, 4}, {17, 16, 1}, {192, 192, 0}}) {
        ASSERT_EQ(load(test::make_bmp(16, height, position)), "") << height;
        EXPECT_EQ(conv_->height, kept);
        for (int y = 0; y < kept; ++y)
            ASSERT_TRUE(shows(3, y, 3, y + top)) << "height " << height << " row " << y;
    }
}

// Rows are stored bottom-up, blue, green, red, from the stored pixel offset. A correction c
// keeps source columns c .. c + width - 9; the rows keep the file's row length.
TEST_F(LoadTest, DecodingAndHorizontalCorrection) {
    std::vector<std::uint8_t> wide = test::make_bmp(264, 20, position);
    wide.insert(wide.begin() + 54, 6, 0xFF);
    put(wide, 10, 60);
    for (int c = 1; c <= 7; ++c) {
        ASSERT_EQ(load(wide, c), "") << "correction " << c;
        EXPECT_EQ(conv_->width, 256);
        for (int i = 0; i < 256 * 16; ++i)
            ASSERT_TRUE(shows(i % 256, i / 256, c + i % 256, i / 256 + 2)) << c << ": " << i;
    }
    // Narrowed to 8 columns, the picture converts: only the first run of each row is written.
    ASSERT_EQ(load(test::make_bmp(16, 16, position), 5), "");
    EXPECT_TRUE(shows(7, 3, 12, 3) && shows(8, 3, 0, 0));
    ASSERT_EQ(load(test::make_noise_bmp(16, 16, 8), 5), "");
    ASSERT_EQ(convert_file(*conv_, pool_, (dir_ / "p.bmp").string(), conv_->settings, {}), "");
    for (int y = 0; y < 16; ++y) {
        EXPECT_NE(conv_->vram[vram::colour_offset(0, y)], 0) << y;
        EXPECT_EQ(conv_->vram[vram::colour_offset(8, y)], 0) << y;
    }
}

// Named like the source minus its last four characters, + ".s05". Values above 7 count as 7;
// a file too short for the palette reads zeros there; a missing or unreadable one is ignored.
TEST_F(LoadTest, CompanionPalette) {
    EXPECT_EQ(companion_name("C:\\pics\\cat.BMP"), "C:\\pics\\cat.s05");
    const std::vector<std::uint8_t> picture = test::make_noise_bmp(16, 16, 21);
    std::vector<std::uint8_t> file(s05::palette_offset + 32 + 200, 0x5A);
    PaletteTable clamped;
    for (int k = 0; k < 16; ++k) {  // red k, green 15 - k (the high nibble ignored), blue k / 2
        file[s05::palette_offset + 2 * k] = static_cast<std::uint8_t>(k << 4 | k / 2);
        file[s05::palette_offset + 2 * k + 1] = static_cast<std::uint8_t>(0xF0 | (15 - k));
        std::tie(clamped[3 * k], clamped[3 * k + 1], clamped[3 * k + 2]) =
            std::tuple(std::min(k, 7), std::min(15 - k, 7), k / 2);
    }
    test::write_file(dir_ / "p.s05", file);
    ASSERT_EQ(load(picture), "");
    EXPECT_EQ(companion_, clamped);
    test::write_file(dir_ / "p.s05", std::vector<std::uint8_t>(100, 0x77));
    ASSERT_EQ(load(picture), "");
    EXPECT_EQ(companion_, PaletteTable{});
    for (const bool folder : {false, true}) {
        std::filesystem::remove(dir_ / "p.s05");
        if (folder) std::filesystem::create_directory(dir_ / "p.s05");
        ASSERT_EQ(load(picture), "");
        EXPECT_FALSE(companion_.has_value());
    }
}
