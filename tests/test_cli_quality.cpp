// lumaweave-cli's --report (text and JSON) and --auto, whose command lines reproduce the result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "quality/measure.hpp"
#include "support/program.hpp"

using namespace lumaweave;
using namespace lumaweave::test;

namespace {

std::string decimals(const char* format, double v) {
    char text[64];
    return {text, static_cast<std::size_t>(std::snprintf(text, sizeof text, format, v))};
}

}  // namespace

TEST(ReportOption, PrintsEachFilesFiguresAsTextOrJsonAndChangesNoOutput) {
    ScratchDir dir;
    put_noise(dir / "b.bmp", 24);
    const ProgramResult r = run_cli({"--report", "b.bmp"}, dir.path());
    EXPECT_EQ(std::tie(r.exit_code, r.err), std::tuple(0, ended_line));
    const auto f = quality::measure_conversion(converted(dir / "b.bmp"));
    EXPECT_TRUE(std::ranges::count(r.out, '\n') == 1 &&
                r.out.starts_with("b.bmp: CIEDE2000 (blurred) mean " +
                                  decimals("%.4f", f.delta_e_mean) + ", 95th percentile " +
                                  decimals("%.4f", f.delta_e_p95) + ", SSIM ") &&
                r.out.ends_with("(display table)\n"))
        << r.out;
    EXPECT_EQ(read_file(dir / "b.S02"), converted(dir / "b.bmp").vram);  // as without the report
    // Black converts to black exactly; a real MSX1 chip shows it as (0, 4, 0).
    write_file(dir / "say \"hi\".bmp", make_flat_bmp(16, 16, {0, 0, 0}));
    EXPECT_EQ(run_cli({"--report=json", "say \"hi\".bmp"}, dir.path()).out,
              "{\"file\":\"say \\\"hi\\\".bmp\",\"display\":\"table\",\"delta_e_mean\":0.0000,"
              "\"delta_e_p95\":0.0000,\"ssim\":1.00000,\"psnr\":null}\n");
    // Green 4 of 255 everywhere: the mean square error is 16 / 3.
    const std::string json =
        run_cli({"--report=json", "--auto-display", "tms9918", "say \"hi\".bmp"}, dir.path()).out;
    EXPECT_NE(json.find("\"display\":\"tms9918\""), std::string::npos) << json;
    const double psnr = 10 * std::log10(255.0 * 255 * 3 / 16);
    EXPECT_TRUE(json.ends_with(decimals("\"psnr\":%.3f}\n", psnr))) << json;
}

TEST(AutoOption, PrintsACommandLineThatReproducesEachResultOnAnyNumberOfThreads) {
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
    ASSERT_EQ(out.size(), 7u) << first;
    for (std::size_t i : {0, 3}) {
        const std::string& command = out[i + 2];
        ASSERT_TRUE(command.starts_with("lumaweave-cli --config 'my palettes.txt' ")) << command;
        EXPECT_EQ(command.find("--auto"), std::string::npos) << command;
        // Through a shell, as a user pastes it.
        const std::string shell = "'" + cli_program + "' -q" + command.substr(13);
        const ProgramResult pasted = Program({"/bin/sh", "-c", shell}, dir.path()).wait();
        EXPECT_EQ(std::tie(pasted.exit_code, pasted.out, pasted.err), std::tuple(0, "", ""));
    }
    EXPECT_TRUE(out[0].starts_with("a.bmp: CIEDE2000") && out[2].ends_with(" a.bmp")) << first;
    EXPECT_TRUE(out[3].starts_with("it's b.bmp: ") && out[5].ends_with(" 'it'\\''s b.bmp'"));
    EXPECT_TRUE(read_file(dir / "a.S02") == auto_a && read_file(dir / "it's b.S02") == auto_b);
}
