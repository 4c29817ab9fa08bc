// lumaweave-cli as a user runs it: options, refusals, outputs, folders, streams, exit codes,
// Ctrl-C.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <set>

#include "cli/options.hpp"
#include "support/program.hpp"

using namespace lumaweave;
using namespace lumaweave::test;
namespace fs = std::filesystem;

namespace {

// Success: the notes and the end message on standard error (nothing with --quiet).
void expect_ended(const ProgramResult& r, const std::string& notes = "", bool quiet = false) {
    EXPECT_EQ(std::tie(r.exit_code, r.out, r.err),
              std::tuple(0, "", quiet ? "" : notes + ended_line));
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
                         dir.path()),
                 "", true);
    ConversionSettings s{.vertical_error_ratio = 6, .dither_order = 0, .hue = -4};
    s.lumi_sort = s.index_0 = 0, s.mitigation = s.index_r = 1, s.gamma = -3, s.color_d = 5;
    EXPECT_EQ(read_file(dir / "p.S02"), converted(dir / "p.bmp", s, changed).vram);
    fs::rename(dir / "mine.txt", dir / "lumaweave_config.txt");
    expect_ended(run_cli({"p.bmp"}, dir.path()));
    EXPECT_EQ(read_file(dir / "p.S02"), converted(dir / "p.bmp", {}, changed).vram);
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
         {"--palette|3 => '3' for --palette",
          "--hue|-5 => '-5' for --hue",
          "--vertical-error-ratio|6x => '6x'",
          "--vertical-error-ratio| => ''",
          "--vertical-error-ratio|99999999999 => '99999999999'",
          "--mitigation|2 => off|on (off = 1, on = 3)",
          "--lumi-sort|maybe => --lumi-sort",
          "--palette|msx3 => msx1|msx2 (msx1 = 1, msx2 = 2)",
          "--edge-calc| 1 => --edge-calc",
          "--vertical_error_ratio|6 => unknown option --vertical_error_ratio",
          "--export=yes => --export",
          "--jobs|65 => --jobs",
          "-jx => -j",
          "-qx => unknown option -x",
          "-o| => '' for -o",
          "--output-dir => --output-dir needs a value: DIR",
          "--version=1 => --version takes no value",
          "--hue => --hue needs a value",
          "--config => --config",
          "--auto-budget|0 => '0' for --auto-budget",
          "--auto=yes => --auto takes no value",
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
    expect_ended(run_cli({"--quiet", "--export", "--", odd, "-dash.bmp"}, dir.path()), "", true);
    EXPECT_EQ(read_file(dir / odd_output), converted(dir / odd).vram);
    EXPECT_TRUE(fs::exists(dir / "TEST_my pic ü 写真.bmp") && fs::exists(dir / "TEST_-dash.bmp"));
    // The first failure ends the batch with its message; nothing after it is written.
    fs::create_symlink("loop.bmp", dir / "loop.bmp");
    ASSERT_EQ(::mkfifo((dir / "pipe.bmp").c_str(), 0644), 0);  // refused, not waited on
    put_noise(dir / "b.bmp");
    fs::create_directory(dir / "b.S02");
    // A file that cannot be written is named after the system's message, with the reason.
    write_file(dir / "plain", {1});
    const std::string cannot_open = text(Status::file_cannot_open);
    for (const auto& [name, message] :
         {std::pair{"loop.bmp", "loop.bmp: " + cannot_open + " (" + std::strerror(ELOOP) + ")"},
          {"pipe.bmp", "pipe.bmp: " + cannot_open},
          {"none/p.bmp", "none/p.bmp: " + text(Status::file_not_found)},
          {"b.bmp", text(Status::could_not_create) + " (b.S02: Is a directory)"},
          {"-oplain/sub", text(Status::could_not_create) + " (plain/sub: Not a directory)"}}) {
        fs::remove(dir / "-dash.S02");
        fs::remove(dir / odd_output);
        const bool option = name[0] == '-';  // then the first file fails
        expect_failure(run_cli(option ? std::vector<std::string>{name, "--", "-dash.bmp", odd}
                                      : std::vector<std::string>{"--", "-dash.bmp", name, odd},
                               dir.path()),
                       message);
        EXPECT_EQ(fs::exists(dir / "-dash.S02"), !option) << name;
        EXPECT_FALSE(fs::exists(dir / odd_output)) << name;
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
    for (const char* bar :
         {"[                    ]   0% 1/2 a.bmp", "[##########          ]  50% 2/2 b.bmp",
          "[####################] 100% 2/2 b.bmp\r\033[K" /* then cleared */})
        EXPECT_NE(r.err.find(bar), std::string::npos) << r.err;
    EXPECT_TRUE(r.exit_code == 0 && r.err.ends_with("\r\033[K" + text(Status::ok) + "\r\n"));
    r = run_cli({"--quiet", "a.bmp", "b.bmp"}, dir.path(), true);
    EXPECT_EQ(std::tie(r.exit_code, r.err), std::tuple(0, ""));
    expect_ended(run_cli({"a.bmp"}, dir.path()));  // not a terminal: no bar
    // The settings search of a large picture moves the bar within the file.
    put_noise(dir / "large.bmp", 256, 192);
    r = run_cli({"--auto", "--auto-budget", "3", "large.bmp"}, dir.path(), true);
    int within = 0;
    for (std::size_t at = 0; (at = r.err.find("% 1/1", at + 1)) != std::string::npos;)
        within += std::stoi(r.err.substr(at - 3, 3)) % 100 != 0;
    EXPECT_GE(within, 2) << r.err;
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
    expect_ended(run_cli(args, one.path()), "", true);
    args[5] = "2";
    expect_ended(run_cli(args, two.path()), "", true);
    for (const auto& entry : fs::directory_iterator(one.path()))
        EXPECT_EQ(read_file(entry.path()), read_file(two / entry.path().filename()))
            << entry.path();
    EXPECT_EQ(read_file(two / "s2.S02"), converted(two / "s2.bmp", {.hue = 3}).vram);
    EXPECT_TRUE(fs::exists(two / "TEST_s2.bmp"));
}

namespace {

// Every file below `folder`, as relative paths.
std::set<std::string> files_below(const fs::path& folder) {
    std::set<std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) out.insert(fs::relative(entry.path(), folder).string());
    return out;
}

}  // namespace

