// The display a picture is made for: palette files read and refused, the named displays, and
// the display's colours reaching the fitting, the preview, the "TEST_" picture and the measure,
// with the palette choice and a companion palette then set aside. `table` converting as always
// is the golden test's part.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <tuple>

#include "convert/display.hpp"
#include "formats/s05.hpp"
#include "quality/measure.hpp"
#include "support/program.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;

namespace {

// 16 distinct colours, none on the MSX scale of 255 / 7.
Palette odd_colours() {
    Palette p{};
    for (int i = 0; i < 16; ++i)
        p[static_cast<std::size_t>(i)] = {(i * 53 + 11) % 256, (i * 97 + 5) % 256,
                                          (i * 29 + 201) % 256};
    return p;
}

std::string palette_text(const Palette& p) {
    std::string out;
    for (const Rgb& c : p)
        out += std::to_string(c.r) + " " + std::to_string(c.g) + " " + std::to_string(c.b) + "\n";
    return out;
}

void write_text(const std::filesystem::path& path, const std::string& text) {
    test::write_file(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

}  // namespace

TEST(DisplayText, ReadsPlainListsWithCommentsAndCommasAndGimpPalettes) {
    const Palette want = odd_colours();
    std::string commented = "# my monitor\n\n";
    for (const Rgb& c : want)
        commented += std::to_string(c.r) + ",\t" + std::to_string(c.g) + " , " +
                     std::to_string(c.b) + "  # colour\r\n";
    std::string gimp = "GIMP Palette\nName: screen\nColumns: 4\n#\n";
    for (const Rgb& c : want)
        gimp += std::to_string(c.r) + " " + std::to_string(c.g) + " " + std::to_string(c.b) +
                "\tUntitled\n";
    for (const std::string& text :
         {palette_text(want), commented, "\xEF\xBB\xBF" + palette_text(want), gimp}) {
        const DisplayText read = parse_display_text(text);
        ASSERT_TRUE(read.colours) << read.error << "\n" << text;
        EXPECT_EQ(*read.colours, want);
    }
}

TEST(DisplayText, RefusesWhatIsNotSixteenColoursSayingWhereAndWhy) {
    const std::string good = palette_text(odd_colours());
    for (const auto& [text, error] : std::initializer_list<std::pair<std::string, std::string>>{
             {"", "no colours"},
             {"# nothing\n\n", "no colours"},
             {"1 2 3\n", "only 1 colour, 16 are needed"},
             {good.substr(0, good.rfind('\n', good.size() - 2) + 1), "only 15 colours"},
             {good + "1 2 3\n", "line 17: more than 16 colours"},
             {"1 2 300\n", "line 1: 300 is not in 0..255"},
             {"1 2\n", "line 1: a colour needs three numbers (red, green, blue), this line has 2"},
             {"1 2 3 4\n", "line 1: more than three numbers: \"4\""},
             {"\n1 -2 3\n", "line 2: \"-2\" is not a whole number from 0 to 255"},
             {"0x10 2 3\n", "line 1: \"0x10\" is not a whole number"},
             {"1.5 2 3\n", "\"1.5\" is not a whole number"},
             {"99999999999 0 0\n", "\"99999999999\" is not a whole number"},
             {"red green blue\n", "line 1: \"red\" is not a whole number"},
             {std::string("1 2 3\n\0\n", 8), "not a text file"},
             {"GIMP Palette\n1 2\n", "line 2: a colour needs three numbers"}}) {
        const DisplayText read = parse_display_text(text);
        EXPECT_FALSE(read.colours) << text;
        EXPECT_NE(read.error.find(error), std::string::npos) << read.error << " / " << error;
    }
}

TEST(DisplayFile, KnownNamesInAnyCaseThenFilesRefusedWithTheirName) {
    test::ScratchDir dir;
    EXPECT_TRUE(load_display("table").display == table_display());
    EXPECT_TRUE(table_display().table() && !find_display("TMS9918")->table());
    EXPECT_EQ(find_display("TMS9918")->colours->at(15), (Rgb{249, 255, 248}));
    write_text(dir / "screen.txt", palette_text(odd_colours()));
    const DisplayChoice file = load_display((dir / "screen.txt").string());
    ASSERT_TRUE(file.display) << file.error;
    EXPECT_EQ(file.display->name, (dir / "screen.txt").string());
    EXPECT_EQ(*file.display->colours, odd_colours());

    write_text(dir / "short.txt", "0 0 0\n");
    write_text(dir / "long.txt", std::string(max_display_file_bytes + 1, '#'));
    std::filesystem::create_directory(dir / "folder");
    for (const auto& [name, error] : std::initializer_list<std::pair<std::string, std::string>>{
             {"short.txt", "not a palette of 16 colours: only 1 colour"},
             {"long.txt", "too long for a palette file"},
             {"missing.txt", "not a display name (table, tms9918) and no palette file can be read"},
             {"folder", "cannot be read"}}) {
        const std::string path = (dir / name).string();
        const DisplayChoice c = load_display(path);
        EXPECT_FALSE(c.display) << name;
        EXPECT_TRUE(c.error.starts_with(path + ": ")) << c.error;
        EXPECT_NE(c.error.find(error), std::string::npos) << c.error;
    }
}

// Flat patches of four of the display's colours: the fitting finds them exactly, the preview
// and the "TEST_" picture draw them, the measure sees no difference. With the table's colours
// the same picture cannot be matched.
TEST(DisplayColours, ReachTheFittingThePreviewAndTheMeasure) {
    const Palette colours = odd_colours();
    const Display display{"mine", colours};
    test::RgbPicture picture{32, 16, std::vector<std::uint8_t>(32 * 16 * 3)};
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 32; ++x) {
            const Rgb& c = colours[static_cast<std::size_t>(3 + x / 8)];
            std::uint8_t* p = &picture.rgb[3 * (static_cast<std::size_t>(y) * 32 + x)];
            p[0] = static_cast<std::uint8_t>(c.r);
            p[1] = static_cast<std::uint8_t>(c.g);
            p[2] = static_cast<std::uint8_t>(c.b);
        }
    }
    Converter converter;
    // Hue 0 fits the true colours; a hue moves the working palette but never the colours shown.
    for (const ConversionSettings& s : {ConversionSettings{}, ConversionSettings{.hue = -2},
                                        ConversionSettings{.palette = 2, .hue = 3, .index_0 = 0}}) {
        const Result& r = converter.convert(picture.pixels(), s, {}, std::nullopt, display);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(r.display, colours);
        std::set<std::tuple<int, int, int>> shown;
        for (std::size_t i = 0; i + 2 < r.preview.size(); i += 3) {
            const std::size_t x = i / 3 % 512, y = i / 3 / 512;
            if (x >= 64 || y >= 32) continue;
            shown.insert({r.preview[i], r.preview[i + 1], r.preview[i + 2]});
        }
        for (const auto& [red, green, blue] : shown) {
            EXPECT_TRUE(std::count(colours.begin(), colours.end(), Rgb{red, green, blue}) == 1)
                << red << " " << green << " " << blue;
        }
        // The "TEST_" picture holds the preview's pixels (its last row is the preview's first).
        const std::size_t bottom_row = r.export_bmp.size() - 64 * 3;
        EXPECT_EQ(r.export_bmp[bottom_row + 2], r.preview[0]);
        if (s.hue == 0) {
            EXPECT_EQ(shown.size(), 4u);
            EXPECT_LT(quality::measure_conversion(r).delta_e_mean, 1e-9);
        }
    }
    const Result& table = converter.convert(picture.pixels(), {});
    EXPECT_GT(quality::measure_conversion(table).delta_e_mean, 1.0);
}

