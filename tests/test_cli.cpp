// lumaweave-cli as a user runs it: options, refusals, outputs, exit codes, -j, Ctrl-C, progress.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "convert/convert.hpp"
#include "io/messages.hpp"
#include "support/run_program.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
namespace fs = std::filesystem;

namespace {

const std::string cli_program = LUMAWEAVE_CLI;

test::ProgramResult run_cli(const std::vector<std::string>& args, const fs::path& folder) {
    test::ScratchDir capture;
    test::Program program(cli_program, args, folder, capture.path());
    EXPECT_TRUE(program.started());
    return program.wait();
}

std::vector<std::uint8_t> picture(int width, int height, int seed = 0) {
    return test::make_bmp(width, height, [seed](int x, int y) {
        return test::Color{static_cast<std::uint8_t>(x * 3 + y + seed * 50),
                           static_cast<std::uint8_t>(y * 5 + (x >> 2) * 11 + seed),
                           static_cast<std::uint8_t>((x * y + seed * 7) & 0xFF)};
    });
}

std::vector<std::uint8_t> converted(const fs::path& source, const ConversionSettings& settings,
                                    const DefaultPalettes& palettes = {}) {
    auto conv = make_conversion();
    ScratchPool pool;
    EXPECT_EQ(convert_file(*conv, pool, source.string(), settings, palettes), "");
    return {conv->vram.begin(), conv->vram.end()};
}

const std::string ended_line = std::string(msg::ended) + "\n";

// A complete configuration whose MSX1 table differs from the built-in one.
const char* const changed_config =
    "* MSX1 palette\n"
    "0,0,0 0,0,0 1,6,1 3,7,3 1,1,7 2,3,7 5,1,1 2,6,7 7,1,1 7,3,3 6,6,1 6,6,3 1,4,1 6,2,5 "
    "5,5,5 7,7,7\n"
    "* MSX2 palette\n"
    "0,0,0 0,0,0 1,6,1 3,7,3 1,1,7 2,3,7 5,1,1 2,6,7 7,1,1 7,3,3 6,6,1 6,6,3 1,4,1 6,2,5 "
    "5,5,5 7,7,7\n";

void write_text(const fs::path& path, const std::string& text) {
    test::write_file(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

}  // namespace

TEST(CommandLine, OptionsSetTheirFieldsAndOthersKeepTheirInitialValues) {
    test::ScratchDir dir;
    test::write_file(dir / "p.bmp", picture(32, 24));

    test::ProgramResult r = run_cli({"p.bmp"}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, ended_line);
    EXPECT_EQ(r.err, "");
    const std::vector<std::uint8_t> initial = converted(dir / "p.bmp", ConversionSettings{});
    EXPECT_EQ(test::read_file(dir / "p.S02"), initial);

    ConversionSettings s;
    s.hue = -4;
    s.palette = 2;
    s.dither_order = 0;
    s.mitigation = 1;
    s.lumi_sort = 0;
    s.vertical_error_ratio = 6;
    s.gamma = -3;
    s.color_d = 5;
    s.index_r = 1;
    s.index_0 = 0;
    const std::vector<std::uint8_t> expected = converted(dir / "p.bmp", s);
    ASSERT_NE(expected, initial);
    // Words for check boxes, "=" forms, and numbers; the last of a repeated option counts.
    const std::vector<std::vector<std::string>> spellings = {
        {"--quiet",
         "--hue",
         "-4",
         "--palette",
         "2",
         "--dither-order",
         "0",
         "--mitigation",
         "off",
         "--lumi-sort=off",
         "--vertical-error-ratio",
         "6",
         "--gamma=-3",
         "--color-d",
         "5",
         "--index-r",
         "on",
         "--index-0",
         "off",
         "p.bmp"},
        {"--hue", "3", "--mitigation", "1", "--lumi-sort", "0", "--index-r=1", "--index-0", "0",
         "--palette=2", "--dither-order=0", "--vertical-error-ratio=6", "--gamma", "-3",
         "--color-d=5", "--hue=-4", "p.bmp"},
    };
    for (const auto& args : spellings) {
        fs::remove(dir / "p.S02");
        r = run_cli(args, dir.path());
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out, ended_line);
        EXPECT_EQ(test::read_file(dir / "p.S02"), expected);
    }
}

TEST(CommandLine, BadValuesAreRefusedBeforeAnythingIsConverted) {
    test::ScratchDir dir;
    test::write_file(dir / "p.bmp", picture(16, 16));
    // Each refused command line, and what the error must name.
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--palette", "3"}, "'3' for --palette"},
        {{"--hue", "7"}, "'7' for --hue"},
        {{"--hue", "-5"}, "'-5' for --hue"},
        {{"--vertical-error-ratio", "9"}, "--vertical-error-ratio"},
        {{"--vertical-error-ratio", "6x"}, "'6x'"},
        {{"--vertical-error-ratio", ""}, "''"},
        {{"--vertical-error-ratio", "99999999999"}, "'99999999999'"},
        {{"--gamma", "-11"}, "--gamma"},
        {{"--color-d", "15"}, "--color-d"},
        {{"--mitigation", "0"}, "--mitigation"},
        {{"--mitigation", "2"}, "on|off (on = 3, off = 1)"},
        {{"--lumi-sort", "yes"}, "--lumi-sort"},
        {{"--lumi-sort", "2"}, "--lumi-sort"},
        {{"--brightness", "on"}, "--brightness"},  // a radio pair, not a check box
        {{"--edge-calc", " 1"}, "--edge-calc"},
        {{"--vertical_error_ratio", "6"}, "unknown option --vertical_error_ratio"},
        {{"--palette="}, "'' for --palette"},
        {{"--export=yes"}, "--export"},
        {{"-j", "0"}, "-j"},
        {{"--jobs", "65"}, "--jobs"},
        {{"-jx"}, "-j"},
        {{"--unknown"}, "--unknown"},
        {{"-x"}, "-x"},
        {{"--hue"}, "--hue needs a value"},
        {{"--config"}, "--config"},
    };
    for (const auto& [options, named] : refused) {
        SCOPED_TRACE(options[0]);
        // The file first, so that only the refusal keeps it from being converted.
        std::vector<std::string> args = {"p.bmp"};
        args.insert(args.end(), options.begin(), options.end());
        const test::ProgramResult r = run_cli(args, dir.path());
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("--help"), std::string::npos);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fs::exists(dir / "p.S02"));
    }
}

