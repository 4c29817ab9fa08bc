// The error measure: CIEDE2000, known figures, and the two pictures a conversion is measured on.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "quality/measure.hpp"
#include "support/conversion_fixture.hpp"

using namespace lumaweave;
using quality::Picture;

namespace {

// L* of an sRGB grey by the textbook definitions, apart from the code under test.
double lightness(int v) {
    const double c = v / 255.0;
    const double y = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    return y > 216.0 / 24389.0 ? 116 * std::cbrt(y) - 16 : 24389.0 / 27.0 * y;
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
        EXPECT_NEAR(quality::ciede2000(x, y), expected, 5e-5) << line;  // published: 4 decimals
        EXPECT_NEAR(quality::ciede2000(y, x), expected, 5e-5) << line;
    }
    EXPECT_EQ(pairs, 34);
}

TEST(Figures, AKnownShiftOfGreysGivesItsCiede2000) {
    // For greys CIEDE2000 is the lightness term alone; the blur keeps flat pictures flat.
    const double l1 = lightness(100), l2 = lightness(150), m = (l1 + l2) / 2 - 50;
    const double expected = (l2 - l1) / (1 + 0.015 * m * m / std::sqrt(20 + m * m));
    const auto grey = [](int v) { return Picture{64, 16, std::vector<Rgb>(64 * 16, {v, v, v})}; };
    quality::Meter meter;
    meter.set_reference(grey(100));
    const quality::Figures f = meter.measure(grey(150));
    EXPECT_NEAR(f.delta_e_mean, expected, 1e-6);
    EXPECT_NEAR(f.delta_e_p95, expected, 1e-6);
    const quality::Figures same = meter.measure(grey(100));
    EXPECT_TRUE(same.delta_e_mean == 0 && same.delta_e_p95 == 0 && same.ssim == 1);
    EXPECT_TRUE(std::isinf(same.psnr) && same.psnr > 0);
}

TEST(MeasuredPictures, SourceUnadjustedAndDisplayDecodedFromThePreview) {
    // 40 x 21 converted 32 wide from column 3 (correction 3), 16 rows from row 3.
    test::ScratchDir dir;
    const test::RgbPicture picture = test::make_noise(40, 21, 5);
    test::write_file(dir / "p.bmp", picture.bmp());
    ConversionSettings s{.horizontal_position_correction = 3, .hue = 4, .gamma = 6, .color_d = 10};
    const Result r = test::converted(dir / "p.bmp", s);
    const Picture source = quality::source_picture(r);
    const Picture shown = quality::displayed_picture(r, quality::Display::table);
    ASSERT_TRUE(source.width == 32 && source.height == 16 && shown.width == 32);
    for (int i = 0; i < 32 * 16; ++i) {
        const int x = i % 32, y = i / 32;
        const test::Color b = picture.at(x + 3, y + 3);
        // Both diagonal pixels of the 2x2 block in the preview.
        const std::uint8_t* p = &r.preview[(std::size_t{2} * y * 512 + 2 * x) * 3];
        const std::uint8_t* q = p + 513 * 3;
        const Rgb &c = source.pixels[i], &d = shown.pixels[i];
        ASSERT_TRUE(c.r == b.r && c.g == b.g && c.b == b.b) << i;
        ASSERT_TRUE(d.r == p[0] && d.g == p[1] && d.b == p[2] && std::equal(p, p + 3, q)) << i;
    }
}