// A display of exactly the colours the table gives converts as the table does; with a display
// the palette choice and a companion ".s05" palette change nothing.
TEST(DisplayColours, TheTablesOwnColoursConvertAsTheTableAndSetPaletteAndCompanionAside) {
    test::ScratchDir dir;
    const test::RgbPicture picture = test::make_noise(40, 24, 3);
    test::write_file(dir / "p.bmp", picture.bmp());
    const DefaultPalettes palettes;
    Palette msx1{};
    for (int i = 0; i < 16; ++i) {
        const auto at = [&](int c) {
            return 255 * palettes.msx1[static_cast<std::size_t>(3 * i + c)] / 7;
        };
        msx1[static_cast<std::size_t>(i)] = {at(0), at(1), at(2)};
    }
    const Display same{"msx1", msx1};
    for (const ConversionSettings& s :
         {ConversionSettings{}, ConversionSettings{.vertical_error_ratio = 5, .brightness = 0},
          ConversionSettings{.color_no0 = 1, .lumi_sort = 0, .gamma = 3, .col_reduction = 0}}) {
        const Result table = test::converted(dir / "p.bmp", s);
        const Result display = test::converted(dir / "p.bmp", s, palettes, same);
        EXPECT_TRUE(table.vram == display.vram && table.preview == display.preview &&
                    table.display == display.display);
    }
    const Display mine{"mine", odd_colours()};
    const Result alone = test::converted(dir / "p.bmp", {}, palettes, mine);
    const Result table_alone = test::converted(dir / "p.bmp");
    std::vector<std::uint8_t> s05(s05::palette_offset + 32, 0);
    for (std::size_t k = 0; k < 32; ++k)
        s05[s05::palette_offset + k] = static_cast<std::uint8_t>(0x70 | k % 8);
    test::write_file(dir / "p.s05", s05);
    const Result with_companion = test::converted(dir / "p.bmp", {}, palettes, mine);
    const Result msx2 = test::converted(dir / "p.bmp", {.palette = 2}, palettes, mine);
    EXPECT_TRUE(alone.vram == with_companion.vram && alone.vram == msx2.vram);
    // With the table the companion does change the result.
    EXPECT_FALSE(test::converted(dir / "p.bmp").display == table_alone.display);
}

