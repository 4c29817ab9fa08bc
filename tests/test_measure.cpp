// The perceptual error measure: CIEDE2000 against the published test pairs, the colour space
// conversion, the figures on pictures whose answer is known, and which two pictures a
// conversion is measured on.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "convert/convert.hpp"
#include "quality/measure.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
using quality::Display;
using quality::Lab;
using quality::Picture;

namespace {

Picture flat(int width, int height, Rgb c) {
    return {width, height, std::vector<Rgb>(static_cast<std::size_t>(width * height), c)};
}

Picture pattern(int width, int height, const std::function<Rgb(int, int)>& color) {
    Picture p{width, height, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            p.pixels.push_back(color(x, y));
    }
    return p;
}

quality::Figures figures(const Picture& reference, const Picture& picture) {
    quality::Meter meter;
    meter.set_reference(reference);
    return meter.measure(picture);
}

// L* of an sRGB grey from the textbook definitions, for an answer worked out apart from the
// code under test.
double grey_lightness(int v) {
    const double c = v / 255.0;
    const double y = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    return y > 216.0 / 24389.0 ? 116 * std::cbrt(y) - 16 : 24389.0 / 27.0 * y;
}

std::unique_ptr<Conversion> converted(const std::vector<std::uint8_t>& bmp,
                                      const ConversionSettings& settings = {}) {
    test::ScratchDir dir;
    test::write_file(dir / "p.bmp", bmp);
    auto conv = make_conversion();
    ScratchPool pool;
    EXPECT_EQ(convert_file(*conv, pool, (dir / "p.bmp").string(), settings, DefaultPalettes{}), "");
    return conv;
}

// A picture with some of everything: gradients, a hard edge and fine texture.
std::vector<std::uint8_t> busy_picture(int width, int height) {
    return test::make_bmp(width, height, [](int x, int y) {
        return test::Color{static_cast<std::uint8_t>(x * 7 + y),
                           static_cast<std::uint8_t>(x < 20 ? 30 : 200 - y * 3),
                           static_cast<std::uint8_t>((x ^ y) * 16)};
    });
}

}  // namespace

TEST(Ciede2000, MatchesEveryPublishedTestPairBothWaysRound) {
    std::ifstream in(std::string(LUMAWEAVE_TEST_DATA) + "/ciede2000_pairs.tsv");
    ASSERT_TRUE(in) << "tests/data/ciede2000_pairs.tsv";
    std::string line;
    int pairs = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        Lab x{}, y{};
        double expected = 0;
        ASSERT_TRUE(fields >> x.l >> x.a >> x.b >> y.l >> y.a >> y.b >> expected) << line;
        ++pairs;
        // The published values have four decimals.
        EXPECT_NEAR(quality::ciede2000(x, y), expected, 5e-5) << "pair " << pairs << ": " << line;
        EXPECT_NEAR(quality::ciede2000(y, x), expected, 5e-5) << "pair " << pairs << " swapped";
    }
    EXPECT_EQ(pairs, 34);
}

TEST(ColourSpace, SrgbToLabMatchesKnownValues) {
    EXPECT_NEAR(quality::srgb_to_linear(0), 0.0, 1e-12);
    EXPECT_NEAR(quality::srgb_to_linear(10), 10 / 255.0 / 12.92, 1e-12);  // linear segment
    EXPECT_NEAR(quality::srgb_to_linear(128), 0.2158605, 1e-6);
    EXPECT_NEAR(quality::srgb_to_linear(255), 1.0, 1e-12);

    auto lab = [](int r, int g, int b) {
        return quality::linear_to_lab(quality::srgb_to_linear(r), quality::srgb_to_linear(g),
                                      quality::srgb_to_linear(b));
    };
    const Lab white = lab(255, 255, 255);
    EXPECT_NEAR(white.l, 100, 1e-4);
    EXPECT_NEAR(white.a, 0, 1e-4);
    EXPECT_NEAR(white.b, 0, 1e-4);
    // The usual reference values of the sRGB primaries under D65.
    const Lab red = lab(255, 0, 0);
    EXPECT_NEAR(red.l, 53.24, 0.01);
    EXPECT_NEAR(red.a, 80.09, 0.01);
    EXPECT_NEAR(red.b, 67.20, 0.01);
    const Lab blue = lab(0, 0, 255);
    EXPECT_NEAR(blue.l, 32.30, 0.01);
    EXPECT_NEAR(blue.a, 79.19, 0.01);
    EXPECT_NEAR(blue.b, -107.86, 0.01);
    // Dark colours take the linear part of the curve.
    EXPECT_NEAR(lab(3, 3, 3).l, grey_lightness(3), 1e-6);
}

