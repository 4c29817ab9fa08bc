// lumaweave-cli as a user runs it: options, refusals, outputs, exit codes, streams, Ctrl-C,
// --report and --auto, whose printed command lines reproduce the result.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>

#include "quality/measure.hpp"
#include "support/program.hpp"

using namespace lumaweave;
using namespace lumaweave::test;
namespace fs = std::filesystem;

namespace {

void expect_ended(const ProgramResult& r) {
    EXPECT_EQ(std::tie(r.exit_code, r.out, r.err), std::tuple(0, ended_line, ""));
}

void expect_failure(const ProgramResult& r, const std::string& message) {
    EXPECT_EQ(std::tie(r.exit_code, r.out, r.err), std::tuple(1, "", message + "\n"));
}

void expect_no_temporary_file(const fs::path& folder) {
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        EXPECT_EQ(entry.path().filename().string().find("tmp"), std::string::npos) << entry.path();
}

std::string decimals(const char* format, double v) {
    char text[64];
    return {text, static_cast<std::size_t>(std::snprintf(text, sizeof text, format, v))};
}

}  // namespace

// Value names in any letter case or numbers, "=" forms; the last of a repeated option counts.
// Palettes come from --config's file, which must exist, else from lumaweave_config.txt in the
// folder.
TEST(CommandLine, OptionsAndPaletteConfigurationSetTheConversion) {
    ScratchDir dir;
    put_noise(dir / "p.bmp", 32);
    expect_failure(run_cli({}, dir.path()), text(Status::no_files));
    DefaultPalettes changed;
    changed.msx1 = changed.msx2;
    std::ofstream(dir / "mine.txt") << msx2_only_config();
    expect_ended(run_cli(split("--hue 3 --quiet --hue=-4 --config=mine.txt --dither-order Circular "
                               "--mitigation off --lumi-sort 0 --vertical-error-ratio=6 --gamma "
                               "-3 --color-d 5 --index-r=On --index-0 0 --palette=MSX2 "
                               "--dither-order=VERTICAL --horizontal-position-correction 7 p.bmp",
                               ' '),
                         dir.path()));
    ConversionSettings s{.vertical_error_ratio = 6,
                         .palette = 2,
                         .dither_order = 0,
                         .horizontal_position_correction = 7,
                         .hue = -4};
    s.lumi_sort = s.index_0 = 0, s.mitigation = s.index_r = 1, s.gamma = -3, s.color_d = 5;
    EXPECT_EQ(read_file(dir / "p.S02"), converted(dir / "p.bmp", s, changed).vram);
    fs::rename(dir / "mine.txt", dir / "lumaweave_config.txt");
    expect_ended(run_cli({"p.bmp"}, dir.path()));
    EXPECT_EQ(read_file(dir / "p.S02"), converted(dir / "p.bmp", {}, changed).vram);
    fs::remove(dir / "p.S02");
    expect_failure(run_cli({"--config", "absent.txt", "p.bmp"}, dir.path()),
                   "absent.txt: " + text(Status::file_not_found));
    EXPECT_FALSE(fs::exists(dir / "p.S02"));
}

TEST(CommandLine, BadValuesAreRefusedBeforeAnythingIsConverted) {
    ScratchDir dir;
    put_noise(dir / "p.bmp");
    // The arguments after the file, separated by "|", then what the refusal names.
    for (const std::string refusal :
         {"--hue|-5 => '-5' for --hue", "--hue|off => 'off' for --hue",
          "--lumi-sort|yes => --lumi-sort", "--color-no0|Yes => off|on",
          "--vertical-error-ratio|6x => '6x'", "--mitigation|2 => off|on (off = 1, on = 3)",
          "--palette|msx3 => msx1|msx2 (msx1 = 1, msx2 = 2)", "--edge-calc| 1 => --edge-calc",
          "--vertical_error_ratio|6 => unknown option --vertical_error_ratio",
          "--export=yes => --export", "--jobs|65 => --jobs", "-jx => -j",
          "--hue => --hue needs a value", "--auto-budget|0 => '0' for --auto-budget",
          "--auto=yes => --auto takes no value",
          "--auto-display|vga => 'vga' for --auto-display; it takes table|tms9918",
          "--report=xml => 'xml' for --report", "--palette|3 => '3' for --palette",
          "--vertical-error-ratio|99999999999 => '99999999999'"}) {
        const std::size_t arrow = refusal.find(" => ");
        const ProgramResult r =
            run_cli(split("p.bmp|" + refusal.substr(0, arrow), '|'), dir.path());
        EXPECT_EQ(std::tie(r.exit_code, r.out), std::tuple(2, "")) << refusal;
        EXPECT_NE(r.err.find(refusal.substr(arrow + 4)), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("--help"), std::string::npos) << refusal;
    }
    EXPECT_FALSE(fs::exists(dir / "p.S02"));
}

