// Reading, validating, cropping and decoding the source picture, the companion palette file and
// the header copies of the preview and export pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "convert/convert.hpp"
#include "formats/bmp.hpp"
#include "formats/s05.hpp"
#include "io/messages.hpp"
#include "support/conversion_fixture.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
using test::Color;

namespace {

// Writes a picture (and optionally a companion file) into a fresh folder and loads it.
class LoadTest : public ::testing::Test {
  protected:
    std::string write(const std::vector<std::uint8_t>& bytes, const std::string& name = "p.bmp") {
        const std::string path = (dir_ / name).string();
        // A new file each time: truncating one that holds data makes the file system flush it.
        std::filesystem::remove(path);
        test::write_file(path, bytes);
        return path;
    }

    // The pool is emptied before each file, as the batch does after each one.
    std::string load(const std::vector<std::uint8_t>& bytes, ConversionSettings settings = {}) {
        pool_.free_all();
        conv_->settings = settings;
        companion_.reset();
        return load_source(*conv_, pool_, write(bytes), companion_);
    }

    std::string convert(const std::vector<std::uint8_t>& bytes, ConversionSettings settings = {}) {
        pool_.free_all();
        return convert_file(*conv_, pool_, write(bytes), settings, DefaultPalettes{});
    }

    const Pixel& at(int x, int y) const { return conv_->work[y * max_width + x]; }

