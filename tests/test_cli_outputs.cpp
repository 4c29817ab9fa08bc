// lumaweave-cli's outputs for homebrew programs as a user asks for them: --format, --dedupe,
// --asm-syntax, --show, and the rules every output obeys.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <set>
#include <thread>

#include "batch/output.hpp"
#include "support/program.hpp"

using namespace lumaweave;
using namespace lumaweave::test;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::set<std::string> names_in(const fs::path& folder) {
    std::set<std::string> out;
    for (const auto& entry : fs::directory_iterator(folder))
        out.insert(entry.path().filename().string());
    return out;
}

Bytes made(const OutputFormat& format, const fs::path& source, const OutputOptions& options = {}) {
    const Result r = converted(source);
    return format.bytes(outputs::PictureFiles(r, source.string(), options));
}

// Runs lumaweave-cli with PATH set to `path`.
ProgramResult run_with_path(const std::string& path, std::vector<std::string> args,
                            const fs::path& folder) {
    args.insert(args.begin(), {"/usr/bin/env", "PATH=" + path, cli_program});
    return Program(args, folder).wait();
}

// Waits (a bounded while) until `done` holds.
bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 400 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    return done();
}

}  // namespace

// Each name of --format writes its files, beside the source or in -o's folder, in any letter
// case and order; names that are no format are refused before anything is written.
TEST(CommandLineOutputs, FormatChoosesTheFilesWritten) {
    ScratchDir dir;
    put_noise(dir / "p.bmp", 32, 24);
    const ProgramResult all = run_cli(
        split("-q --format=RAW,c,asm,rom,screen.png,pal,s02 -o out p.bmp", ' '), dir.path());
    EXPECT_EQ(std::tie(all.exit_code, all.out, all.err), std::tuple(0, "", ""));
    EXPECT_EQ(names_in(dir / "out"),
              (std::set<std::string>{"p.chr", "p.clr", "p.nam", "p.h", "p.asm", "p.rom",
                                     "p.screen.png", "p.pal", "p.S02"}));
    for (const OutputKind& kind : output_kinds()) {
        for (const OutputFormat* format : kind.formats) {
            const std::string name = format->file_name("p.bmp");
            EXPECT_TRUE(read_file(dir / "out" / name) == made(*format, dir / "p.bmp")) << name;
        }
    }
    EXPECT_EQ(run_cli(split("-q --format s02 --format rom,raw p.bmp", ' '), dir.path()).exit_code,
              0);
    EXPECT_EQ(names_in(dir.path()),
              (std::set<std::string>{"out", "p.bmp", "p.rom", "p.chr", "p.clr", "p.nam"}));
    for (const char* list : {"s02,bmp", "", ",", "s02;raw", "png"}) {
        const ProgramResult r = run_cli({"--format", list, "q.bmp"}, dir.path());
        EXPECT_EQ(r.exit_code, 2) << list;
        EXPECT_NE(r.err.find("it takes a comma-separated list of s02, raw, c, asm, rom, "
                             "screen.png, pal"),
                  std::string::npos)
            << r.err;
    }
    const ProgramResult bad = run_cli(split("--asm-syntax tasm p.bmp", ' '), dir.path());
    EXPECT_EQ(bad.exit_code, 2);
    EXPECT_NE(bad.err.find("'tasm' for --asm-syntax; it takes pasmo|sdasz80"), std::string::npos);
}

// The new outputs obey the rules of every output: two pictures that would write one of them, or
// a file the run converts, are refused before anything is written; -n keeps those that exist.
TEST(CommandLineOutputs, NewOutputsCollideAndClobberAsEveryOutputDoes) {
    ScratchDir dir;
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    put_noise(dir / "a/p.bmp");
    put_noise(dir / "b/p.bmp", 24);
    const ProgramResult r = run_cli(split("--format raw -o out a/p.bmp b/p.bmp", ' '), dir.path());
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("a/p.bmp and b/p.bmp would both write out/p.chr; nothing was converted"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(dir / "out"));
    write_file(dir / "a/p.h", {'x'});
    EXPECT_EQ(run_cli(split("-q -n --format c,rom a/p.bmp", ' '), dir.path()).exit_code, 0);
    EXPECT_EQ(read_file(dir / "a/p.h"), Bytes{'x'});
    EXPECT_TRUE(read_file(dir / "a/p.rom") == made(rom_output, dir / "a/p.bmp"));
    const ProgramResult again = run_cli(split("-n --format c,rom a/p.bmp", ' '), dir.path());
    EXPECT_EQ(again.err, "a/p.bmp: skipped (its outputs exist)\n" + ended_line);
}

