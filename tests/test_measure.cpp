// The perceptual error measure: CIEDE2000 against the published test pairs, the figures on
// pictures whose answer is known, and the two pictures a conversion is measured on.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "quality/measure.hpp"
#include "support/batch_host.hpp"

using namespace lumaweave;
using quality::Picture;

namespace {

// A `width` x `height` picture whose pixel (x, y) is the grey v(x, y).
Picture grey(int width, int height, const std::function<int(int, int)>& v) {
    Picture p{width, height, {}};
    for (int i = 0; i < width * height; ++i) {
        const int g = v(i % width, i / width);
        p.pixels.push_back({g, g, g});
    }
    return p;
}

quality::Figures figures(const Picture& reference, const Picture& picture) {
    quality::Meter meter;
    meter.set_reference(reference);
    return meter.measure(picture);
}

// L* of an sRGB grey by the textbook definitions, apart from the code under test.
double lightness(int v) {
    const double c = v / 255.0;
    const double y = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    return y > 216.0 / 24389.0 ? 116 * std::cbrt(y) - 16 : 24389.0 / 27.0 * y;
}

bool same(const Rgb& a, const Rgb& b) {
    return a.r == b.r && a.g == b.g && a.b == b.b;
}

}  // namespace

TEST(Ciede2000, MatchesEveryPublishedTestPairBothWaysRound) {
    std::ifstream in(std::string(LUMAWEAVE_TEST_DATA) + "/ciede2000_pairs.tsv");
    int pairs = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        quality::Lab x{}, y{};
        double expected = 0;
        ASSERT_TRUE(fields >> x.l >> x.a >> x.b >> y.l >> y.a >> y.b >> expected) << line;
        ++pairs;
        // The published values have four decimals.
        EXPECT_NEAR(quality::ciede2000(x, y), expected, 5e-5) << line;
        EXPECT_NEAR(quality::ciede2000(y, x), expected, 5e-5) << line;
    }
    EXPECT_EQ(pairs, 34);
}

TEST(ColourSpace, SrgbToLabAndNearestRankMatchKnownValues) {
    const auto lab_error = [](int r, int g, int b, const quality::Lab& expected) {
        const quality::Lab c = quality::linear_to_lab(
            quality::srgb_to_linear(r), quality::srgb_to_linear(g), quality::srgb_to_linear(b));
        return std::hypot(c.l - expected.l, c.a - expected.a, c.b - expected.b);
    };
    // sRGB red and blue under D65; a dark grey is on the linear part of the curve.
    EXPECT_LT(lab_error(255, 0, 0, {53.24, 80.09, 67.20}), 0.01);
    EXPECT_LT(lab_error(0, 0, 255, {32.30, 79.19, -107.86}), 0.01);
    EXPECT_LT(lab_error(3, 3, 3, {lightness(3), 0, 0}), 1e-6);
    std::vector<double> ten{10, 1, 9, 2, 8, 3, 7, 4, 6, 5};
    EXPECT_EQ(quality::nearest_rank(ten, 0.95), 10);  // rank 9.5 rounds up
    EXPECT_EQ(quality::nearest_rank(ten, 0.5), 5);
}

TEST(Figures, IdenticalPicturesGiveNoErrorAndInfinitePsnr) {
    const Picture p = grey(40, 24, [](int x, int y) { return (x * 37 + y * 11) & 0xFF; });
    const quality::Figures f = figures(p, p);
    EXPECT_EQ(f.delta_e_mean + f.delta_e_p95, 0.0);
    EXPECT_NEAR(f.ssim, 1.0, 1e-12);
    EXPECT_TRUE(std::isinf(f.psnr) && f.psnr > 0);
}

