// lumaweave-cli's --report and --auto as users and scripts run them: the figures per file in list
// order, JSON, the chosen settings as a command line that reproduces the result, the same output
// on any number of threads, and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "convert/convert.hpp"
#include "io/messages.hpp"
#include "quality/measure.hpp"
#include "support/run_program.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
namespace fs = std::filesystem;

namespace {

const std::string cli_program = LUMAWEAVE_CLI;
const std::string ended_line = std::string(msg::ended) + "\n";

test::ProgramResult run_in(const std::string& program, const std::vector<std::string>& args,
                           const fs::path& folder) {
    test::ScratchDir capture;
    test::Program p(program, args, folder, capture.path());
    EXPECT_TRUE(p.started());
    return p.wait();
}

test::ProgramResult run_cli(const std::vector<std::string>& args, const fs::path& folder) {
    return run_in(cli_program, args, folder);
}

std::vector<std::uint8_t> picture(int width, int height, int seed) {
    return test::make_bmp(width, height, [seed](int x, int y) {
        return test::Color{static_cast<std::uint8_t>(x * 9 + y * 2 + seed * 60),
                           static_cast<std::uint8_t>(200 - y * 7 + (x >> 2) * 13),
                           static_cast<std::uint8_t>((x * y + seed * 31) & 0xFF)};
    });
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::string four_decimals(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", v);
    return text;
}

quality::Figures measured(const fs::path& source, const ConversionSettings& settings,
                          quality::Display display) {
    auto conv = make_conversion();
    ScratchPool pool;
    EXPECT_EQ(convert_file(*conv, pool, source.string(), settings, DefaultPalettes{}), "");
    return quality::measure_conversion(*conv, display);
}

}  // namespace

TEST(ReportOption, PrintsEachFilesFiguresInListOrderAndChangesNoOutput) {
    test::ScratchDir dir;
    test::write_file(dir / "b.bmp", picture(24, 16, 1));
    test::write_file(dir / "a.bmp", picture(16, 16, 2));
    test::write_file(dir / "notes.txt", picture(16, 16, 3));
    const std::vector<std::string> names = {"b.bmp", "notes.txt", "a.bmp"};

    std::vector<std::string> plain_args = {"-q"};
    plain_args.insert(plain_args.end(), names.begin(), names.end());
    ASSERT_EQ(run_cli(plain_args, dir.path()).exit_code, 0);
    const std::vector<std::uint8_t> plain_a = test::read_file(dir / "a.S02");
    const std::vector<std::uint8_t> plain_b = test::read_file(dir / "b.S02");

    std::string first_out;
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(jobs);
        std::vector<std::string> args = {"-q", "--report", "-j", jobs};
        args.insert(args.end(), names.begin(), names.end());
        const test::ProgramResult r = run_cli(args, dir.path());
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.err, "");
        const std::vector<std::string> out = lines(r.out);
        ASSERT_EQ(out.size(), 3u) << r.out;
        EXPECT_EQ(out[0].rfind("b.bmp: CIEDE2000 (blurred) mean ", 0), 0u) << out[0];
        EXPECT_EQ(out[1].rfind("a.bmp: CIEDE2000 (blurred) mean ", 0), 0u) << out[1];
        EXPECT_EQ(out[2] + "\n", ended_line);
        const quality::Figures f = measured(dir / "b.bmp", {}, quality::Display::table);
        EXPECT_NE(out[0].find("mean " + four_decimals(f.delta_e_mean) + ", 95th percentile " +
                              four_decimals(f.delta_e_p95) + ", SSIM "),
                  std::string::npos)
            << out[0];
        EXPECT_NE(out[0].find("(display table)"), std::string::npos);
        EXPECT_EQ(test::read_file(dir / "a.S02"), plain_a);
        EXPECT_EQ(test::read_file(dir / "b.S02"), plain_b);
        if (first_out.empty()) first_out = r.out;
        EXPECT_EQ(r.out, first_out);
    }
}

