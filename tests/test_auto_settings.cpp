// The settings search: never worse, within its budget and the controls' values, palette and
// columns kept.
#include <gtest/gtest.h>

#include "quality/auto_settings.hpp"
#include "support/conversion_fixture.hpp"

using namespace lumaweave;

namespace {

// Smooth shading with a few hard edges, like a small photograph.
std::string photo_like(const test::ScratchDir& dir, const std::string& name, int width,
                       int height) {
    test::write_file(dir / name, test::make_bmp(width, height, [](int x, int y) {
                         return test::Color{
                             static_cast<std::uint8_t>(y < 30 ? 90 + x : 150 + x * y % 60),
                             static_cast<std::uint8_t>(y < 30 ? 140 + y : 110 - y / 2),
                             static_cast<std::uint8_t>(y < 30 ? 220 - x : 60 + x / 5 * 3)};
                     }));
    return (dir / name).string();
}

}  // namespace

TEST(SettingsSearch, NeverWorseWithinItsBudgetAndTheControlsValuesAndKeepsPaletteAndColumns) {
    test::ScratchDir dir;
    // 112 rows: trials convert six 8-row bands. 48 rows: trials convert the whole picture; 72
    // wide with a position correction it shows 64 columns.
    const std::string tall = photo_like(dir, "tall.bmp", 32, 112);
    const ConversionSettings start{
        .palette = 2, .horizontal_position_correction = 3, .hue = 2, .gamma = -3};
    quality::SettingsSearch search;
    ConversionSettings chosen_last;
    for (const auto& [path, budget, display, from] :
         {std::tuple{tall, 0.25, quality::Display::table, ConversionSettings{}},
          std::tuple{photo_like(dir, "wide.bmp", 72, 48), 0.4, quality::Display::tms9918, start}}) {
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
        EXPECT_TRUE(path == tall ? r.conversions <= 2 : r.conversions > 1) << r.conversions;
        // The figures are those of the settings reported, whose conversion the search leaves.
        const Result first = test::converted(path, r.start),
                     chosen = test::converted(path, r.chosen);
        EXPECT_DOUBLE_EQ(r.start_mean, quality::measure_conversion(first, display).delta_e_mean);
        EXPECT_DOUBLE_EQ(r.chosen_mean, quality::measure_conversion(chosen, display).delta_e_mean);
        EXPECT_TRUE(search.result().vram == chosen.vram);
        chosen_last = r.chosen;
    }
    EXPECT_NE(chosen_last, start);  // better settings found for the last picture
    // A file that cannot be converted gives its status and the start.
    const quality::SearchResult narrow =
        quality::choose_settings(photo_like(dir, "n.bmp", 20, 16), start, {});
    EXPECT_EQ(narrow.outcome.status, Status::width_not_multiple_of_8);
    EXPECT_EQ(narrow.chosen, start);
}