TEST(CommandLine, HelpListsEveryOptionWithItsValuesAndInitialValue) {
    test::ScratchDir dir;
    const test::ProgramResult r = run_cli({"--help"}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    for (const SettingField& field : setting_fields()) {
        std::string option = "\n  --" + std::string(field.name) + " ";
        std::replace(option.begin() + 3, option.end(), '_', '-');
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    }
    for (const char* line :
         {"\n  --vertical-error-ratio 0..8, initial 8\n",
          "\n  --palette 1|2 (1 = MSX1, 2 = MSX2), initial 1\n",
          "\n  --dither-order 0|1 (0 = Vertical, 1 = Circular), initial 1\n",
          "\n  --hue -4..6, initial 0\n", "\n  --mitigation on|off (on = 3, off = 1), initial on\n",
          "\n  --gamma -10..8, initial 0\n", "\n  --color-d -4..14, initial 0\n",
          "\n  --edge-emph on|off (on = 1, off = 0), initial off\n", "--export", "--config FILE",
          "-j, --jobs N", "--quiet"}) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line;
    }
}

TEST(CommandLine, ExportWritesTheDoubleSizePicture) {
    test::ScratchDir dir;
    test::write_file(dir / "p.bmp", picture(16, 16));
    test::write_file(dir / "q.bmp", picture(24, 16));
    test::ProgramResult r = run_cli({"--quiet", "--export", "p.bmp", "q.bmp"}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(fs::file_size(dir / "TEST_p.bmp"), 54u + 32 * 96);
    EXPECT_EQ(fs::file_size(dir / "TEST_q.bmp"), 54u + 32 * 144);
    EXPECT_EQ(test::read_file(dir / "p.S02"), converted(dir / "p.bmp", ConversionSettings{}));

    fs::remove(dir / "TEST_p.bmp");
    r = run_cli({"p.bmp"}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_FALSE(fs::exists(dir / "TEST_p.bmp"));
}

TEST(CommandLine, ExitStatusTellsHowTheBatchEnded) {
    test::ScratchDir dir;
    test::write_file(dir / "a.bmp", picture(16, 16));
    test::write_file(dir / "c.bmp", picture(16, 16, 1));

    test::ProgramResult r = run_cli({}, dir.path());
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, std::string(msg::select_a_file) + "\n");
    EXPECT_EQ(r.out, "");

    r = run_cli({"notes.txt", "a.png"}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, ended_line);

    // The failing file is named with its message; nothing after it is written.
    r = run_cli({"a.bmp", "gone.bmp", "c.bmp"}, dir.path());
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, std::string("gone.bmp: ") + msg::file_not_found + "\n");
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(fs::exists(dir / "a.S02"));
    EXPECT_FALSE(fs::exists(dir / "c.S02"));
}