// The palette a program sets for the result (the .pal file, the cartridge's MSX2 palette): the
// table's or the companion's with the table; an MSX1's fixed colours, set by no one, with a
// chip's display; a file's colours in 0..7 steps, for an MSX2 to set, with a palette file.
TEST(DisplayColours, ThePaletteForTheScreenFollowsTheDisplay) {
    test::ScratchDir dir;
    test::put_noise(dir / "p.bmp", 24, 16, 5);
    const DefaultPalettes palettes;
    Palette file_colours{};
    file_colours.fill({255, 0, 128});
    file_colours[1] = {36, 73, 109};
    PaletteTable file_steps{};
    for (std::size_t i = 0; i < file_steps.size(); ++i)
        file_steps[i] = std::array{7, 0, 4}[i % 3];
    std::copy_n(std::array{1, 2, 3}.begin(), 3, file_steps.begin() + 3);
    PaletteTable companion{};
    for (std::size_t i = 0; i < companion.size(); ++i)
        companion[i] = static_cast<std::int32_t>((i * 5 + 1) % 8);
    std::vector<std::uint8_t> s05(s05::palette_offset + 32, 0);
    for (std::size_t c = 0; c < 16; ++c) {
        s05[s05::palette_offset + 2 * c] =
            static_cast<std::uint8_t>(companion[3 * c] << 4 | companion[3 * c + 2]);
        s05[s05::palette_offset + 2 * c + 1] = static_cast<std::uint8_t>(companion[3 * c + 1]);
    }
    const Display tms9918 = *find_display("tms9918");
    const struct {
        const char* what;
        ConversionSettings settings;
        Display display;
        bool with_companion;
        PaletteTable palette;
        bool msx2;
    } cases[] = {
        {"table", {}, table_display(), false, palettes.msx1, false},
        {"table, msx2", {.palette = 2}, table_display(), false, palettes.msx2, true},
        {"table, companion", {}, table_display(), true, companion, true},
        {"tms9918", {}, tms9918, false, palettes.msx1, false},
        {"tms9918, msx2 and companion", {.palette = 2}, tms9918, true, palettes.msx1, false},
        {"file", {}, Display{"screen.txt", file_colours}, false, file_steps, true},
        {"file and companion", {}, Display{"screen.txt", file_colours}, true, file_steps, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(dir / "p.s05");
        if (c.with_companion) test::write_file(dir / "p.s05", s05);
        const Result r = test::converted(dir / "p.bmp", c.settings, palettes, c.display);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(r.palette, c.palette);
        EXPECT_EQ(r.msx2_palette, c.msx2);
        if (!c.display.table()) {
            EXPECT_EQ(r.display, *c.display.colours);
        }
    }
}

TEST(DisplayOption, ConvertsForTheDisplayNamedAndRefusesABadFileBeforeConverting) {
    test::ScratchDir dir;
    test::put_noise(dir / "a.bmp", 24, 16, 4);
    write_text(dir / "screen.txt", palette_text(odd_colours()));
    const test::ProgramResult ok = test::run_cli(
        {"--display", "screen.txt", "--export", "--report=json", "a.bmp"}, dir.path());
    ASSERT_EQ(ok.exit_code, 0) << ok.err;
    EXPECT_NE(ok.out.find("\"display\":\"screen.txt\""), std::string::npos) << ok.out;
    const Result want =
        test::converted(dir / "a.bmp", {}, {}, Display{"screen.txt", odd_colours()});
    EXPECT_EQ(test::read_file(dir / "a.S02"), want.vram);
    EXPECT_EQ(test::read_file(dir / "TEST_a.bmp"), want.export_bmp);
    // The command line that reproduces a search's choice names the display.
    const test::ProgramResult searched = test::run_cli(
        {"--auto", "--auto-budget", "1", "--display", "screen.txt", "-o", "out", "a.bmp"},
        dir.path());
    EXPECT_NE(searched.out.find("\nlumaweave-cli --display screen.txt "), std::string::npos)
        << searched.out;
    // The former name is the same option.
    std::filesystem::remove(dir / "a.S02");
    EXPECT_EQ(test::run_cli({"--auto-display", "tms9918", "-q", "a.bmp"}, dir.path()).exit_code, 0);
    EXPECT_EQ(test::read_file(dir / "a.S02"),
              test::converted(dir / "a.bmp", {}, {}, *find_display("tms9918")).vram);

    write_text(dir / "bad.txt", "0 0 0\n1 1\n");
    std::filesystem::remove(dir / "a.S02");
    for (const auto& [name, error] : std::initializer_list<std::pair<std::string, std::string>>{
             {"bad.txt",
              "bad.txt: not a palette of 16 colours: line 2: a colour needs three numbers"},
             {"vga", "vga: not a display name (table, tms9918)"}}) {
        const test::ProgramResult r = test::run_cli({"--display", name, "a.bmp"}, dir.path());
        EXPECT_EQ(r.exit_code, 1) << name;
        EXPECT_TRUE(r.err.starts_with(error)) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir / "a.S02"));
    }
}