TEST(ReportOption, JsonGivesOneObjectPerFileAndNullForAnInfinitePsnr) {
    test::ScratchDir dir;
    // Black converts to black exactly; on a real MSX1 chip black is (0, 4, 0).
    test::write_file(dir / "say \"hi\".bmp", test::make_flat_bmp(16, 16, {0, 0, 0}));
    test::ProgramResult r = run_cli({"--report=json", "say \"hi\".bmp"}, dir.path());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"file\":\"say \\\"hi\\\".bmp\",\"display\":\"table\",\"delta_e_mean\":0.0000,"
              "\"delta_e_p95\":0.0000,\"ssim\":1.00000,\"psnr\":null}\n" +
                  ended_line);

    r = run_cli({"--report=json", "--auto-display", "tms9918", "say \"hi\".bmp"}, dir.path());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_NE(out[0].find("\"display\":\"tms9918\""), std::string::npos) << out[0];
    EXPECT_EQ(out[0].find("\"psnr\":null"), std::string::npos) << out[0];
    // Green 4 of 255 everywhere: the mean square error is 16 / 3.
    char psnr[64];
    std::snprintf(psnr, sizeof psnr, "\"psnr\":%.3f}", 10 * std::log10(255.0 * 255 * 3 / 16));
    EXPECT_NE(out[0].find(psnr), std::string::npos) << out[0];
}

TEST(AutoOption, PrintsACommandLineThatReproducesEachResult) {
    test::ScratchDir dir;
    test::write_file(dir / "a.bmp", picture(16, 16, 4));
    test::write_file(dir / "it's b.bmp", picture(24, 16, 5));
    // The palettes of a configuration file, which the command line must name again.
    const std::string config =
        "* MSX1 palette\n0,0,0 0,0,0 1,6,1 3,7,3 1,1,7 2,3,7 5,1,1 2,6,7 7,1,1 7,3,3 6,6,1 6,6,3 "
        "1,4,1 6,2,5 5,5,5 7,7,7\n* MSX2 palette\n0,0,0 0,0,0 1,6,1 3,7,3 1,1,7 2,3,7 5,1,1 2,6,7 "
        "7,1,1 7,3,3 6,6,1 6,6,3 1,4,1 6,2,5 5,5,5 7,7,7\n";
    test::write_file(dir / "my palettes.txt",
                     std::vector<std::uint8_t>(config.begin(), config.end()));

    const test::ProgramResult r =
        run_cli({"-q", "--auto", "--auto-budget", "1", "--config", "my palettes.txt", "--gamma",
                 "-3", "--mix", "off", "a.bmp", "it's b.bmp"},
                dir.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 5u) << r.out;
    EXPECT_EQ(out[0].rfind("a.bmp: auto settings: CIEDE2000 (blurred) mean ", 0), 0u);
    EXPECT_EQ(out[2].rfind("it's b.bmp: auto settings: ", 0), 0u);
    const std::vector<std::uint8_t> auto_a = test::read_file(dir / "a.S02");
    const std::vector<std::uint8_t> auto_b = test::read_file(dir / "it's b.S02");
    fs::remove(dir / "a.S02");
    fs::remove(dir / "it's b.S02");

    for (int i : {1, 3}) {
        const std::string& command = out[static_cast<std::size_t>(i)];
        SCOPED_TRACE(command);
        ASSERT_EQ(command.rfind("lumaweave-cli --config 'my palettes.txt' ", 0), 0u);
        EXPECT_EQ(command.find("--auto"), std::string::npos);
        // Through a shell, as a user pastes it.
        const std::string shell_command =
            "'" + cli_program + "' -q" + command.substr(std::string("lumaweave-cli").size());
        const test::ProgramResult again = run_in("/bin/sh", {"-c", shell_command}, dir.path());
        EXPECT_EQ(again.exit_code, 0) << again.err;
        EXPECT_EQ(again.out, ended_line);
    }
    EXPECT_TRUE(out[1].ends_with(" a.bmp")) << out[1];
    EXPECT_TRUE(out[3].ends_with(" 'it'\\''s b.bmp'")) << out[3];
    EXPECT_EQ(test::read_file(dir / "a.S02"), auto_a);
    EXPECT_EQ(test::read_file(dir / "it's b.S02"), auto_b);
}