TEST(CommandLine, ParallelConversionWritesTheSameBytes) {
    // With -j 2 the 256 x 192 picture and the 16 x 16 one after it fall to the same worker
    // (jobs are dealt round), so anything the large picture leaves behind shows in the small.
    test::ScratchDir dir;
    test::write_file(dir / "large.bmp", picture(256, 192, 1));
    test::write_file(dir / "medium.bmp", picture(64, 48, 2));
    test::write_file(dir / "small.bmp", picture(16, 16, 3));
    const std::vector<std::string> names = {"large.bmp", "medium.bmp", "small.bmp"};
    const std::vector<std::string> options = {"--hue", "3", "--index-0", "off", "--export"};

    std::map<std::string, std::vector<std::uint8_t>> by_jobs[2];
    for (int jobs : {1, 2}) {
        std::vector<std::string> args = options;
        args.insert(args.end(), {"-j", std::to_string(jobs)});
        args.insert(args.end(), names.begin(), names.end());
        const test::ProgramResult r = run_cli(args, dir.path());
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(r.out, ended_line);
        for (const std::string base : {"large", "medium", "small"}) {
            by_jobs[jobs - 1][base + ".S02"] = test::read_file(dir / (base + ".S02"));
            by_jobs[jobs - 1]["TEST_" + base] = test::read_file(dir / ("TEST_" + base + ".bmp"));
            fs::remove(dir / (base + ".S02"));
            fs::remove(dir / ("TEST_" + base + ".bmp"));
        }
    }
    EXPECT_TRUE(by_jobs[0] == by_jobs[1]);

    // The small picture converted by a fresh program.
    std::vector<std::string> alone = options;
    alone.push_back("small.bmp");
    ASSERT_EQ(run_cli(alone, dir.path()).exit_code, 0);
    EXPECT_EQ(test::read_file(dir / "small.S02"), by_jobs[1]["small.S02"]);

    // The same first failure, and nothing written after it.
    for (const char* jobs : {"1", "2"}) {
        const test::ProgramResult r =
            run_cli({"-j", jobs, "small.bmp", "missing.bmp", "medium.bmp"}, dir.path());
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, std::string("missing.bmp: ") + msg::file_not_found + "\n");
        EXPECT_FALSE(fs::exists(dir / "medium.S02"));
    }
}

TEST(CommandLine, PaletteConfigurationIsReadAtStart) {
    test::ScratchDir dir;
    test::write_file(dir / "p.bmp", picture(32, 16));
    DefaultPalettes changed;
    changed.msx1 = changed.msx2;
    const std::vector<std::uint8_t> with_changed =
        converted(dir / "p.bmp", ConversionSettings{}, changed);
    ASSERT_NE(with_changed, converted(dir / "p.bmp", ConversionSettings{}));

    // lumaweave_config.txt in the current folder.
    write_text(dir / "lumaweave_config.txt", changed_config);
    test::ProgramResult r = run_cli({"p.bmp"}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(test::read_file(dir / "p.S02"), with_changed);

    // An incomplete one ends the program with its message before any conversion.
    fs::remove(dir / "p.S02");
    write_text(dir / "lumaweave_config.txt", "* MSX1 palette 0 0 0 1 1 1 2 2 2\n* MSX2 palette");
    r = run_cli({"p.bmp"}, dir.path());
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, std::string(msg::config_not_enough) + "* MSX1 palette\n");
    EXPECT_FALSE(fs::exists(dir / "p.S02"));

    // --config reads the named file instead.
    write_text(dir / "mine.txt", changed_config);
    r = run_cli({"--config", "mine.txt", "p.bmp"}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(test::read_file(dir / "p.S02"), with_changed);

    const std::string msx1_only(changed_config, std::string(changed_config).find("* MSX2"));
    write_text(dir / "mine.txt", msx1_only);
    r = run_cli({"--config=mine.txt", "p.bmp"}, dir.path());
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, std::string(msg::config_item_not_found) + "* MSX2 palette\n");

    // A named configuration that is not there is reported, not silently replaced.
    r = run_cli({"--config", "absent.txt", "p.bmp"}, dir.path());
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, std::string("absent.txt: ") + msg::file_not_found + "\n");
}