    test::ScratchDir dir_;
    ScratchPool pool_;
    std::unique_ptr<Conversion> conv_ = make_conversion();
    std::optional<PaletteTable> companion_;
};

std::vector<std::uint8_t> small_bmp() {
    return test::make_flat_bmp(16, 16, {10, 20, 30});
}

// Every pixel tells its own source position: red = column, green = row, blue = a mix.
Color position_color(int x, int y) {
    return {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
            static_cast<std::uint8_t>(x * 7 + y * 3)};
}

struct HeaderCase {
    const char* what;
    std::int64_t width, height;
    int correction;
    const char* message;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Refusals

// The header checks run in a fixed order; a picture failing several gets the first one's text.
TEST_F(LoadTest, HeaderChecksRefuseInOrderWithTheirMessages) {
    const HeaderCase cases[] = {
        {"20 wide", 20, 16, 0, "width is not a multiple of 8 : 横幅が８の倍数ではありません"},
        {"260x100: check 1 before 2", 260, 100, 0, msg::width_not_multiple_of_8},
        {"negative width not a multiple", -12, 16, 0, msg::width_not_multiple_of_8},
        {"264 without correction", 264, 192, 0, "width exceeds 256 : 横幅が２５６を超えています"},
        {"272 with correction", 272, 192, 3, msg::width_exceeds_256},
        {"huge width", 0x7FFFFFF8, 16, 0, msg::width_exceeds_256},
        {"264x200: check 2 before 3", 264, 200, 0, msg::width_exceeds_256},
        {"200 high", 256, 200, 0, "vertical width exceeds 192 : 縦幅が１９２を超えています"},
        {"huge height", 16, INT32_MAX, 0, msg::height_exceeds_192},
        {"8x200: check 3 before 4", 8, 200, 0, msg::height_exceeds_192},
        {"8x8", 8, 8, 0, "image too small : 画像が小さすぎます"},
        {"16x8", 16, 8, 0, msg::image_too_small},
        {"8x16", 8, 16, 0, msg::image_too_small},
        {"8 wide with correction", 8, 16, 1, msg::image_too_small},
        {"top-down", 16, -16, 0, msg::image_too_small},
        {"negative width", -16, 16, 0, msg::image_too_small},
        {"smallest width", INT32_MIN, 16, 0, msg::image_too_small},
        {"smallest height", 16, INT32_MIN, 0, msg::image_too_small},
        {"zero size", 0, 0, 0, msg::image_too_small},
    };
    for (const HeaderCase& c : cases) {
        ConversionSettings s;
        s.horizontal_position_correction = c.correction;
        std::vector<std::uint8_t> file = small_bmp();
        test::put32(file, 18, c.width);
        test::put32(file, 22, c.height);
        EXPECT_EQ(convert(file, s), c.message) << c.what;
    }
}

TEST_F(LoadTest, WrongDepthOrCompressionIsNotConvertible) {
    const std::string format = "this format cannot be converted : 変換できないフォーマットです";
    for (const std::uint16_t bits : {1, 8, 16, 32, 24 + 256}) {
        std::vector<std::uint8_t> file = small_bmp();
        test::put16(file, 28, bits);
        EXPECT_EQ(convert(file), format) << bits << " bits per pixel";
    }
    for (const std::int64_t compression : {1, 2, 3, 0x10000, -1}) {
        std::vector<std::uint8_t> file = small_bmp();
        test::put32(file, 30, compression);
        EXPECT_EQ(convert(file), format) << "compression " << compression;
    }
    // A picture too small and of the wrong depth reports the size first.
    std::vector<std::uint8_t> file = small_bmp();
    test::put32(file, 18, 8);
    test::put16(file, 28, 32);
    EXPECT_EQ(convert(file), msg::image_too_small);
}

TEST_F(LoadTest, FileShorterThanItsPixelsIsNotConvertible) {
    std::vector<std::uint8_t> file = small_bmp();  // exactly 54 + 16 * 16 * 3 bytes
    ASSERT_EQ(file.size(), 54u + 768u);
    file.pop_back();
    EXPECT_EQ(convert(file), msg::format_not_convertible);

    // Extra bytes after the pixels are accepted.
    std::vector<std::uint8_t> longer = small_bmp();
    longer.resize(longer.size() + 100, 0xEE);
    EXPECT_EQ(convert(longer), "");
}

// Every cut of a valid file, down to a single byte, is refused without reading past the end.
TEST_F(LoadTest, TruncatedFilesAreRefused) {
    const std::vector<std::uint8_t> whole = small_bmp();
    for (std::size_t n = 1; n < whole.size(); ++n) {
        const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(n));
        ASSERT_EQ(load(cut), msg::format_not_convertible) << n << " bytes";
    }
}

TEST_F(LoadTest, EmptyMissingOrFolderSourceGivesTheReadMessage) {
    EXPECT_EQ(convert({}), "memory error : メモリを確保できませんでした");
    EXPECT_EQ(convert_file(*conv_, pool_, (dir_ / "absent.bmp").string(), {}, {}),
              "file not found : ファイルが見つかりません");
    std::filesystem::create_directory(dir_ / "folder.bmp");
    EXPECT_EQ(convert_file(*conv_, pool_, (dir_ / "folder.bmp").string(), {}, {}),
              "file cannot open : ファイルをオープンできません");
}

TEST_F(LoadTest, NegativeOrHugePixelOffsetIsNotConvertible) {
    for (const std::int64_t offset :
         {std::int64_t{-1}, std::int64_t{-54}, std::int64_t{INT32_MIN}, std::int64_t{0x7FFFFFF0},
          std::int64_t{INT32_MAX}, std::int64_t{823}}) {
        std::vector<std::uint8_t> file = small_bmp();
        test::put32(file, 10, offset);
        EXPECT_EQ(convert(file), msg::format_not_convertible) << "offset " << offset;
    }
}

// Pseudo-random header bytes and lengths: every result is a success with a valid working size
// or one of the loader's messages, and nothing is read outside the file (sanitizers).
TEST_F(LoadTest, MangledHeadersAreRefusedOrLoadedSafely) {
    const std::vector<std::string> messages = {msg::width_not_multiple_of_8, msg::width_exceeds_256,
                                               msg::height_exceeds_192, msg::image_too_small,
                                               msg::format_not_convertible};
    const std::vector<std::uint8_t> valid = test::make_noise_bmp(24, 24, 3);
    const std::size_t fields[] = {10, 11, 12, 13, 18, 19, 21, 22, 23, 25, 28, 29, 30, 33};
    test::Lcg lcg(99);
    int loaded = 0;
    for (int round = 0; round < 1500; ++round) {
        std::vector<std::uint8_t> file = valid;
        const int changes = 1 + static_cast<int>(lcg.below(3));
        for (int i = 0; i < changes; ++i) {
            const std::size_t at = lcg.below(4) == 0 ? lcg.below(54) : fields[lcg.below(14)];
            // Small values are the interesting ones for sizes and offsets.
            file[at] = static_cast<std::uint8_t>(lcg.below(2) ? lcg.next() : lcg.below(32));
        }
        if (lcg.below(4) == 0) file.resize(lcg.below(static_cast<std::uint32_t>(file.size())));
        ConversionSettings s;
        s.horizontal_position_correction = static_cast<int>(lcg.below(8));
        const std::string message = load(file, s);
        if (message.empty()) {
            ++loaded;
            ASSERT_EQ(conv_->width % 8, 0);
            ASSERT_GE(conv_->width, 8);
            ASSERT_LE(conv_->width, 256);
            ASSERT_EQ(conv_->height % 8, 0);
            ASSERT_GE(conv_->height, 16);
            ASSERT_LE(conv_->height, 192);
        } else if (file.empty()) {
            ASSERT_EQ(message, msg::memory_error);
        } else {
            ASSERT_NE(std::find(messages.begin(), messages.end(), message), messages.end())
                << message;
        }
    }
    EXPECT_GT(loaded, 0);  // some mutations keep the picture valid
}

TEST_F(LoadTest, RefusedPictureLeavesTheBuffersOfTheLastConversion) {
    ASSERT_EQ(convert(test::make_noise_bmp(16, 16, 5)), "");
    const auto vram = conv_->vram;
    const auto preview = conv_->preview;
    const auto export_header =
        std::vector<std::uint8_t>(conv_->export_image.begin(), conv_->export_image.begin() + 54);
    std::vector<std::uint8_t> bad = test::make_flat_bmp(16, 16, {1, 2, 3});
    test::put16(bad, 28, 32);
    ASSERT_EQ(convert(bad), msg::format_not_convertible);
    EXPECT_EQ(conv_->vram, vram);
    EXPECT_EQ(conv_->preview, preview);
    EXPECT_EQ(
        std::vector<std::uint8_t>(conv_->export_image.begin(), conv_->export_image.begin() + 54),
        export_header);
}

// ---------------------------------------------------------------------------------------------
// Decoding, crop and shift

TEST_F(LoadTest, BottomUpBgrRowsBecomeTopDownRgbPixels) {
    ASSERT_EQ(load(test::make_bmp(24, 16, position_color)), "");
    EXPECT_EQ(conv_->width, 24);
    EXPECT_EQ(conv_->height, 16);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 24; ++x) {
            const Color c = position_color(x, y);
            ASSERT_EQ(at(x, y).r, c.r) << x << "," << y;
            ASSERT_EQ(at(x, y).g, c.g) << x << "," << y;
            ASSERT_EQ(at(x, y).b, c.b) << x << "," << y;
        }
    }
}