// A folder gives the pictures directly in it in byte order of their names, -r those below it as
// well, and -o DIR takes every output, the folders below a folder given made again under it. A
// folder scan leaves out the TEST_ picture of a picture beside it; names that are not pictures
// are skipped. All of these are reported on standard error and leave the exit status 0.
TEST(CommandLine, FoldersGiveTheirPicturesAndOutputsGoWhereAsked) {
    ScratchDir dir;
    fs::create_directories(dir / "in/sub/deeper");
    for (const char* name : {"in/b.bmp", "in/B.BMP", "in/TEST_b.bmp", "in/sub/c.bmp",
                             "in/sub/deeper/d.bmp", "in/sub/TEST_x.bmp"})
        put_noise(dir / name, 16, 16, static_cast<std::uint32_t>(std::strlen(name)));
    write_file(dir / "in/notes.txt", {1});
    write_file(dir / "notes.txt", {1});
    const std::string left_out = "in/TEST_b.bmp: skipped (an output of in/b.bmp)\n";
    const struct {
        std::vector<std::string> args;
        std::string report_order, notes;
        std::set<std::string> outputs;  // in out/
    } cases[] = {
        {{"in", "notes.txt", "gone"},
         "in/B.BMP in/b.bmp",
         left_out + "notes.txt: skipped (not a picture)\ngone: skipped (no such file or folder)\n",
         {"B.S02", "b.S02"}},
        {{"-r", "--export", "in/"},
         "in/B.BMP in/b.bmp in/sub/TEST_x.bmp in/sub/c.bmp in/sub/deeper/d.bmp",
         left_out,
         {"B.S02", "TEST_B.bmp", "b.S02", "TEST_b.bmp", "sub/TEST_x.S02", "sub/TEST_TEST_x.bmp",
          "sub/c.S02", "sub/TEST_c.bmp", "sub/deeper/d.S02", "sub/deeper/TEST_d.bmp"}},
        {{"in/sub/deeper/d.bmp", "in/b.bmp"},
         "in/sub/deeper/d.bmp in/b.bmp",
         "",
         {"d.S02", "b.S02"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--report", "-o", "out"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProgramResult r = run_cli(args, dir.path());
        std::string order;
        for (const std::string& line : split(r.out, '\n'))
            if (!line.empty()) order += (order.empty() ? "" : " ") + line.substr(0, line.find(':'));
        EXPECT_EQ(std::tie(r.exit_code, order, r.err),
                  std::tuple(0, c.report_order, c.notes + ended_line))
            << args[3];
        EXPECT_EQ(files_below(dir / "out"), c.outputs) << args[3];
        fs::remove_all(dir / "out");
    }
    EXPECT_EQ(files_below(dir / "in").size(), 7u);  // nothing written beside the sources
    const ProgramResult quiet = run_cli({"-q", "-r", "-o", "o", "in"}, dir.path());
    EXPECT_EQ(std::tie(quiet.exit_code, quiet.out, quiet.err), std::tuple(0, "", ""));
    EXPECT_EQ(read_file(dir / "o/sub/deeper/d.S02"), converted(dir / "in/sub/deeper/d.bmp").vram);
}

// Run twice over *.bmp with --export, lumaweave meets its own double-size TEST_ pictures: without
// -k the first ends the run, with -k every picture is converted, each failure reported and
// counted. Into a folder of their own, the outputs are no pictures of the next run.
TEST(CommandLine, KeepGoingConvertsEveryPictureAndCountsWhatBecameOfThem) {
    ScratchDir dir;
    put_noise(dir / "a.bmp", 256, 16);
    put_noise(dir / "b.bmp", 16, 16);
    write_file(dir / "x.txt", {1});
    for (int run = 0; run < 2; ++run)
        expect_ended(run_cli(split("--export -o out a.bmp b.bmp", ' '), dir.path()));
    expect_ended(run_cli(split("--export a.bmp b.bmp", ' '), dir.path()));
    fs::remove(dir / "a.S02");
    const std::string glob = "TEST_a.bmp TEST_b.bmp a.bmp b.bmp x.txt";  // as the shell sorts
    // A picture too wide: the system's message, then (once) how framing would take it.
    const std::string wide =
        "TEST_a.bmp: " + text(Status::width_exceeds_256) + "\n" + cli::framing_hint() + "\n";
    expect_failure(run_cli(split("--export " + glob, ' '), dir.path()),
                   wide.substr(0, wide.size() - 1));
    EXPECT_FALSE(fs::exists(dir / "a.S02") || fs::exists(dir / "TEST_b.S02"));
    const ProgramResult r = run_cli(split("-k --export " + glob, ' '), dir.path());
    EXPECT_EQ(std::tie(r.exit_code, r.out, r.err),
              std::tuple(1, "",
                         wide + "x.txt: skipped (not a picture)\n"
                                "3 converted, 1 failed, 1 skipped\n"));
    EXPECT_EQ(read_file(dir / "a.S02"), converted(dir / "a.bmp").vram);
    EXPECT_TRUE(fs::exists(dir / "TEST_b.S02") && fs::exists(dir / "TEST_TEST_b.bmp"));
    // --quiet keeps the failures and the count.
    EXPECT_EQ(run_cli(split("-qk " + glob, ' '), dir.path()).err,
              wide + "3 converted, 1 failed, 1 skipped\n");
}

// Two pictures that would write one output, or an output that would replace a picture of the
// run, are refused before anything is written, with a hint.
TEST(CommandLine, CollidingOrOverwritingOutputsAreRefusedBeforeAnythingIsWritten) {
    ScratchDir dir;
    fs::create_directories(dir / "a");
    for (const char* name : {"p.bmp", "p.BMP", "a/p.bmp", "q.bmp"})
        put_noise(dir / name);
    fs::create_symlink("q.bmp", dir / "link.S02");
    put_noise(dir / "link.bmp");
    const auto before = files_below(dir.path());
    for (const std::string refusal :
         {"p.bmp p.BMP => p.bmp and p.BMP would both write p.S02; nothing was converted.\n"
          "Rename one of them",
          "-o out -r p.bmp a => p.bmp and a/p.bmp would both write out/p.S02",
          "-o out a/p.bmp p.bmp => with -r to keep",
          "q.bmp link.bmp => link.S02, an output of link.bmp, would replace the picture q.bmp of "
          "this run; nothing was converted.\nWrite the outputs to another folder with -o DIR.\n"}) {
        const std::size_t arrow = refusal.find(" => ");
        const ProgramResult r = run_cli(split(refusal.substr(0, arrow), ' '), dir.path());
        EXPECT_EQ(std::tie(r.exit_code, r.out), std::tuple(1, "")) << refusal;
        EXPECT_TRUE(r.err.starts_with("lumaweave-cli: ") &&
                    r.err.find(refusal.substr(arrow + 4)) != std::string::npos)
            << r.err;
        EXPECT_EQ(files_below(dir.path()), before);
    }
    // Named with the others, a TEST_ picture an earlier run wrote is converted in its turn.
    put_noise(dir / "TEST_q.bmp");
    expect_ended(run_cli(split("--export q.bmp TEST_q.bmp", ' '), dir.path()));
    EXPECT_EQ(read_file(dir / "TEST_q.S02"), converted(dir / "TEST_q.bmp").vram);
}

// --no-clobber writes only the outputs that are missing, and skips a file that has them all.
TEST(CommandLine, NoClobberKeepsEveryOutputThatExists) {
    ScratchDir dir;
    put_noise(dir / "a.bmp");
    put_noise(dir / "b.bmp", 24);
    write_file(dir / "a.S02", {1, 2, 3});
    expect_ended(run_cli(split("-n --export a.bmp b.bmp", ' '), dir.path()));
    EXPECT_EQ(read_file(dir / "a.S02"), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(read_file(dir / "TEST_a.bmp"), converted(dir / "a.bmp").export_bmp);
    EXPECT_EQ(read_file(dir / "b.S02"), converted(dir / "b.bmp").vram);
    expect_ended(run_cli(split("--no-clobber a.bmp b.bmp", ' '), dir.path()),
                 "a.bmp: skipped (its outputs exist)\nb.bmp: skipped (its outputs exist)\n");
}

// Standard output holds what was asked for, and nothing else; the version and the help too.
TEST(CommandLine, StandardOutputCarriesOnlyWhatWasAskedFor) {
    ScratchDir dir;
    put_noise(dir / "a.bmp");
    put_noise(dir / "b.bmp");
    const ProgramResult r =
        Program(
            {"/bin/sh", "-c",
             "'" + cli_program + "' -q --report=json *.bmp | python3 -m json.tool --json-lines"},
            dir.path())
            .wait();
    EXPECT_EQ(std::tie(r.exit_code, r.err), std::tuple(0, ""));
    EXPECT_NE(r.out.find("\"file\": \"b.bmp\""), std::string::npos) << r.out;
    const ProgramResult spaced = run_cli(split("-q --report json a.bmp b.bmp", ' '), dir.path());
    EXPECT_EQ(spaced.out, run_cli(split("-q --report=json a.bmp b.bmp", ' '), dir.path()).out);
    EXPECT_EQ(std::ranges::count(spaced.out, '\n'), 2);
    for (const auto& [option, start] :
         {std::pair{"--version", "lumaweave-cli "}, {"--help", "Usage: lumaweave-cli "}}) {
        const ProgramResult info = run_cli({option, "a.bmp"}, dir.path());
        EXPECT_TRUE(info.exit_code == 0 && info.out.starts_with(start) && info.err.empty());
    }
    const std::string version = run_cli({"--version"}, dir.path()).out.substr(14);  // "1.2.3\n"
    EXPECT_TRUE(version.find_first_not_of("0123456789.") == version.size() - 1 &&
                std::ranges::count(version, '.') == 2 && version.ends_with('\n'))
        << version;
}