TEST(CommandLine, AwkwardNamesAndPlacesGiveTheSystemsMessage) {
    test::ScratchDir dir;
    const std::string odd = "my pic ü 写真.bmp";
    test::write_file(dir / odd, picture(16, 16));
    test::write_file(dir / "-dash.bmp", picture(16, 16, 1));
    test::ProgramResult r = run_cli({"--export", "--", odd, "-dash.bmp"}, dir.path());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "my pic ü 写真.S02"));
    EXPECT_TRUE(fs::exists(dir / "TEST_my pic ü 写真.bmp"));
    EXPECT_TRUE(fs::exists(dir / "-dash.S02"));

    fs::create_directory(dir / "folder.bmp");
    r = run_cli({"folder.bmp"}, dir.path());
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, std::string("folder.bmp: ") + msg::file_cannot_open + "\n");

    // An output that cannot be created; the output written before it stays.
    test::write_file(dir / "a.bmp", picture(16, 16, 2));
    test::write_file(dir / "b.bmp", picture(16, 16, 3));
    fs::create_directory(dir / "b.S02");
    r = run_cli({"a.bmp", "b.bmp"}, dir.path());
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, std::string("b.bmp: ") + msg::could_not_create + "\n");
    EXPECT_EQ(test::read_file(dir / "a.S02"), converted(dir / "a.bmp", ConversionSettings{}));
    EXPECT_TRUE(fs::is_directory(dir / "b.S02"));

    // A named pipe is refused at once rather than waited on.
    ASSERT_EQ(::mkfifo((dir / "pipe.bmp").c_str(), 0644), 0);
    r = run_cli({"pipe.bmp"}, dir.path());
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, std::string("pipe.bmp: ") + msg::file_cannot_open + "\n");

    // A folder without write permission (which does not hold back the superuser).
    if (::geteuid() != 0) {
        fs::create_directory(dir / "locked");
        test::write_file(dir / "locked" / "p.bmp", picture(16, 16));
        fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
        r = run_cli({"locked/p.bmp"}, dir.path());
        fs::permissions(dir / "locked", fs::perms::owner_all);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err, std::string("locked/p.bmp: ") + msg::could_not_create + "\n");
        EXPECT_EQ(test::read_file(dir / "locked" / "p.bmp"), picture(16, 16));
    }

    r = run_cli({"no-such-folder/p.bmp"}, dir.path());
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, std::string("no-such-folder/p.bmp: ") + msg::file_not_found + "\n");
}

TEST(CommandLine, CtrlCStopsBeforeTheNextFile) {
    // A small picture first, then a long list of large ones: once the small one's ".S02"
    // exists the batch is well inside its list when the interrupt arrives.
    test::ScratchDir dir;
    test::write_file(dir / "a.bmp", picture(16, 16));
    test::write_file(dir / "large.bmp", picture(256, 192, 1));
    std::vector<std::string> args = {"a.bmp"};
    args.insert(args.end(), 40, "large.bmp");
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(jobs);
        fs::remove(dir / "a.S02");
        std::vector<std::string> with_jobs = {"-j", jobs};
        with_jobs.insert(with_jobs.end(), args.begin(), args.end());
        test::ScratchDir capture;
        test::Program program(cli_program, with_jobs, dir.path(), capture.path());
        while (program.running() && !fs::exists(dir / "a.S02"))
            ::usleep(2000);
        ASSERT_TRUE(program.running());
        program.send(SIGINT);
        const test::ProgramResult r = program.wait();
        EXPECT_EQ(r.exit_code, 130);
        EXPECT_EQ(r.err, std::string(msg::stopped) + "\n");
        EXPECT_EQ(r.out, "");
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            EXPECT_EQ(entry.path().filename().string().find("tmp"), std::string::npos);
        }
    }
}

TEST(CommandLine, ProgressIsShownOnATerminalOnly) {
    test::ScratchDir dir;
    test::write_file(dir / "a.bmp", picture(16, 16));
    test::write_file(dir / "b.bmp", picture(16, 16, 1));
    test::ProgramResult r = test::run_on_terminal(cli_program, {"a.bmp", "b.bmp"}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.err.find("[                    ]   0% 1/2 a.bmp"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("[##########          ]  50% 2/2 b.bmp"), std::string::npos) << r.err;
    // The bar is cleared before the program ends.
    EXPECT_EQ(r.err.substr(r.err.size() - 4), "\r\033[K");

    r = test::run_on_terminal(cli_program, {"--quiet", "a.bmp", "b.bmp"}, dir.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err.find('%'), std::string::npos) << r.err;
}
