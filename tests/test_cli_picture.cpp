// lumaweave-cli with pictures other than 24-bit BMP files, as a user runs it: framing options,
// bad files, the libvips module loaded only when needed, reports that stay clean.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "cli/options.hpp"
#include "support/parse.hpp"
#include "support/picture_files.hpp"
#include "support/program.hpp"

using namespace lumaweave;
using namespace lumaweave::test;
namespace fs = std::filesystem;

// The framing options and their values; two framings, or a framing's setting without one, are
// usage errors.
TEST(CommandLinePictures, FramingOptionsAndTheirValues) {
    const cli::ParseResult fit = parse({"--fit", "--pixel-aspect", "8:7", "--background", "#102030",
                                        "--resample=nearest", "a.png"});
    EXPECT_EQ(fit.error, "");
    EXPECT_EQ(fit.options.framing.framing, picture::Framing::fit);
    EXPECT_NEAR(fit.options.framing.pixel_aspect, 8.0 / 7, 1e-12);
    EXPECT_EQ(fit.options.framing.background, (picture::Colour{0x10, 0x20, 0x30}));
    EXPECT_EQ(fit.options.framing.resample, picture::Resample::nearest);
    EXPECT_EQ(cli::picture_arguments(fit.options.framing),
              " --fit --pixel-aspect 1.14286 --resample nearest --background '#102030'");
    EXPECT_EQ(parse({"--background", "White", "--pad", "--pad"}).options.framing.background,
              (picture::Colour{255, 255, 255}));
    const struct {
        std::vector<std::string> args;
        const char* error;
    } refused[] = {
        {{"--fit", "--fill"}, "--fit, --fill, --stretch and --pad exclude each other"},
        {{"--stretch", "--pad"}, "exclude each other"},
        {{"--pixel-aspect", "1.2"}, "--pixel-aspect and --resample apply to framing"},
        {{"--resample", "nearest"}, "apply to framing"},
        {{"--fit", "--pixel-aspect", "5"}, "invalid value '5' for --pixel-aspect"},
        {{"--fit", "--pixel-aspect", "8:0"}, "invalid value '8:0' for --pixel-aspect"},
        {{"--background", "#12345"}, "invalid value '#12345' for --background"},
        {{"--background", "mauve"}, "invalid value 'mauve' for --background"},
        {{"--fit", "--resample", "cubic"}, "invalid value 'cubic' for --resample"},
    };
    for (const auto& r : refused) {
        const cli::ParseResult p = parse(r.args);
        EXPECT_NE(p.error.find(r.error), std::string::npos) << r.args[0] << ": " << p.error;
    }
}

// Framing on the command line, where the framed picture is known exactly: --pad puts a 100 x 50
// picture at (78, 71) on the background; --fit --resample nearest makes each pixel of a 40 x 30
// picture a 6 x 6 block at (8, 6). The ".S02" is that of the framed picture made by hand.
TEST(CommandLinePictures, FramingGivesTheConversionOfTheFramedPicture) {
    ScratchDir dir;
    const RgbPicture small = make_noise(100, 50, 3), art = make_noise(40, 30, 4);
    write_file(dir / "small.png", write_png(RgbaPicture::opaque(small), PngKind::rgb8));
    write_file(dir / "art.gif.png", write_png(RgbaPicture::opaque(art), PngKind::rgb8));
    auto framed = [&](const RgbPicture& p, int left, int top, int factor, Color bg) {
        return make_bmp(256, 192, [&](int x, int y) {
            const int sx = (x - left) / factor, sy = (y - top) / factor;
            const bool inside = x >= left && y >= top && sx < p.width && sy < p.height;
            return inside ? p.at(sx, sy) : bg;
        });
    };
    write_file(dir / "want_pad.bmp", framed(small, 78, 71, 1, {0x20, 0x40, 0x60}));
    write_file(dir / "want_fit.bmp", framed(art, 8, 6, 6, {0x22, 0x44, 0x66}));
    const ProgramResult pad =
        run_cli({"-q", "--pad", "--background", "#204060", "small.png"}, dir.path());
    const ProgramResult fit = run_cli(
        {"-q", "--fit", "--resample", "nearest", "--background=#246", "art.gif.png"}, dir.path());
    EXPECT_EQ(std::tie(pad.exit_code, pad.err, fit.exit_code, fit.err),
              std::tuple(0, std::string(), 0, std::string()));
    EXPECT_EQ(read_file(dir / "small.S02"), converted(dir / "want_pad.bmp").vram);
    EXPECT_EQ(read_file(dir / "art.gif.S02"), converted(dir / "want_fit.bmp").vram);
}

