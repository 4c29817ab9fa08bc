// The settings search: never worse than its start, its result the conversion of the settings it
// reports, within its budget, the same choice every time, the palette and columns kept.
#include <gtest/gtest.h>

#include <utility>

#include "quality/auto_settings.hpp"
#include "support/batch_host.hpp"

using namespace lumaweave;
using quality::Display;
using quality::SearchResult;

namespace {

// Writes a picture of smooth shading with a few hard edges, like a small photograph.
std::string photo_like(const test::ScratchDir& dir, const std::string& name, int width,
                       int height) {
    test::write_file(dir / name, test::make_bmp(width, height, [=](int x, int y) {
                         const bool sky = y < height / 3;
                         return test::Color{
                             static_cast<std::uint8_t>(sky ? 90 + x / 2 : 150 + (x * y) % 60),
                             static_cast<std::uint8_t>(sky ? 140 + y : 110 - y / 2 + x % 7),
                             static_cast<std::uint8_t>(sky ? 220 - x / 3 : 60 + (x / 5) * 3)};
                     }));
    return (dir / name).string();
}

// The budget that converting a `width` x `height` picture whole takes.
double whole(int width, int height) {
    return width * height / (256.0 * 192.0);
}

auto figures(const SearchResult& r) {
    return std::tuple(r.chosen_mean, r.start_mean, r.conversions, r.trials, r.cost);
}

}  // namespace

TEST(SettingsSearch, NeverWorseWithinItsBudgetTheSameEveryTimeAndLeavesTheResult) {
    test::ScratchDir dir;
    // 112 rows: trials convert six 8-row bands. 48 rows: trials convert the whole picture.
    const std::string tall = photo_like(dir, "tall.bmp", 32, 112);
    const std::string small = photo_like(dir, "small.bmp", 40, 48);
    quality::SettingsSearch search;
    ScratchPool pool;
    int previous_trials = -1;
    for (const auto& [path, budget, display] :
         {std::tuple{tall, 0.25, Display::table}, std::tuple{tall, 0.5, Display::tms9918},
          std::tuple{small, 0.4, Display::tms9918}}) {
        const quality::SearchOptions options{.display = display, .budget = budget};
        const SearchResult r = search.run(pool, path, {}, {}, options);
        ASSERT_EQ(r.message, "");
        EXPECT_EQ(r.start, ConversionSettings{});
        EXPECT_LE(r.chosen_mean, r.start_mean);
        EXPECT_LE(r.cost, budget + 1e-9);
        if (path == tall) {  // the start and the winner converted whole
            EXPECT_LE(r.conversions, 2);
            EXPECT_NEAR(r.cost, r.conversions * whole(32, 112) + r.trials * whole(32, 48), 1e-9);
            EXPECT_GT(r.trials, std::exchange(previous_trials, r.trials));
        } else {
            EXPECT_EQ(r.trials, 0);
            EXPECT_GT(r.conversions, 1);
            EXPECT_NEAR(r.cost, r.conversions * whole(40, 48), 1e-9);
        }
        // The figures are those of the settings reported, whose conversion the search leaves.
        EXPECT_DOUBLE_EQ(
            r.start_mean,
            quality::measure_conversion(*test::converted(path, r.start), display).delta_e_mean);
        const auto chosen = test::converted(path, r.chosen);
        EXPECT_DOUBLE_EQ(r.chosen_mean, quality::measure_conversion(*chosen, display).delta_e_mean);
        EXPECT_EQ(search.result().settings, r.chosen);
        EXPECT_TRUE(search.result().vram == chosen->vram);
        // A fresh search, after another picture or not, chooses the same.
        const SearchResult fresh = quality::choose_settings(path, {}, {}, options);
        EXPECT_EQ(fresh.chosen, r.chosen);
        EXPECT_EQ(figures(fresh), figures(r));
    }
}

TEST(SettingsSearch, FindsBetterSettingsButKeepsThePaletteAndTheColumns) {
    test::ScratchDir dir;
    // 72 wide: with a position correction it shows 64 columns.
    const std::string path = photo_like(dir, "p.bmp", 72, 48);
    const ConversionSettings start{
        .palette = 2, .horizontal_position_correction = 3, .hue = 2, .gamma = -3};
    for (Display display : {Display::table, Display::tms9918}) {
        const SearchResult r =
            quality::choose_settings(path, start, {}, {.display = display, .budget = 0.4});
        ASSERT_EQ(r.message, "");
        EXPECT_EQ(r.chosen.palette, 2);
        EXPECT_EQ(r.chosen.horizontal_position_correction, 3);
        EXPECT_LT(r.chosen_mean, r.start_mean);
    }
    int searched = 0;
    for (const SettingField& f : setting_fields())
        searched += quality::searched_field(f);
    EXPECT_EQ(searched, static_cast<int>(setting_fields().size()) - 2);
    // A file that cannot be converted gives its message and the start.
    const SearchResult narrow =
        quality::choose_settings(photo_like(dir, "n.bmp", 20, 16), start, {});
    EXPECT_EQ(narrow.message, msg::width_not_multiple_of_8);
    EXPECT_EQ(narrow.chosen, start);
}
