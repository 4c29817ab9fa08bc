// lumaweave-cli as a user runs it: options, refusals, outputs, exit codes, Ctrl-C.
#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace

TEST(CommandLine, OptionsAndPaletteConfigurationSetTheConversion) {
    ScratchDir dir;
    put_noise(dir / "p.bmp", 32);
    expect_failure(run_cli({}, dir.path()), text(Status::no_files));
    // Words for check boxes, "=" forms, numbers; the last of a repeated option counts. Palettes
    // come from --config's file, which must exist, else from lumaweave_config.txt in the folder.
    DefaultPalettes changed;
    changed.msx1 = changed.msx2;
    std::ofstream(dir / "mine.txt") << msx2_only_config();
    expect_ended(run_cli(split("--hue 3 --quiet --hue=-4 --config=mine.txt --dither-order=0 "
                               "--mitigation off --lumi-sort 0 --vertical-error-ratio=6 --gamma "
                               "-3 --color-d 5 --index-r=on --index-0 0 p.bmp",
                               ' '),
                         dir.path()));
    ConversionSettings s{.vertical_error_ratio = 6, .dither_order = 0, .hue = -4};
    s.lumi_sort = s.index_0 = 0, s.mitigation = s.index_r = 1, s.gamma = -3, s.color_d = 5;
    EXPECT_EQ(read_file(dir / "p.S02"), converted_vram(dir / "p.bmp", s, changed));
    fs::rename(dir / "mine.txt", dir / "lumaweave_config.txt");
    expect_ended(run_cli({"p.bmp"}, dir.path()));
    EXPECT_EQ(read_file(dir / "p.S02"), converted_vram(dir / "p.bmp", {}, changed));
    fs::remove(dir / "p.S02");
    expect_failure(run_cli({"--config", "absent.txt", "p.bmp"}, dir.path()),
                   std::string("absent.txt: ") + text(Status::file_not_found));
    EXPECT_FALSE(fs::exists(dir / "p.S02"));
}

TEST(CommandLine, BadValuesAreRefusedBeforeAnythingIsConverted) {
    ScratchDir dir;
    put_noise(dir / "p.bmp");
    // The arguments after the file, separated by "|", then what the refusal names.
    for (const std::string refusal :
         {"--palette|3 => '3' for --palette", "--hue|-5 => '-5' for --hue",
          "--vertical-error-ratio|6x => '6x'", "--vertical-error-ratio| => ''",
          "--vertical-error-ratio|99999999999 => '99999999999'",
          "--mitigation|2 => off|on (off = 1, on = 3)", "--lumi-sort|yes => --lumi-sort",
          "--palette|msx3 => msx1|msx2 (msx1 = 1, msx2 = 2)", "--edge-calc| 1 => --edge-calc",
          "--vertical_error_ratio|6 => unknown option --vertical_error_ratio",
          "--export=yes => --export", "--jobs|65 => --jobs", "-jx => -j",
          "--hue => --hue needs a value", "--config => --config",
          "--auto-budget|0 => '0' for --auto-budget", "--auto=yes => --auto takes no value",
          "--auto-display|vga => 'vga' for --auto-display; it takes table|tms9918",
          "--report=xml => 'xml' for --report"}) {
        const std::size_t arrow = refusal.find(" => ");
        const ProgramResult r =
            run_cli(split("p.bmp|" + refusal.substr(0, arrow), '|'), dir.path());
        EXPECT_EQ(std::tie(r.exit_code, r.out), std::tuple(2, "")) << refusal;
        EXPECT_NE(r.err.find(refusal.substr(arrow + 4)), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("--help"), std::string::npos) << refusal;
    }
    EXPECT_FALSE(fs::exists(dir / "p.S02"));
}

TEST(CommandLine, AwkwardNamesAndPlacesGiveTheSystemsMessageAndNoHalfWrittenFile) {
    ScratchDir dir;
    const std::string odd = "my pic ü 写真.bmp", odd_output = "my pic ü 写真.S02";
    put_noise(dir / odd);
    put_noise(dir / "-dash.bmp", 24);
    expect_ended(run_cli({"--quiet", "--export", "--", odd, "-dash.bmp"}, dir.path()));
    EXPECT_EQ(read_file(dir / odd_output), converted_vram(dir / odd));
    EXPECT_TRUE(fs::exists(dir / "TEST_my pic ü 写真.bmp") && fs::exists(dir / "TEST_-dash.bmp"));
    // The first failure ends the batch with its message; nothing after it is written.
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

TEST(CommandLine, CtrlCStopsBeforeTheNextFile) {
    // A small picture, then large ones: once its ".S02" exists the batch is inside its list.
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
              std::tuple(130, "", std::string(text(Status::stopped)) + "\n"));
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

// Jobs are dealt round the workers, so with two the small pictures after the 256 x 192 one share
// its worker: whatever a conversion leaves behind would show in their bytes.
TEST(CommandLine, TwoJobsWriteWhatOneWrites) {
    ScratchDir one, two;
    const std::vector<std::string> names = {"big.bmp", "a.bmp", "s1.bmp", "b.bmp", "s2.bmp"};
    for (const ScratchDir* dir : {&one, &two}) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            const int w = i == 0 ? 256 : 16 + 8 * static_cast<int>(i), h = i == 0 ? 192 : 16;
            put_noise(*dir / names[i], w, h, static_cast<std::uint32_t>(i + 1));
        }
    }
    std::vector<std::string> args = {"--quiet", "--export", "--hue", "3", "-j", "1"};
    args.insert(args.end(), names.begin(), names.end());
    expect_ended(run_cli(args, one.path()));
    args[5] = "2";
    expect_ended(run_cli(args, two.path()));
    for (const auto& entry : fs::directory_iterator(one.path()))
        EXPECT_EQ(read_file(entry.path()), read_file(two / entry.path().filename()))
            << entry.path();
    EXPECT_EQ(read_file(two / "s2.S02"), converted_vram(two / "s2.bmp", {.hue = 3}));
    EXPECT_TRUE(fs::exists(two / "TEST_s2.bmp"));
}