TEST(AutoOption, TheSameOnAnyNumberOfThreadsAndWithTheReport) {
    test::ScratchDir dir;
    const std::vector<std::string> names = {"p0.bmp", "p1.bmp"};
    for (int i = 0; i < 2; ++i)
        test::write_file(dir / names[static_cast<std::size_t>(i)], picture(16, 16, 10 + i));
    std::string first_out;
    std::vector<std::vector<std::uint8_t>> first_files;
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(jobs);
        std::vector<std::string> args = {"-q",      "--auto", "--report", "--auto-display",
                                         "tms9918", "-j",     jobs,       "--auto-budget",
                                         "1"};
        args.insert(args.end(), names.begin(), names.end());
        const test::ProgramResult r = run_cli(args, dir.path());
        ASSERT_EQ(r.exit_code, 0) << r.err;
        // Per file: the figures of the result, the search, the command line.
        const std::vector<std::string> out = lines(r.out);
        ASSERT_EQ(out.size(), 2u * 3 + 1) << r.out;
        for (int i = 0; i < 2; ++i) {
            const std::string& figures = out[static_cast<std::size_t>(3 * i)];
            const std::string& search = out[static_cast<std::size_t>(3 * i + 1)];
            EXPECT_EQ(figures.rfind(names[static_cast<std::size_t>(i)] + ": CIEDE2000", 0), 0u);
            EXPECT_NE(figures.find("(display tms9918)"), std::string::npos);
            // The report measures the result the search chose.
            const std::string chosen_mean = figures.substr(
                figures.find(" mean ") + 6, figures.find(',') - figures.find(" mean ") - 6);
            EXPECT_NE(search.find("-> " + chosen_mean + " ("), std::string::npos) << search;
        }
        std::vector<std::vector<std::uint8_t>> files;
        for (const std::string& name : names)
            files.push_back(test::read_file(dir / (name.substr(0, 2) + ".S02")));
        if (first_out.empty()) {
            first_out = r.out;
            first_files = files;
        }
        EXPECT_EQ(r.out, first_out);
        EXPECT_EQ(files, first_files);
    }
}

TEST(AutoOption, KeepsThePaletteAndColumnsGivenAndNeverDoesWorse) {
    test::ScratchDir dir;
    test::write_file(dir / "wide.bmp", picture(32, 16, 7));
    const test::ProgramResult r =
        run_cli({"--report=json", "--auto", "--auto-budget=1", "--palette", "2",
                 "--horizontal-position-correction", "5", "--hue", "3", "wide.bmp"},
                dir.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string& json = r.out;
    EXPECT_NE(json.find("\"palette\":2,"), std::string::npos) << json;
    EXPECT_NE(json.find("\"horizontal_position_correction\":5,"), std::string::npos);
    EXPECT_NE(json.find("--palette 2 --horizontal-position-correction 5 "), std::string::npos);
    const std::size_t search = json.find("\"auto\":{");
    ASSERT_NE(search, std::string::npos);
    const auto number_after = [&](const std::string& key, std::size_t from) {
        return std::stod(json.substr(json.find(key, from) + key.size()));
    };
    const double reported = number_after("\"delta_e_mean\":", 0);
    const double start = number_after("\"start_delta_e_mean\":", search);
    const double chosen = number_after(",\"delta_e_mean\":", search);
    EXPECT_LE(chosen, start);
    EXPECT_EQ(reported, chosen);
}

TEST(AutoOption, BadValuesAreRefusedBeforeAnythingIsConverted) {
    test::ScratchDir dir;
    test::write_file(dir / "p.bmp", picture(16, 16, 0));
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--auto-budget", "0"}, "'0' for --auto-budget"},
        {{"--auto-budget", "10001"}, "--auto-budget; it takes 1..10000"},
        {{"--auto-budget=2.5"}, "'2.5'"},
        {{"--auto-budget"}, "--auto-budget needs"},
        {{"--auto-display", "vga"}, "'vga' for --auto-display; it takes table|tms9918"},
        {{"--auto-display=TMS9918"}, "'TMS9918'"},
        {{"--report=xml"}, "'xml' for --report"},
        {{"--report="}, "'' for --report"},
        {{"--auto=yes"}, "--auto takes no value"},
    };
    for (const auto& [options, named] : refused) {
        SCOPED_TRACE(options[0]);
        std::vector<std::string> args = {"--auto", "p.bmp"};
        args.insert(args.end(), options.begin(), options.end());
        const test::ProgramResult r = run_cli(args, dir.path());
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fs::exists(dir / "p.S02"));
    }
}

TEST(AutoOption, HelpDescribesTheQualityOptions) {
    test::ScratchDir dir;
    const test::ProgramResult r = run_cli({"--help"}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    for (const char* text : {"\n  --report[=text|json]\n", "\n  --auto ", "\n  --auto-budget N ",
                             "(initial 8)", "\n  --auto-display table|tms9918\n"}) {
        EXPECT_NE(r.out.find(text), std::string::npos) << text;
    }
}