TEST_F(LoadTest, PixelRowsStartAtTheStoredOffset) {
    const std::vector<std::uint8_t> plain = test::make_bmp(16, 16, position_color);
    std::vector<std::uint8_t> file(plain.begin(), plain.begin() + 54);
    file.insert(file.end(), 6, 0xFF);  // a gap between header and pixels
    file.insert(file.end(), plain.begin() + 54, plain.end());
    test::put32(file, 10, 60);
    ASSERT_EQ(load(file), "");
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            ASSERT_EQ(at(x, y).r, x);
            ASSERT_EQ(at(x, y).g, y);
        }
    }
}

TEST_F(LoadTest, WorkImageOutsideThePictureIsZeroAfterALargerOne) {
    ASSERT_EQ(load(test::make_noise_bmp(64, 48, 11)), "");
    ASSERT_EQ(load(test::make_flat_bmp(16, 16, {200, 200, 200})), "");
    for (int y = 0; y < max_height; ++y) {
        for (int x = 0; x < max_width; ++x) {
            const Pixel& p = at(x, y);
            if (x < 16 && y < 16) continue;
            ASSERT_TRUE(p.r == 0 && p.g == 0 && p.b == 0 && p.w == 0) << x << "," << y;
        }
    }
}

// The rows beyond a multiple of 8 go, half (rounded down) at the bottom, the rest at the top.
TEST_F(LoadTest, HeightIsCroppedToAMultipleOf8KeepingTheMiddleRows) {
    struct Crop {
        int height, kept, top_dropped;
    };
    for (const Crop c : {Crop{103, 96, 4}, Crop{100, 96, 2}, Crop{23, 16, 4}, Crop{17, 16, 1},
                         Crop{192, 192, 0}}) {
        ASSERT_EQ(load(test::make_bmp(16, c.height, position_color)), "") << c.height;
        EXPECT_EQ(conv_->height, c.kept);
        for (int y = 0; y < c.kept; ++y) {
            ASSERT_EQ(at(3, y).g, y + c.top_dropped) << "height " << c.height << " row " << y;
        }
        EXPECT_EQ(test::get32(conv_->export_image.data() + 22), c.kept);
        EXPECT_EQ(test::get32(conv_->preview.data() + 22), 384);
    }
}