// --dedupe changes the tables every format writes, the sdasz80 form the assembler file; --report
// says how many tiles each third keeps.
TEST(CommandLineOutputs, DedupeAndAsmSyntaxReachEveryFileAndTheReport) {
    ScratchDir dir;
    write_file(dir / "flat.bmp", make_flat_bmp(64, 32, {200, 40, 40}));
    const ProgramResult r = run_cli(
        split("--report --dedupe --asm-syntax sdasz80 --format s02,raw,asm,rom flat.bmp", ' '),
        dir.path());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const OutputOptions options{.dedupe = true, .asm_syntax = outputs::AsmSyntax::sdasz80};
    for (const OutputFormat* format :
         {&vram_output, &pattern_output, &colour_output, &name_output, &asm_output, &rom_output}) {
        const std::string name = format->file_name("flat.bmp");
        EXPECT_TRUE(read_file(dir / name) == made(*format, dir / "flat.bmp", options)) << name;
    }
    const Result flat = converted(dir / "flat.bmp");
    const auto tiles = outputs::PictureFiles(flat, "flat.bmp", options).tables().tiles;
    EXPECT_LT(tiles[0] + tiles[1] + tiles[2], 10);
    const std::string counts = std::to_string(tiles[0]) + ", " + std::to_string(tiles[1]) +
                               " and " + std::to_string(tiles[2]) + " per third";
    EXPECT_NE(r.out.find("flat.bmp: " + std::to_string(tiles[0] + tiles[1] + tiles[2]) +
                         " tiles of 768 stored, " + counts + "\n"),
              std::string::npos)
        << r.out;
    const ProgramResult json =
        run_cli(split("-q --report=json --dedupe flat.bmp", ' '), dir.path());
    EXPECT_NE(json.out.find(",\"tiles\":[" + std::to_string(tiles[0]) + "," +
                            std::to_string(tiles[1]) + "," + std::to_string(tiles[2]) + "]}"),
              std::string::npos)
        << json.out;
}

// --show starts openMSX (here a stand-in on the PATH that records what it was given) on a
// temporary copy of each picture's cartridge, C-BIOS's MSX1 machine or for an MSX2 palette its
// MSX2 one, without waiting for it; the copy's folder goes when openMSX ends. Past four pictures
// it says how many it left; without openMSX it says so once and converts all the same.
TEST(CommandLineOutputs, ShowOpensEachResultsCartridgeInOpenMsx) {
    ScratchDir dir, bin, calls;
    std::ofstream(bin / "openmsx")
        << "#!/bin/sh\ncp \"$4\" \"" << (calls / "$$.rom").string() << "\"\n"
        << "printf '%s\\n' \"$@\" > \"" << (calls / "$$.tmp").string() << "\"\n"
        << "mv \"" << (calls / "$$.tmp").string() << "\" \"" << (calls / "$$.args").string()
        << "\"\n";
    ::chmod((bin / "openmsx").c_str(), 0755);
    const std::string path = bin.path().string() + ":/usr/bin:/bin";
    put_noise(dir / "one.bmp", 32, 16, 1);
    put_noise(dir / "two.bmp", 16, 16, 2);
    Bytes companion(7 + 0x7680 + 32, 0x23);  // a palette of its own: two.bmp is for an MSX2
    write_file(dir / "two.s05", companion);
    const ProgramResult r =
        run_with_path(path, split("-q --show --format s02 one.bmp two.bmp", ' '), dir.path());
    EXPECT_EQ(std::tie(r.exit_code, r.out, r.err), std::tuple(0, "", ""));
    EXPECT_EQ(names_in(dir.path()),
              (std::set<std::string>{"one.bmp", "two.bmp", "two.s05", "one.S02", "two.S02"}));
    const auto count = [&](const std::string& ending) {
        int n = 0;
        for (const std::string& name : names_in(calls.path()))
            n += name.ends_with(ending);
        return n;
    };
    ASSERT_TRUE(eventually([&] { return count(".args") == 2; }));
    std::set<std::string> machines;
    for (const std::string& name : names_in(calls.path())) {
        if (!name.ends_with(".args")) continue;
        const Bytes recorded = read_file(calls / name);
        const std::vector<std::string> args =
            split(std::string(recorded.begin(), recorded.end()), '\n');
        ASSERT_EQ(args.size(), 5u);
        EXPECT_EQ(args[0], "-machine");
        EXPECT_EQ(args[2], "-cart");
        machines.insert(args[1]);
        const fs::path rom = args[3];
        const std::string picture = rom.stem().string() + ".bmp";
        const Bytes shown = read_file(calls / (name.substr(0, name.size() - 5) + ".rom"));
        EXPECT_TRUE(shown == made(rom_output, dir / picture)) << picture;
        EXPECT_EQ(args[1], picture == "two.bmp" ? "C-BIOS_MSX2" : "C-BIOS_MSX1");
        EXPECT_TRUE(eventually([&] { return !fs::exists(rom.parent_path()); }))
            << rom.parent_path();
    }
    EXPECT_EQ(machines, (std::set<std::string>{"C-BIOS_MSX1", "C-BIOS_MSX2"}));

    for (int i = 0; i < 3; ++i)
        put_noise(dir / ("more" + std::to_string(i) + ".bmp"), 16, 16, 3 + i);
    const ProgramResult many = run_with_path(path, split("--show .", ' '), dir.path());
    EXPECT_EQ(many.exit_code, 0);
    EXPECT_NE(many.err.find("lumaweave-cli: --show opened the first 4 pictures; 1 more were not "
                            "shown\n"),
              std::string::npos)
        << many.err;
    EXPECT_TRUE(eventually([&] { return count(".args") == 6; }));

    const ProgramResult missing =
        run_with_path(dir.path().string(), split("-q --show one.bmp", ' '), dir.path());
    EXPECT_EQ(std::tie(missing.exit_code, missing.out, missing.err),
              std::tuple(0, "",
                         "lumaweave-cli: --show: openMSX is not installed (on Debian: apt-get "
                         "install openmsx cbios); converting without showing\n"));
}
