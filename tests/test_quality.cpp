// The error measure (CIEDE2000, known figures, the two pictures a conversion is measured on) and
// the settings search: never worse, within its budget and the controls' values, palette and
// columns kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <sstream>

#include "batch/thread_pool.hpp"
#include "quality/auto_settings.hpp"
#include "quality/measure.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
using quality::Picture;

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

// For greys CIEDE2000 is the lightness term alone (L* by the textbook definitions, apart from the
// code under test); the blur keeps flat pictures flat.
TEST(Figures, AKnownShiftOfGreysGivesItsCiede2000) {
    const auto lightness = [](int v) {
        const double c = v / 255.0;
        const double y = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        return y > 216.0 / 24389.0 ? 116 * std::cbrt(y) - 16 : 24389.0 / 27.0 * y;
    };
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

// 40 x 21 converted 32 wide from column 3 (correction 3), 16 rows from row 3: the source as it
// was before any adjustment, the display as the preview shows it.
TEST(Figures, SourceUnadjustedAndDisplayDecodedFromThePreview) {
    test::ScratchDir dir;
    const test::RgbPicture picture = test::make_noise(40, 21, 5);
    test::write_file(dir / "p.bmp", picture.bmp());
    ConversionSettings s{.horizontal_position_correction = 3, .hue = 4, .gamma = 6, .color_d = 10};
    const Result r = test::converted(dir / "p.bmp", s);
    const Picture source = quality::source_picture(r);
    const Picture shown = quality::displayed_picture(r);
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

// Smooth shading with a few hard edges, like a small photograph. 112 rows: trials convert six
// 8-row bands. 48 rows: trials convert the whole picture; 72 wide with a position correction it
// shows 64 columns.
TEST(SettingsSearch, NeverWorseWithinItsBudgetAndTheControlsValuesAndKeepsPaletteAndColumns) {
    test::ScratchDir dir;
    const auto photo_like = [&](const std::string& name, int width, int height) {
        test::write_file(dir / name, test::make_bmp(width, height, [](int x, int y) {
                             return test::Color{
                                 static_cast<std::uint8_t>(y < 30 ? 90 + x : 150 + x * y % 60),
                                 static_cast<std::uint8_t>(y < 30 ? 140 + y : 110 - y / 2),
                                 static_cast<std::uint8_t>(y < 30 ? 220 - x : 60 + x / 5 * 3)};
                         }));
        return (dir / name).string();
    };
    const std::string tall = photo_like("tall.bmp", 32, 112);
    const ConversionSettings start{
        .palette = 2, .horizontal_position_correction = 3, .hue = 2, .gamma = -3};
    quality::SettingsSearch search;
    ConversionSettings chosen_last;
    const std::string wide = photo_like("wide.bmp", 72, 48);
    for (const auto& [path, budget, display, from] :
         {std::tuple{tall, 0.25, table_display(), ConversionSettings{}},
          std::tuple{tall, 3.0, *find_display("tms9918"), ConversionSettings{}},
          std::tuple{wide, 12.0, *find_display("tms9918"), start},
          std::tuple{wide, 0.4, table_display(), start}}) {
        const quality::SearchResult r =
            search.run(path, from, {}, {.display = display, .budget = budget});
        ASSERT_TRUE(r.outcome.ok()) << shown_text(r.outcome);
        EXPECT_EQ(r.start, from);
        EXPECT_EQ(std::tuple(r.chosen.palette, r.chosen.horizontal_position_correction),
                  std::tuple(from.palette, from.horizontal_position_correction));
        for (const SettingField& field : setting_fields())
            EXPECT_TRUE(field.accepts(r.chosen.*field.member)) << field.name;
        EXPECT_LE(r.chosen_mean, r.start_mean);
        EXPECT_LE(r.cost, budget + 1e-9);
        EXPECT_EQ(r.trials > 0, path == tall) << r.trials;
        // A sampled search confirms at most three settings whole: the classic descent's and two
        // more.
        EXPECT_TRUE(path == tall ? r.conversions <= 4 : r.conversions > 1) << r.conversions;
        // The figures are those of the settings reported, whose conversion the search leaves.
        const Result first = test::converted(path, r.start, {}, display),
                     chosen = test::converted(path, r.chosen, {}, display);
        EXPECT_DOUBLE_EQ(r.start_mean, quality::measure_conversion(first).delta_e_mean);
        EXPECT_DOUBLE_EQ(r.chosen_mean, quality::measure_conversion(chosen).delta_e_mean);
        EXPECT_TRUE(search.result().vram == chosen.vram &&
                    search.result().display == chosen.display);
        chosen_last = r.chosen;
    }
    EXPECT_NE(chosen_last, start);  // better settings found for the last picture
    // A file that cannot be converted gives its status and the start.
    const quality::SearchResult narrow =
        quality::choose_settings(photo_like("n.bmp", 20, 16), start, {});
    EXPECT_EQ(std::tie(narrow.outcome.status, narrow.chosen),
              std::tuple(Status::width_not_multiple_of_8, start));
}

// The budget beyond the classic descent only ever replaces that descent's choice by one with a
// lower mean, a lower search score and a 95th percentile no higher. For a picture tried whole and
// a sampled one, on both kinds of display.
TEST(SettingsSearch, BeyondTheClassicDescentAChoiceKeepsTheScoreAndThe95thPercentile) {
    test::ScratchDir dir;
    // Parts of a photograph: one small enough to be tried whole, one tall enough to be sampled.
    const Result photo = test::converted(std::string(LUMAWEAVE_SAMPLES) + "/astronaut.bmp");
    ASSERT_TRUE(photo.ok());
    const auto part = [&](const std::string& name, int left, int top, int width, int height) {
        test::write_file(
            dir / name, test::make_bmp(width, height, [&](int x, int y) {
                const std::uint8_t* p =
                    &photo.source[3 * static_cast<std::size_t>((top + y) * photo.width + left + x)];
                return test::Color{p[0], p[1], p[2]};
            }));
        return (dir / name).string();
    };
    const std::string whole = part("face.bmp", 96, 16, 64, 48),
                      sampled = part("tall.bmp", 120, 40, 32, 144);
    int replaced = 0;
    for (const std::string& path : {whole, sampled}) {
        for (const Display& display : named_displays()) {
            SCOPED_TRACE(path + " " + display.name);
            quality::SettingsSearch search;
            const quality::SearchResult r =
                search.run(path, {}, {}, {.display = display, .budget = 14});
            ASSERT_TRUE(r.outcome.ok());
            if (r.chosen == r.classic) continue;
            ++replaced;
            const quality::Figures classic =
                quality::measure_conversion(test::converted(path, r.classic, {}, display));
            const quality::Figures chosen =
                quality::measure_conversion(test::converted(path, r.chosen, {}, display));
            EXPECT_LT(chosen.delta_e_mean, classic.delta_e_mean);
            EXPECT_LT(quality::search_score(chosen), quality::search_score(classic));
            EXPECT_LE(chosen.delta_e_p95, classic.delta_e_p95);
        }
    }
    EXPECT_GT(replaced, 0);  // the larger budget found something in some case
}

namespace {

// Runs the tasks in a scrambled order, as a pool whose threads pick them up out of turn would.
class ScrambledWorkers final : public Workers {
  public:
    int count() const override { return 3; }
    void for_each(int n, const std::function<void(int)>& task) override {
        std::vector<int> order(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            order[static_cast<std::size_t>(i)] = (i * 7 + calls_) % n;
        // (i * 7 + c) mod n visits every index when n shares no factor with 7; else fill in.
        std::vector<bool> seen(static_cast<std::size_t>(n));
        for (int& i : order) {
            while (seen[static_cast<std::size_t>(i)])
                i = (i + 1) % n;
            seen[static_cast<std::size_t>(i)] = true;
        }
        std::reverse(order.begin(), order.end());
        ++calls_;
        for (int i : order)
            task(i);
    }

  private:
    int calls_ = 0;
};

}  // namespace

// The same choice, figures, work and result on one thread, on a pool that runs the trials out of
// order, and on three threads (more than a round's trials divide evenly among); for a sampled
// picture and one tried whole, on both kinds of display.
TEST(SettingsSearch, ChoosesTheSameOnAnyNumberOfThreadsAndInAnyOrder) {
    test::ScratchDir dir;
    const auto shaded = [&](const std::string& name, int width, int height) {
        test::write_file(dir / name, test::make_bmp(width, height, [](int x, int y) {
                             return test::Color{static_cast<std::uint8_t>(40 + 3 * x + y),
                                                static_cast<std::uint8_t>(200 - 2 * y + x % 5),
                                                static_cast<std::uint8_t>(x * y % 97 + 60)};
                         }));
        return (dir / name).string();
    };
    const std::string tall = shaded("tall.bmp", 16, 112), small = shaded("small.bmp", 16, 24);
    ScrambledWorkers scrambled;
    ThreadPool three(3);
    for (const std::string& path : {tall, small}) {
        for (const Display& display : named_displays()) {
            const quality::SearchOptions options{.display = display, .budget = 9};
            std::optional<quality::SearchResult> first;
            std::vector<std::uint8_t> first_vram;
            for (Workers* workers : {&serial_workers(), static_cast<Workers*>(&scrambled),
                                     static_cast<Workers*>(&three)}) {
                quality::SettingsSearch search(*workers);
                const quality::SearchResult r = search.run(path, {}, {}, options);
                ASSERT_TRUE(r.outcome.ok());
                if (!first) {
                    first = r;
                    first_vram = search.result().vram;
                    continue;
                }
                EXPECT_EQ(r.chosen, first->chosen) << path << " " << display.name;
                EXPECT_EQ(std::tie(r.chosen_mean, r.chosen_score, r.cost, r.trials, r.conversions),
                          std::tie(first->chosen_mean, first->chosen_score, first->cost,
                                   first->trials, first->conversions));
                EXPECT_TRUE(search.result().vram == first_vram);
            }
        }
    }
}