// A correction c moves the picture c pixels to the left and trims 8 columns; the rows keep the
// file's row length.
TEST_F(LoadTest, HorizontalCorrectionKeepsSourceColumnsFromC) {
    auto color = [](int x, int y) {
        return Color{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                     static_cast<std::uint8_t>(x >> 8)};
    };
    const std::vector<std::uint8_t> wide = test::make_bmp(264, 20, color);
    for (int c = 1; c <= 7; ++c) {
        ConversionSettings s;
        s.horizontal_position_correction = c;
        ASSERT_EQ(load(wide, s), "") << "correction " << c;
        EXPECT_EQ(conv_->width, 256);
        EXPECT_EQ(conv_->height, 16);
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 256; ++x) {
                const int column = c + x;
                ASSERT_EQ(at(x, y).r, column & 255) << "correction " << c << " x " << x;
                ASSERT_EQ(at(x, y).b, column >> 8);
                ASSERT_EQ(at(x, y).g, y + 2);
            }
        }
        EXPECT_EQ(test::get32(conv_->export_image.data() + 18), 256);
    }

    ConversionSettings five;
    five.horizontal_position_correction = 5;
    ASSERT_EQ(load(test::make_bmp(16, 16, position_color), five), "");
    EXPECT_EQ(conv_->width, 8);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(at(x, y).r, 5 + x);
        ASSERT_EQ(at(8, y).r, 0);
    }

    // Without correction a 256-wide picture keeps all its columns.
    ASSERT_EQ(load(test::make_bmp(256, 16, color)), "");
    EXPECT_EQ(conv_->width, 256);
    EXPECT_EQ(at(255, 0).r, 255);
}

// A picture narrowed to 8 columns by the correction converts completely.
TEST_F(LoadTest, PictureNarrowedTo8ColumnsConverts) {
    ConversionSettings five;
    five.horizontal_position_correction = 5;
    ASSERT_EQ(convert(test::make_noise_bmp(16, 16, 8), five), "");
    EXPECT_EQ(conv_->width, 8);
    // Only the first run of each of the 16 rows has a colour byte.
    for (int y = 0; y < 16; ++y) {
        EXPECT_NE(conv_->vram[vram::colour_offset(0, y)], 0) << y;
        EXPECT_EQ(conv_->vram[vram::colour_offset(8, y)], 0) << y;
    }
}

// ---------------------------------------------------------------------------------------------
// Header copies

