// The settings search: never worse than where it starts, its result the conversion of the
// settings it reports, within its budget, the same choice every time, and the palette and
// columns left as the user set them. Also the batch converter that measures and searches.
#include <gtest/gtest.h>

#include "convert/convert.hpp"
#include "io/messages.hpp"
#include "quality/auto_settings.hpp"
#include "quality/quality_converter.hpp"
#include "support/conversion_fixture.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
using quality::Display;
using quality::SearchOptions;
using quality::SearchResult;

namespace {

// Smooth shading with a few hard edges, like a small photograph.
std::vector<std::uint8_t> photo_like(int width, int height) {
    return test::make_bmp(width, height, [=](int x, int y) {
        const int sky = y < height / 3;
        return test::Color{static_cast<std::uint8_t>(sky ? 90 + x / 2 : 150 + (x * y) % 60),
                           static_cast<std::uint8_t>(sky ? 140 + y : 110 - y / 2 + x % 7),
                           static_cast<std::uint8_t>(sky ? 220 - x / 3 : 60 + (x / 5) * 3)};
    });
}

struct Figure {
    std::vector<std::uint8_t> vram;
    double mean;
};

// Converts and measures apart from the search.
Figure convert_and_measure(const std::string& path, const ConversionSettings& s, Display display) {
    auto conv = make_conversion();
    ScratchPool pool;
    EXPECT_EQ(convert_file(*conv, pool, path, s, DefaultPalettes{}), "");
    return {{conv->vram.begin(), conv->vram.end()},
            quality::measure_conversion(*conv, display).delta_e_mean};
}

double whole_cost(int width, int height) {
    return width * height / (256.0 * 192.0);
}

}  // namespace

TEST(SettingsSearch, NeverWorseAndLeavesTheConversionOfTheSettingsItReports) {
    test::ScratchDir dir;
    // 112 rows: tried on sampled bands and confirmed whole. 48 rows: tried whole.
    test::write_file(dir / "tall.bmp", photo_like(32, 112));
    test::write_file(dir / "small.bmp", photo_like(40, 48));
    quality::SettingsSearch search;
    ScratchPool pool;
    const std::pair<const char*, Display> cases[] = {{"tall.bmp", Display::table},
                                                     {"small.bmp", Display::tms9918}};
    for (const auto& [name, display] : cases) {
        SCOPED_TRACE(name);
        const std::string path = (dir / name).string();
        SearchOptions options;
        options.display = display;
        options.budget = 0.4;
        const SearchResult r =
            search.run(pool, path, ConversionSettings{}, DefaultPalettes{}, options);
        ASSERT_EQ(r.message, "");
        EXPECT_EQ(r.start, ConversionSettings{});
        EXPECT_LE(r.chosen_mean, r.start_mean);
        EXPECT_DOUBLE_EQ(r.start_mean, convert_and_measure(path, r.start, display).mean);
        const Figure chosen = convert_and_measure(path, r.chosen, display);
        EXPECT_DOUBLE_EQ(r.chosen_mean, chosen.mean);
        const Conversion& result = search.result();
        EXPECT_EQ(result.settings, r.chosen);
        EXPECT_TRUE(std::equal(chosen.vram.begin(), chosen.vram.end(), result.vram.begin()));
    }
}

TEST(SettingsSearch, FindsBetterSettingsForAPhotoLikePicture) {
    test::ScratchDir dir;
    test::write_file(dir / "p.bmp", photo_like(32, 112));
    for (Display display : {Display::table, Display::tms9918}) {
        SearchOptions options;
        options.display = display;
        options.budget = 0.4;
        const SearchResult r =
            quality::choose_settings((dir / "p.bmp").string(), ConversionSettings{}, {}, options);
        ASSERT_EQ(r.message, "");
        EXPECT_LT(r.chosen_mean, r.start_mean) << quality::display_name(display);
        EXPECT_NE(r.chosen, r.start);
    }
}

TEST(SettingsSearch, StaysWithinItsBudget) {
    test::ScratchDir dir;
    test::write_file(dir / "tall.bmp", photo_like(32, 112));
    test::write_file(dir / "small.bmp", photo_like(40, 48));
    const std::string tall = (dir / "tall.bmp").string();
    quality::SettingsSearch search;
    ScratchPool pool;

    // Sampled: six 8-row bands per trial; the start and the winner converted whole.
    int previous_trials = -1;
    for (double budget : {0.25, 0.5}) {
        SearchOptions options;
        options.budget = budget;
        const SearchResult r = search.run(pool, tall, {}, {}, options);
        ASSERT_EQ(r.message, "");
        EXPECT_LE(r.cost, budget + 1e-9);
        EXPECT_LE(r.conversions, 2);
        EXPECT_NEAR(r.cost, r.conversions * whole_cost(32, 112) + r.trials * whole_cost(32, 48),
                    1e-9);
        EXPECT_GT(r.trials, previous_trials);
        previous_trials = r.trials;
    }

    // Tried whole: every trial is a conversion of the picture.
    SearchOptions options;
    options.budget = 0.4;
    const SearchResult r = search.run(pool, (dir / "small.bmp").string(), {}, {}, options);
    ASSERT_EQ(r.message, "");
    EXPECT_EQ(r.trials, 0);
    EXPECT_GT(r.conversions, 1);
    EXPECT_LE(r.conversions, static_cast<int>(0.4 / whole_cost(40, 48)));
    EXPECT_NEAR(r.cost, r.conversions * whole_cost(40, 48), 1e-9);
    EXPECT_LE(r.cost, 0.4 + 1e-9);
}