// The first failure ends the batch with its message, naming the file; nothing after it is
// written, nothing is left half-written.
TEST(CommandLine, AwkwardNamesAndPlacesGiveTheSystemsMessageAndNoHalfWrittenFile) {
    ScratchDir dir;
    const std::string odd = "my pic ü 写真.bmp", odd_output = "my pic ü 写真.S02";
    put_noise(dir / odd);
    put_noise(dir / "-dash.bmp", 24);
    expect_ended(run_cli({"--quiet", "--export", "--", odd, "-dash.bmp"}, dir.path()));
    EXPECT_EQ(read_file(dir / odd_output), converted(dir / odd).vram);
    EXPECT_TRUE(fs::exists(dir / "TEST_my pic ü 写真.bmp") && fs::exists(dir / "TEST_-dash.bmp"));
    fs::create_directory(dir / "folder.bmp");
    ASSERT_EQ(::mkfifo((dir / "pipe.bmp").c_str(), 0644), 0);  // refused, not waited on
    put_noise(dir / "b.bmp");
    fs::create_directory(dir / "b.S02");
    for (const auto& [name, message] : {std::pair{"folder.bmp", text(Status::file_cannot_open)},
                                        {"pipe.bmp", text(Status::file_cannot_open)},
                                        {"none/p.bmp", text(Status::file_not_found)},
                                        {"b.bmp", text(Status::could_not_create)}}) {
        fs::remove(dir / "-dash.S02");
        fs::remove(dir / odd_output);
        expect_failure(run_cli({"--", "-dash.bmp", name, odd}, dir.path()),
                       std::string(name) + ": " + message);
        EXPECT_TRUE(fs::exists(dir / "-dash.S02") && !fs::exists(dir / odd_output)) << name;
    }
    expect_no_temporary_file(dir.path());
}

// A small picture, then large ones: once its ".S02" exists the batch is inside its list.
TEST(CommandLine, CtrlCStopsBeforeTheNextFile) {
    ScratchDir dir;
    put_noise(dir / "a.bmp");
    put_noise(dir / "large.bmp", 256, 192, 2);
    std::vector<std::string> args = {cli_program, "-j", "2", "a.bmp"};
    args.insert(args.end(), 40, "large.bmp");
    Program program(args, dir.path());
    while (program.running() && !fs::exists(dir / "a.S02"))
        ::usleep(2000);
    ASSERT_TRUE(program.running());
    program.send(SIGINT);
    const ProgramResult r = program.wait();
    EXPECT_EQ(std::tie(r.exit_code, r.out, r.err),
              std::tuple(130, "", text(Status::stopped) + "\n"));
    expect_no_temporary_file(dir.path());
}