// Every bad file is answered with a line that names it and says what is wrong, exit status 1,
// also with --quiet, and nothing else on the terminal (libvips and GLib say nothing); the output
// that was there stays.
TEST(CommandLinePictures, BadFilesAreNamedAndLeaveWhatExisted) {
    ScratchDir dir;
    const RgbaPicture p = RgbaPicture::opaque(make_noise(32, 16, 1));
    const std::vector<std::uint8_t> png = write_png(p, PngKind::rgb8);
    const std::vector<std::uint8_t> old(100, 7);
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        const char* says;
    } cases[] = {
        {"cut.png", {png.begin(), png.end() - 30}, "cannot read this picture: the PNG data"},
        {"text.png", {'h', 'i', '\n'}, "this format cannot be converted"},
        {"lying.bmp",
         {'B', 'M', 0, 0, 0, 0,  0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0,
          0,   16,  0, 0, 0, 16, 0, 0, 0, 1, 0,  8, 0, 1, 0,  0, 0},
         "this format cannot be converted"},
        {"bomb.png", write_png(p, PngKind::rgb8, {}, nullptr, 30000, 30000),
         "the picture is too large to read: 30000 x 30000 pixels"},
    };
    for (const auto& c : cases) {
        write_file(dir / c.name, c.bytes);
        const std::string out = fs::path(c.name).stem().string() + ".S02";
        write_file(dir / out, old);
        for (const char* quiet : {"-q", "-k"}) {
            const ProgramResult r = run_cli({quiet, "--fit", c.name}, dir.path());
            EXPECT_EQ(r.exit_code, 1) << c.name;
            EXPECT_TRUE(r.err.starts_with(std::string(c.name) + ": " + c.says)) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), quiet[1] == 'q' ? 1 : 2)
                << r.err;
            EXPECT_EQ(read_file(dir / out), old) << c.name;
        }
    }
}

// A run that reads only BMP files never loads libvips; the first PNG loads it.
TEST(CommandLinePictures, TheLibvipsModuleIsLoadedOnlyWhenNeeded) {
    ScratchDir dir;
    const RgbPicture p = make_noise(32, 16, 2);
    write_file(dir / "a.bmp", p.bmp());
    write_file(dir / "b.bmp", write_bmp(RgbaPicture::opaque(p), {.bits = 32, .header = 124}));
    write_file(dir / "c.png", write_png(RgbaPicture::opaque(p), PngKind::rgb8));
    auto loads_vips = [&](const std::vector<std::string>& files) {
        std::vector<std::string> argv = {"/usr/bin/env", "LD_DEBUG=files", cli_program, "-q"};
        argv.insert(argv.end(), files.begin(), files.end());
        const ProgramResult r = Program(argv, dir.path()).wait();
        EXPECT_EQ(r.exit_code, 0) << r.err;
        return r.err.find("libvips.so") != std::string::npos;
    };
    EXPECT_FALSE(loads_vips({"a.bmp", "b.bmp"}));
    EXPECT_TRUE(loads_vips({"a.bmp", "c.png"}));
    EXPECT_EQ(read_file(dir / "a.S02"), read_file(dir / "c.S02"));
}

// A 50-megapixel JPEG is framed through shrink-on-load: the program's memory stays far below the
// 150 MB its pixels would take.
TEST(CommandLinePictures, LargeJpegIsReducedWhileItIsDecoded) {
    ScratchDir dir;
    write_gradient_jpeg(dir / "big.jpg", 8660, 5800);
    const ProgramResult r = run_cli({"-q", "--fit", "--export", "big.jpg"}, dir.path());
    EXPECT_EQ(std::tie(r.exit_code, r.err), std::tuple(0, std::string()));
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss, 100 * 1024) << "kB";
    EXPECT_TRUE(fs::exists(dir / "big.S02") && fs::exists(dir / "TEST_big.bmp"));
}

// --report=json prints nothing but JSON for pictures read through libvips too, and --auto's
// command repeats the framing.
TEST(CommandLinePictures, ReportsStayCleanAndRepeatTheFraming) {
    ScratchDir dir;
    write_file(dir / "p.png",
               write_png(RgbaPicture::opaque(make_noise(300, 100, 3)), PngKind::rgb8));
    const ProgramResult r = run_cli(
        {"-q", "--fill", "--report=json", "--auto", "--auto-budget", "1", "p.png"}, dir.path());
    EXPECT_EQ(std::tie(r.exit_code, r.err), std::tuple(0, std::string()));
    EXPECT_TRUE(r.out.starts_with("{\"file\":\"p.png\"")) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_NE(r.out.find("\"command\":\"lumaweave-cli --fill "), std::string::npos) << r.out;
}