TEST(SettingsSearch, ABudgetOfOneConversionOfAFullSizePictureKeepsTheStart) {
    test::ScratchDir dir;
    test::write_file(
        dir / "full.bmp", test::make_bmp(256, 192, [](int x, int y) {
            return test::Color{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 80};
        }));
    ConversionSettings start;
    start.gamma = -2;
    SearchOptions options;
    options.budget = 1;
    const SearchResult r =
        quality::choose_settings((dir / "full.bmp").string(), start, {}, options);
    ASSERT_EQ(r.message, "");
    EXPECT_EQ(r.conversions, 1);
    EXPECT_EQ(r.trials, 0);
    EXPECT_EQ(r.chosen, start);
    EXPECT_EQ(r.chosen_mean, r.start_mean);
    EXPECT_DOUBLE_EQ(r.cost, 1.0);
}

TEST(SettingsSearch, MakesTheSameChoiceEveryTime) {
    test::ScratchDir dir;
    test::write_file(dir / "a.bmp", photo_like(32, 112));
    test::write_file(dir / "b.bmp", test::make_noise_bmp(48, 32, 7));
    const std::string a = (dir / "a.bmp").string(), b = (dir / "b.bmp").string();
    SearchOptions options;
    options.budget = 0.4;
    options.display = Display::tms9918;

    const SearchResult first = quality::choose_settings(a, {}, {}, options);
    // The same search object after another picture, and a fresh one.
    quality::SettingsSearch search;
    ScratchPool pool;
    search.run(pool, b, {}, {}, options);
    const SearchResult again = search.run(pool, a, {}, {}, options);
    const std::vector<std::uint8_t> vram(search.result().vram.begin(), search.result().vram.end());
    const SearchResult fresh = quality::choose_settings(a, {}, {}, options);

    for (const SearchResult* r : {&again, &fresh}) {
        EXPECT_EQ(r->chosen, first.chosen);
        EXPECT_EQ(r->chosen_mean, first.chosen_mean);
        EXPECT_EQ(r->start_mean, first.start_mean);
        EXPECT_EQ(r->conversions, first.conversions);
        EXPECT_EQ(r->trials, first.trials);
        EXPECT_EQ(r->cost, first.cost);
    }
    EXPECT_TRUE(std::equal(vram.begin(), vram.end(), search.result().vram.begin()));
}

TEST(SettingsSearch, KeepsThePaletteAndTheColumnsAsGiven) {
    test::ScratchDir dir;
    // 72 wide: with a position correction it shows 64 columns.
    test::write_file(dir / "p.bmp", photo_like(72, 48));
    ConversionSettings start;
    start.palette = 2;
    start.horizontal_position_correction = 3;
    start.hue = 2;
    start.gamma = -3;
    SearchOptions options;
    options.budget = 0.4;
    const SearchResult r = quality::choose_settings((dir / "p.bmp").string(), start, {}, options);
    ASSERT_EQ(r.message, "");
    EXPECT_EQ(r.chosen.palette, 2);
    EXPECT_EQ(r.chosen.horizontal_position_correction, 3);
    EXPECT_NE(r.chosen, start);
    EXPECT_LE(r.chosen_mean, r.start_mean);

    int searched = 0;
    for (const SettingField& f : setting_fields())
        searched += quality::searched_field(f);
    EXPECT_EQ(searched, static_cast<int>(setting_fields().size()) - 2);
    EXPECT_FALSE(quality::searched_field(*find_setting("palette")));
    EXPECT_FALSE(quality::searched_field(*find_setting("horizontal_position_correction")));
}

TEST(SettingsSearch, AFileThatCannotBeConvertedGivesItsMessage) {
    test::ScratchDir dir;
    test::write_file(dir / "narrow.bmp", photo_like(20, 16));
    const SearchResult missing =
        quality::choose_settings((dir / "missing.bmp").string(), {}, {}, {});
    EXPECT_EQ(missing.message, msg::file_not_found);
    const SearchResult refused =
        quality::choose_settings((dir / "narrow.bmp").string(), {}, {}, {});
    EXPECT_EQ(refused.message, msg::width_not_multiple_of_8);
    EXPECT_EQ(refused.chosen, refused.start);
}

TEST(QualityConverter, RecordsTheFiguresAndTheSearchOfEachFile) {
    test::ScratchDir dir;
    test::write_file(dir / "a.bmp", photo_like(32, 24));
    test::write_file(dir / "b.bmp", test::make_noise_bmp(24, 16, 3));
    const std::string a = (dir / "a.bmp").string(), b = (dir / "b.bmp").string();
    ConversionSettings settings;
    settings.color_d = 3;

    std::vector<quality::FileQuality> records(3);
    quality::QualityPlan measure_only;
    measure_only.measure = true;
    measure_only.options.display = Display::tms9918;
    quality::QualityConverter measuring(settings, {}, measure_only, records);
    Conversion* result = nullptr;
    ASSERT_EQ(measuring.convert(2, b, result), "");
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->settings, settings);
    EXPECT_TRUE(records[2].measured);
    EXPECT_FALSE(records[2].searched);
    EXPECT_DOUBLE_EQ(records[2].figures.delta_e_mean,
                     convert_and_measure(b, settings, Display::tms9918).mean);
    EXPECT_DOUBLE_EQ(records[2].figures.ssim,
                     quality::measure_conversion(*result, Display::tms9918).ssim);

    quality::QualityPlan search_only;
    search_only.search = true;
    search_only.options.budget = 0.4;
    quality::QualityConverter searching(settings, {}, search_only, records);
    ASSERT_EQ(searching.convert(0, a, result), "");
    EXPECT_TRUE(records[0].searched);
    EXPECT_FALSE(records[0].measured);
    EXPECT_EQ(records[0].search.start, settings);
    EXPECT_EQ(result->settings, records[0].search.chosen);
    EXPECT_EQ(searching.convert(1, (dir / "none.bmp").string(), result), msg::file_not_found);
}