TEST(CommandLine, ProgressIsShownOnATerminalOnly) {
    ScratchDir dir;
    put_noise(dir / "a.bmp");
    put_noise(dir / "b.bmp");
    ProgramResult r = run_cli({"a.bmp", "b.bmp"}, dir.path(), true);
    EXPECT_NE(r.err.find("[                    ]   0% 1/2 a.bmp"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("[##########          ]  50% 2/2 b.bmp"), std::string::npos) << r.err;
    EXPECT_TRUE(r.exit_code == 0 && r.err.ends_with("\r\033[K"));  // cleared before the end
    r = run_cli({"--quiet", "a.bmp", "b.bmp"}, dir.path(), true);
    EXPECT_TRUE(r.exit_code == 0 && r.err.find('%') == std::string::npos) << r.err;
    EXPECT_EQ(run_cli({"a.bmp"}, dir.path()).err, "");  // not a terminal
}

TEST(CommandLine, ReportPrintsEachFilesFiguresAsTextOrJsonAndChangesNoOutput) {
    ScratchDir dir;
    put_noise(dir / "b.bmp", 24);
    const ProgramResult r = run_cli({"--report", "b.bmp"}, dir.path());
    EXPECT_EQ(std::tie(r.exit_code, r.err), std::tuple(0, ""));
    const Result b = converted(dir / "b.bmp");
    const auto f = quality::measure_conversion(b, quality::Display::table);
    EXPECT_TRUE(std::ranges::count(r.out, '\n') == 2 &&
                r.out.starts_with("b.bmp: CIEDE2000 (blurred) mean " +
                                  decimals("%.4f", f.delta_e_mean) + ", 95th percentile " +
                                  decimals("%.4f", f.delta_e_p95) + ", SSIM ") &&
                r.out.ends_with("(display table)\n" + ended_line))
        << r.out;
    EXPECT_EQ(read_file(dir / "b.S02"), b.vram);  // as without the report
    // Black converts to black exactly; a real MSX1 chip shows it as (0, 4, 0).
    write_file(dir / "say \"hi\".bmp", make_flat_bmp(16, 16, {0, 0, 0}));
    EXPECT_EQ(run_cli({"--report=json", "say \"hi\".bmp"}, dir.path()).out,
              "{\"file\":\"say \\\"hi\\\".bmp\",\"display\":\"table\",\"delta_e_mean\":0.0000,"
              "\"delta_e_p95\":0.0000,\"ssim\":1.00000,\"psnr\":null}\n" +
                  ended_line);
    // Green 4 of 255 everywhere: the mean square error is 16 / 3.
    const std::string json =
        run_cli({"--report=json", "--auto-display", "tms9918", "say \"hi\".bmp"}, dir.path()).out;
    EXPECT_NE(json.find("\"display\":\"tms9918\""), std::string::npos) << json;
    const double psnr = 10 * std::log10(255.0 * 255 * 3 / 16);
    EXPECT_TRUE(json.ends_with(decimals("\"psnr\":%.3f}\n", psnr) + ended_line)) << json;
}

TEST(CommandLine, AutoPrintsACommandLineThatReproducesEachResultOnAnyNumberOfThreads) {
    ScratchDir dir;
    put_noise(dir / "a.bmp", 16, 16, 4);
    put_noise(dir / "it's b.bmp", 24, 16, 5);
    std::ofstream(dir / "my palettes.txt") << msx2_only_config();  // to be named again
    std::string first;
    for (const char* jobs : {"1", "2"}) {
        const ProgramResult r =
            run_cli({"-q", "--auto", "--report", "--auto-budget", "1", "-j", jobs, "--config",
                     "my palettes.txt", "--gamma", "-3", "--mix", "off", "a.bmp", "it's b.bmp"},
                    dir.path());
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out, first.empty() ? first = r.out : first);
    }
    const auto auto_a = read_file(dir / "a.S02"), auto_b = read_file(dir / "it's b.S02");
    // Per file: the figures of the result, the search, the command line.
    const std::vector<std::string> out = split(first, '\n');
    ASSERT_EQ(out.size(), 8u) << first;
    for (std::size_t i : {0, 3}) {
        const std::string& command = out[i + 2];
        ASSERT_TRUE(command.starts_with("lumaweave-cli --config 'my palettes.txt' ")) << command;
        EXPECT_EQ(command.find("--auto"), std::string::npos) << command;
        // Through a shell, as a user pastes it.
        const std::string shell = "'" + cli_program + "' -q" + command.substr(13);
        EXPECT_EQ(Program({"/bin/sh", "-c", shell}, dir.path()).wait().out, ended_line);
    }
    EXPECT_TRUE(out[0].starts_with("a.bmp: CIEDE2000") && out[2].ends_with(" a.bmp")) << first;
    EXPECT_TRUE(out[3].starts_with("it's b.bmp: ") && out[5].ends_with(" 'it'\\''s b.bmp'"));
    EXPECT_TRUE(read_file(dir / "a.S02") == auto_a && read_file(dir / "it's b.S02") == auto_b);
}