TEST_F(LoadTest, PreviewAndExportHeadersCopyTheEditedSourceHeader) {
    std::vector<std::uint8_t> file = test::make_bmp(264, 103, position_color);
    // A pixel offset past a gap, and recognisable values in the fields nobody reads.
    std::vector<std::uint8_t> gapped(file.begin(), file.begin() + 54);
    gapped.insert(gapped.end(), 10, 0);
    gapped.insert(gapped.end(), file.begin() + 54, file.end());
    test::put32(gapped, 2, 0x11223344);   // file size
    test::put32(gapped, 6, 0x55667788);   // reserved
    test::put32(gapped, 10, 64);          // pixel offset
    test::put32(gapped, 34, 0x01020304);  // image size
    test::put32(gapped, 38, 2835);        // resolution
    test::put32(gapped, 42, 1234);
    test::put32(gapped, 46, 77);
    gapped[0] = 'X';
    ConversionSettings s;
    s.horizontal_position_correction = 2;
    ASSERT_EQ(load(gapped, s), "");

    std::vector<std::uint8_t> expected_export(gapped.begin(), gapped.begin() + 54);
    test::put32(expected_export, 10, 54);
    test::put32(expected_export, 18, 256);
    test::put32(expected_export, 22, 96);
    EXPECT_EQ(
        std::vector<std::uint8_t>(conv_->export_image.begin(), conv_->export_image.begin() + 54),
        expected_export);

    std::vector<std::uint8_t> expected_preview(gapped.begin(), gapped.begin() + 54);
    test::put32(expected_preview, 18, 512);
    test::put32(expected_preview, 22, 384);
    EXPECT_EQ(std::vector<std::uint8_t>(conv_->preview.begin(), conv_->preview.begin() + 54),
              expected_preview);

    // Everything after the headers starts black.
    EXPECT_TRUE(std::all_of(conv_->preview.begin() + 54, conv_->preview.end(),
                            [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::all_of(conv_->export_image.begin() + 54, conv_->export_image.end(),
                            [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(
        std::all_of(conv_->vram.begin(), conv_->vram.end(), [](std::uint8_t b) { return b == 0; }));
}

// ---------------------------------------------------------------------------------------------
// Companion palette file

using test::make_s05;

TEST_F(LoadTest, CompanionPaletteGivesRedAndBlueThenGreen) {
    write(make_s05(
              [](int k) {
                  return std::array<int, 3>{k % 8, (k + 3) % 8, (k + 5) % 8};
              },
              0xF0),
          "p.s05");
    ASSERT_EQ(load(small_bmp()), "");
    ASSERT_TRUE(companion_.has_value());
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ((*companion_)[3 * k + 0], k % 8) << "red of " << k;
        EXPECT_EQ((*companion_)[3 * k + 1], (k + 3) % 8) << "green of " << k;
        EXPECT_EQ((*companion_)[3 * k + 2], (k + 5) % 8) << "blue of " << k;
    }
}

TEST_F(LoadTest, CompanionValuesAbove7AreTakenAs7) {
    write(make_s05([](int k) { return std::array<int, 3>{8 + k % 8, 15, k % 8}; }), "p.s05");
    ASSERT_EQ(load(small_bmp()), "");
    ASSERT_TRUE(companion_.has_value());
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ((*companion_)[3 * k + 0], 7);
        EXPECT_EQ((*companion_)[3 * k + 1], 7);
        EXPECT_EQ((*companion_)[3 * k + 2], k % 8);
    }
}

// The palette lies beyond the end of a 100-byte file, where the appended zeros are read.
TEST_F(LoadTest, ShortCompanionMakesEveryColourBlack) {
    write(std::vector<std::uint8_t>(100, 0x77), "p.s05");
    ASSERT_EQ(convert(test::make_noise_bmp(16, 16, 21)), "");
    for (int k = 0; k < 16; ++k) {
        EXPECT_TRUE(conv_->display[k].r == 0 && conv_->display[k].g == 0 &&
                    conv_->display[k].b == 0)
            << k;
        EXPECT_TRUE(conv_->working[k].r == 0 && conv_->working[k].g == 0 &&
                    conv_->working[k].b == 0)
            << k;
    }
    EXPECT_TRUE(std::all_of(conv_->preview.begin() + 54, conv_->preview.end(),
                            [](std::uint8_t b) { return b == 0; }));
}

TEST_F(LoadTest, CompanionNameReplacesTheLastFourCharacters) {
    EXPECT_EQ(companion_name("C:\\pics\\cat.BMP"), "C:\\pics\\cat.s05");
    EXPECT_EQ(companion_name("/x/p.bmp"), "/x/p.s05");

    write(std::vector<std::uint8_t>(100, 0), "Q.s05");
    const std::string path = write(small_bmp(), "Q.BMP");
    ASSERT_EQ(load_source(*conv_, pool_, path, companion_), "");
    EXPECT_TRUE(companion_.has_value());
}

TEST_F(LoadTest, MissingOrUnreadableCompanionKeepsTheTablePalette) {
    ASSERT_EQ(load(small_bmp()), "");
    EXPECT_FALSE(companion_.has_value());

    std::filesystem::create_directory(dir_ / "p.s05");
    ASSERT_EQ(load(small_bmp()), "");
    EXPECT_FALSE(companion_.has_value());

    // An empty companion is read (with its zeros) and makes the palette black.
    std::filesystem::remove(dir_ / "p.s05");
    write({}, "p.s05");
    ASSERT_EQ(load(small_bmp()), "");
    ASSERT_TRUE(companion_.has_value());
    EXPECT_TRUE(std::all_of(companion_->begin(), companion_->end(), [](int v) { return v == 0; }));
}