TEST(NearestRank, PicksTheSmallestValueThatTheShareDoesNotExceed) {
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i)
        hundred.push_back(i);
    EXPECT_EQ(quality::nearest_rank(hundred, 0.95), 95);
    std::vector<double> ten{10, 1, 9, 2, 8, 3, 7, 4, 6, 5};
    EXPECT_EQ(quality::nearest_rank(ten, 0.95), 10);  // rank 9.5 rounds up
    EXPECT_EQ(quality::nearest_rank(ten, 0.5), 5);
    std::vector<double> one{4.5};
    EXPECT_EQ(quality::nearest_rank(one, 0.95), 4.5);
}

TEST(Figures, IdenticalPicturesGiveNoErrorAndInfinitePsnr) {
    const Picture p = pattern(40, 24, [](int x, int y) {
        return Rgb{(x * 37 + y * 11) & 0xFF, (x * y) & 0xFF, (200 - 3 * x) & 0xFF};
    });
    const quality::Figures f = figures(p, p);
    EXPECT_EQ(f.delta_e_mean, 0.0);
    EXPECT_EQ(f.delta_e_p95, 0.0);
    EXPECT_NEAR(f.ssim, 1.0, 1e-12);
    EXPECT_TRUE(std::isinf(f.psnr));
    EXPECT_GT(f.psnr, 0);
}

TEST(Figures, AGreyShiftGivesTheCiede2000OfTheTwoGreysEverywhere) {
    // For neutral colours CIEDE2000 comes down to the lightness term alone.
    const double l1 = grey_lightness(100), l2 = grey_lightness(150);
    const double mean_l = (l1 + l2) / 2;
    const double sl =
        1 + 0.015 * (mean_l - 50) * (mean_l - 50) / std::sqrt(20 + (mean_l - 50) * (mean_l - 50));
    const double expected = (l2 - l1) / sl;

    const quality::Figures f =
        figures(flat(32, 16, {100, 100, 100}), flat(32, 16, {150, 150, 150}));
    // The blur keeps flat pictures flat right up to their edges.
    EXPECT_NEAR(f.delta_e_mean, expected, 1e-6);
    EXPECT_NEAR(f.delta_e_p95, expected, 1e-6);
}

TEST(Figures, AShiftOnPartOfThePictureShowsInThePercentileAndTheMean) {
    // Source grey 100; the picture is 150 on its right half. Well inside each half the blur
    // leaves the greys as they are.
    const Picture source = flat(64, 16, {100, 100, 100});
    const Picture picture = pattern(64, 16, [](int x, int) {
        return x < 32 ? Rgb{100, 100, 100} : Rgb{150, 150, 150};
    });
    const double whole =
        figures(flat(64, 16, {100, 100, 100}), flat(64, 16, {150, 150, 150})).delta_e_mean;
    const quality::Figures f = figures(source, picture);
    EXPECT_NEAR(f.delta_e_p95, whole, 1e-6);
    EXPECT_GT(f.delta_e_mean, 0.4 * whole);
    EXPECT_LT(f.delta_e_mean, 0.6 * whole);
}

TEST(Figures, TheBlurWorksInLinearLight) {
    // A fine black and white checkerboard looks like the grey of half the light (sRGB 188), not
    // like the grey halfway in sRGB values (128).
    const Picture board = pattern(64, 64, [](int x, int y) {
        return (x + y) % 2 ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
    });
    const double near_half_light = figures(board, flat(64, 64, {188, 188, 188})).delta_e_mean;
    const double half_values = figures(board, flat(64, 64, {128, 128, 128})).delta_e_mean;
    EXPECT_LT(near_half_light, 3.0);
    EXPECT_GT(half_values, 10.0);
}

TEST(Figures, SsimAndPsnrOfFlatPicturesFollowTheirDefinitions) {
    // Flat pictures have no variance: SSIM is its luminance term alone, with C1 = (0.01 * 255)^2.
    const double c1 = 2.55 * 2.55;
    const quality::Figures f =
        figures(flat(24, 16, {100, 100, 100}), flat(24, 16, {150, 150, 150}));
    EXPECT_NEAR(f.ssim, (2 * 100.0 * 150 + c1) / (100.0 * 100 + 150.0 * 150 + c1), 1e-9);

    // Blue off by 10 everywhere: the mean square error over the three channels is 100 / 3.
    const quality::Figures g =
        figures(flat(24, 16, {100, 100, 100}), flat(24, 16, {100, 100, 110}));
    EXPECT_NEAR(g.psnr, 10 * std::log10(255.0 * 255.0 * 3 / 100), 1e-9);
}