TEST(Figures, KnownShiftsGiveTheirCiede2000SsimAndPsnr) {
    // For greys CIEDE2000 is the lightness term alone; the blur keeps flat pictures flat.
    const double l1 = lightness(100), l2 = lightness(150), m = (l1 + l2) / 2 - 50;
    const double expected = (l2 - l1) / (1 + 0.015 * m * m / std::sqrt(20 + m * m));
    const Picture source = grey(64, 16, [](int, int) { return 100; });
    const quality::Figures f = figures(source, grey(64, 16, [](int, int) { return 150; }));
    EXPECT_NEAR(f.delta_e_mean, expected, 1e-6);
    EXPECT_NEAR(f.delta_e_p95, expected, 1e-6);
    // SSIM of flat pictures is its luminance term alone, with C1 = (0.01 * 255)^2.
    EXPECT_NEAR(f.ssim, (2 * 100.0 * 150 + 6.5025) / (100.0 * 100 + 150.0 * 150 + 6.5025), 1e-9);
    // Shifted on the right half: all of it in the percentile, about half in the mean.
    const Picture half = grey(64, 16, [](int x, int) { return x < 32 ? 100 : 150; });
    EXPECT_NEAR(figures(source, half).delta_e_p95, expected, 1e-6);
    EXPECT_NEAR(figures(source, half).delta_e_mean, expected / 2, 0.1 * expected);
    // One channel off by 10: the mean square error over the three is 100 / 3.
    Picture blue = source;
    for (Rgb& c : blue.pixels)
        c.b += 10;
    EXPECT_NEAR(figures(source, blue).psnr, 10 * std::log10(255.0 * 255 * 3 / 100), 1e-9);
    // A black and white checkerboard looks like half the light (sRGB 188), not sRGB 128.
    const Picture board = grey(64, 64, [](int x, int y) { return (x + y) % 2 * 255; });
    EXPECT_LT(figures(board, grey(64, 64, [](int, int) { return 188; })).delta_e_mean, 3.0);
    EXPECT_GT(figures(board, grey(64, 64, [](int, int) { return 128; })).delta_e_mean, 10.0);
    // Inverted stripes have the same mean but the opposite structure.
    const auto stripes = [](int odd) {
        return grey(32, 32, [=](int x, int) { return x % 2 ? odd : 240 - odd; });
    };
    EXPECT_LT(figures(stripes(60), stripes(180)).ssim, 0.0);
}

TEST(MeasuredPictures, SourceUnadjustedAndDisplaysDecodedFromThePreview) {
    // 40 x 21 converted 32 wide from column 3 (correction 3), 16 rows from row 3.
    test::ScratchDir dir;
    const std::vector<std::uint8_t> bmp = test::make_noise_bmp(40, 21, 5);
    test::write_file(dir / "p.bmp", bmp);
    ConversionSettings s{.horizontal_position_correction = 3, .hue = 4, .gamma = 6, .color_d = 10};
    const auto conv = test::converted(dir / "p.bmp", s);
    const Picture source = quality::source_picture(*conv);
    const Picture shown = quality::displayed_picture(*conv, quality::Display::table);
    const Picture chip = quality::displayed_picture(*conv, quality::Display::tms9918);
    ASSERT_TRUE(source.width == 32 && source.height == 16 && shown.width == 32 &&
                chip.height == 16);
    EXPECT_TRUE(same(quality::tms9918_colours()[2], {52, 192, 64}));
    for (int i = 0; i < 32 * 16; ++i) {
        const int x = i % 32, y = i / 32;
        const std::uint8_t* b = &bmp[54 + (17 - y) * 120 + (x + 3) * 3];  // rows bottom-up
        ASSERT_TRUE(same(source.pixels[i], {b[2], b[1], b[0]})) << i;
        // Both diagonal pixels of the 2x2 block in the preview (blue, green, red).
        for (int k = 0; k < 2; ++k) {
            const std::uint8_t* p =
                conv->preview.data() + 54 + (2 * y + k) * preview_row_bytes + (2 * x + k) * 3;
            ASSERT_TRUE(same(shown.pixels[i], {p[2], p[1], p[0]})) << i;
        }
        // The chip shows the colour number of the display colour (MSX1: 0 and 1 alike).
        int n = 0;
        while (n < 15 && !same(conv->display[n], shown.pixels[i]))
            ++n;
        EXPECT_TRUE(same(chip.pixels[i], quality::tms9918_colours()[n])) << i;
    }
}