TEST(Figures, SsimSeesStructureThatTheMeanColourHides) {
    // Same mean luma, opposite texture: SSIM drops well below that of a mere brightness shift.
    const Picture stripes = pattern(32, 32, [](int x, int) {
        return x % 2 ? Rgb{180, 180, 180} : Rgb{60, 60, 60};
    });
    const Picture inverted = pattern(32, 32, [](int x, int) {
        return x % 2 ? Rgb{60, 60, 60} : Rgb{180, 180, 180};
    });
    const Picture brighter = pattern(32, 32, [](int x, int) {
        return x % 2 ? Rgb{200, 200, 200} : Rgb{80, 80, 80};
    });
    EXPECT_LT(figures(stripes, inverted).ssim, 0.0);
    EXPECT_GT(figures(stripes, brighter).ssim, 0.9);
}

TEST(MeasuredPictures, TheTableDisplayIsWhatThePreviewShows) {
    auto conv = converted(busy_picture(48, 32));
    const Picture shown = quality::displayed_picture(*conv, Display::table);
    ASSERT_EQ(shown.width, 48);
    ASSERT_EQ(shown.height, 32);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 48; ++x) {
            const Rgb& c = shown.pixels[static_cast<std::size_t>(y * 48 + x)];
            for (int k = 0; k < 2; ++k) {
                // Both diagonal pixels of the 2x2 block, bytes blue, green, red.
                const std::uint8_t* p =
                    conv->preview.data() + 54 + (2 * y + k) * preview_row_bytes + (2 * x + k) * 3;
                ASSERT_EQ(c.r, p[2]) << x << "," << y;
                ASSERT_EQ(c.g, p[1]) << x << "," << y;
                ASSERT_EQ(c.b, p[0]) << x << "," << y;
            }
        }
    }
}

TEST(MeasuredPictures, TheChipDisplayShowsTheChipsColourOfEachColourNumber) {
    auto conv = converted(busy_picture(48, 32));
    const Picture table = quality::displayed_picture(*conv, Display::tms9918);
    const Picture shown = quality::displayed_picture(*conv, Display::table);
    const Palette& chip = quality::tms9918_colours();
    EXPECT_EQ(chip[2].r, 52);
    EXPECT_EQ(chip[2].g, 192);
    EXPECT_EQ(chip[2].b, 64);
    EXPECT_EQ(chip[15].r, 249);
    int coloured = 0;
    for (std::size_t i = 0; i < shown.pixels.size(); ++i) {
        // The MSX1 display colours are all different except 0 and 1, which the chip shows
        // alike, so a display colour names the chip's colour.
        bool found = false;
        for (int n = 0; n < 16 && !found; ++n) {
            const Rgb& d = conv->display[static_cast<std::size_t>(n)];
            if (d.r == shown.pixels[i].r && d.g == shown.pixels[i].g && d.b == shown.pixels[i].b) {
                const Rgb& expected = chip[static_cast<std::size_t>(n)];
                EXPECT_EQ(table.pixels[i].r, expected.r);
                EXPECT_EQ(table.pixels[i].g, expected.g);
                EXPECT_EQ(table.pixels[i].b, expected.b);
                found = true;
                coloured += n > 1;
            }
        }
        EXPECT_TRUE(found) << "pixel " << i;
    }
    EXPECT_GT(coloured, 0);
}

TEST(MeasuredPictures, TheSourceIsCroppedAndShiftedButNotAdjusted) {
    // 40 x 21: converted 32 wide from column 3 (correction 3), 16 rows with 2 dropped at the
    // bottom and 3 at the top.
    const std::vector<std::uint8_t> bmp = busy_picture(40, 21);
    ConversionSettings plain;
    plain.horizontal_position_correction = 3;
    ConversionSettings adjusted = plain;
    adjusted.gamma = 6;
    adjusted.color_d = 10;
    adjusted.index_r = 1;
    adjusted.edge_emph = 1;
    adjusted.hue = 4;
    const Picture a = quality::source_picture(*converted(bmp, plain));
    const Picture b = quality::source_picture(*converted(bmp, adjusted));
    ASSERT_EQ(a.width, 32);
    ASSERT_EQ(a.height, 16);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 32; ++x) {
            const Rgb& c = a.pixels[static_cast<std::size_t>(y * 32 + x)];
            // busy_picture's colour of source pixel (x + 3, y + 3).
            const int sx = x + 3, sy = y + 3;
            ASSERT_EQ(c.r, (sx * 7 + sy) & 0xFF);
            ASSERT_EQ(c.g, sx < 20 ? 30 : (200 - sy * 3) & 0xFF);
            ASSERT_EQ(c.b, ((sx ^ sy) * 16) & 0xFF);
            const Rgb& d = b.pixels[static_cast<std::size_t>(y * 32 + x)];
            ASSERT_TRUE(c.r == d.r && c.g == d.g && c.b == d.b);
        }
    }
}
