// The homebrew outputs in the hands of the tools they are for: the C header compiled by gcc and
// sdcc, the assembler file assembled by pasmo and sdasz80, the cartridge's source assembled again,
// and the cartridge booted in openMSX. Each test needs its tools and is skipped, saying which is
// missing, where one is not installed (.ci/run installs them all).
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <set>

#include "formats/vram.hpp"
#include "outputs/rom.hpp"
#include "outputs/rom/show_code.hpp"
#include "support/program.hpp"

using namespace lumaweave;
using namespace lumaweave::test;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

// A program on the PATH, or empty.
std::string find_tool(const std::string& name) {
    const char* path = std::getenv("PATH");
    for (const std::string& folder : split(path ? path : "", ':')) {
        const fs::path program = fs::path(folder.empty() ? "." : folder) / name;
        if (::access(program.c_str(), X_OK) == 0 && fs::is_regular_file(program))
            return program.string();
    }
    return {};
}

// The tools a test needs, by program and Debian package: the first missing one, or empty.
std::string missing_tools(std::initializer_list<std::pair<const char*, const char*>> tools) {
    for (const auto& [program, package] : tools) {
        if (find_tool(program).empty())
            return std::string(program) + " is not installed (apt-get install " + package + ")";
    }
    return {};
}

#define REQUIRE_TOOLS(...)                                                          \
    if (const std::string missing = missing_tools({__VA_ARGS__}); !missing.empty()) \
    GTEST_SKIP() << missing

// Runs a tool in `folder`; a failure shows what it said.
ProgramResult run_tool(std::vector<std::string> argv, const fs::path& folder) {
    argv.front() = find_tool(argv.front());
    ProgramResult r = Program(argv, folder).wait();
    EXPECT_EQ(r.exit_code, 0) << argv[0] << " " << (argv.size() > 1 ? argv[1] : "") << ":\n"
                              << r.out << r.err;
    return r;
}

Bytes joined_files(const fs::path& folder, std::initializer_list<std::string> names) {
    Bytes out;
    for (const std::string& name : names) {
        const fs::path file = folder / name;
        if (!fs::exists(file)) continue;
        const Bytes part = read_file(file);
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

// Pictures whose source files the tools get: one as it is, one with its tiles deduplicated and
// an MSX2 palette (so that its files also carry the palette), with a name to make C names of.
struct Picture {
    std::string file;     // the picture's name in the scratch folder
    std::string options;  // lumaweave-cli's, separated by spaces
    std::string id;       // the C name of its tables
};
const Picture pictures[] = {
    {"cards.bmp", "", "cards"},
    {"2 Cards.bmp", "--dedupe --palette msx2", "pic_2_cards"},
};

// Converts the pictures into `folder`, with their raw tables and the given formats.
void convert_pictures(const fs::path& folder, const std::string& formats) {
    for (const Picture& p : pictures) {
        fs::copy_file(fs::path(LUMAWEAVE_SAMPLES) / "cards.bmp", folder / p.file,
                      fs::copy_options::overwrite_existing);
        std::vector<std::string> args = split("-q --format raw,pal," + formats, ' ');
        if (!p.options.empty()) {
            const auto more = split(p.options, ' ');
            args.insert(args.end(), more.begin(), more.end());
        }
        args.push_back(p.file);
        const ProgramResult r = run_cli(args, folder);
        ASSERT_EQ(r.exit_code, 0) << r.err;
    }
}

std::string base(const Picture& p) {
    return p.file.substr(0, p.file.size() - 4);
}

std::string upper_id(const Picture& p) {
    std::string out = p.id;
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// The raw tables the source files must hold, in their order: chr, clr, nam, and pal when the
// picture was made for an MSX2 palette.
Bytes raw_tables(const fs::path& folder, const Picture& p) {
    Bytes out = joined_files(folder, {base(p) + ".chr", base(p) + ".clr", base(p) + ".nam"});
    if (p.options.find("msx2") != std::string::npos) {
        const Bytes pal = read_file(folder / (base(p) + ".pal"));
        out.insert(out.end(), pal.begin(), pal.end());
    }
    return out;
}

}  // namespace

// A C file that includes the header and uses one of its arrays compiles without a warning under
// gcc's strictest C99 and under sdcc for the Z80; a program that writes the arrays out gives the
// raw tables back, byte for byte.
TEST(HomebrewTools, CHeaderCompilesCleanlyAndHoldsTheRawTables) {
    REQUIRE_TOOLS({"gcc", "gcc"});
    ScratchDir dir;
    convert_pictures(dir.path(), "c");
    for (const Picture& p : pictures) {
        SCOPED_TRACE(p.file);
        const std::string header = "#include \"" + base(p) + ".h\"\n";
        std::ofstream(dir / "use.c")
            << header << "unsigned char first(void) { return " << p.id << "_nam[0]; }\n";
        run_tool(split("gcc -std=c99 -Wall -Wextra -pedantic -Werror -c use.c -o use.o", ' '),
                 dir.path());
        std::ofstream(dir / "dump.c")
            << "#include <stdio.h>\n"
            << header << "int main(void) {\n"
            << "    fwrite(" << p.id << "_chr, 1, sizeof " << p.id << "_chr, stdout);\n"
            << "    fwrite(" << p.id << "_clr, 1, sizeof " << p.id << "_clr, stdout);\n"
            << "    fwrite(" << p.id << "_nam, 1, sizeof " << p.id << "_nam, stdout);\n"
            << "#ifdef " << upper_id(p) << "_PAL_LENGTH\n"
            << "    fwrite(" << p.id << "_pal, 1, sizeof " << p.id << "_pal, stdout);\n"
            << "#endif\n    return 0;\n}\n";
        run_tool(split("gcc -std=c99 -Wall -Wextra -pedantic -Werror dump.c -o dump", ' '),
                 dir.path());
        const ProgramResult printed = Program({(dir / "dump").string()}, dir.path()).wait();
        EXPECT_TRUE(Bytes(printed.out.begin(), printed.out.end()) == raw_tables(dir.path(), p));
    }
}

TEST(HomebrewTools, CHeaderCompilesCleanlyWithSdcc) {
    REQUIRE_TOOLS({"sdcc", "sdcc"});
    ScratchDir dir;
    convert_pictures(dir.path(), "c");
    for (const Picture& p : pictures) {
        SCOPED_TRACE(p.file);
        std::ofstream(dir / "use.c")
            << "#include \"" << base(p) << ".h\"\n"
            << "unsigned char first(void) { return " << p.id << "_nam[0]; }\n";
        run_tool(split("sdcc -mz80 --std-c99 --Werror -c use.c", ' '), dir.path());
    }
}

// The assembler file assembles to the raw tables: pasmo's form with pasmo, sdasz80's with sdcc's
// assembler and linker; and sdcc links C code that names the tables to it.
TEST(HomebrewTools, AsmSourceAssemblesToTheRawTables) {
    REQUIRE_TOOLS({"pasmo", "pasmo"});
    ScratchDir dir;
    convert_pictures(dir.path(), "asm");
    for (const Picture& p : pictures) {
        SCOPED_TRACE(p.file);
        run_tool({"pasmo", "--bin", base(p) + ".asm", "tables.bin"}, dir.path());
        EXPECT_TRUE(read_file(dir / "tables.bin") == raw_tables(dir.path(), p));
    }
}

TEST(HomebrewTools, SdasSourceAssemblesToTheRawTablesAndLinksWithC) {
    REQUIRE_TOOLS({"sdasz80", "sdcc"}, {"sdldz80", "sdcc"}, {"makebin", "sdcc"}, {"sdcc", "sdcc"});
    ScratchDir dir;
    convert_pictures(dir.path(), "asm --asm-syntax sdasz80");
    for (const Picture& p : pictures) {
        SCOPED_TRACE(p.file);
        run_tool({"sdasz80", "-o", "tables.rel", base(p) + ".asm"}, dir.path());
        run_tool(split("sdldz80 -i tables.ihx tables.rel", ' '), dir.path());
        run_tool(split("makebin -p tables.ihx tables.bin", ' '), dir.path());
        EXPECT_TRUE(read_file(dir / "tables.bin") == raw_tables(dir.path(), p));
        // C code of sdcc names the tables as the header does.
        std::ofstream(dir / "main.c")
            << "extern const unsigned char " << p.id << "_chr[];\nint main(void) { return " << p.id
            << "_chr[0]; }\n";
        run_tool(split("sdcc -mz80 --Werror main.c tables.rel", ' '), dir.path());
        EXPECT_TRUE(fs::exists(dir / "main.ihx"));
    }
}

// The cartridge's code in the program is what its source assembles to, and the program puts
// the picture where the source reads it.
TEST(HomebrewTools, CartridgeSourceAssemblesToTheProgramsBytes) {
    REQUIRE_TOOLS({"pasmo", "pasmo"});
    ScratchDir dir;
    const fs::path source = fs::path(LUMAWEAVE_SOURCE_DIR) / "src/outputs/rom/show.asm";
    run_tool({"pasmo", "--bin", source.string(), "show.rom", "show.sym"}, dir.path());
    EXPECT_TRUE(read_file(dir / "show.rom") ==
                outputs::cartridge(Bytes(vram::vram_bytes, 0), std::nullopt));
    std::map<std::string, unsigned> labels;
    std::ifstream symbols(dir / "show.sym");
    for (std::string name, equ, value; symbols >> name >> equ >> value;)
        labels[name] =
            static_cast<unsigned>(std::stoul(value.substr(0, value.size() - 1), nullptr, 16));
    namespace code = outputs::rom_code;
    EXPECT_EQ(labels["has_palette"], code::has_palette);
    EXPECT_EQ(labels["palette"], code::palette);
    EXPECT_EQ(labels["names"], code::names);
    EXPECT_EQ(labels["patterns"], code::patterns);
    EXPECT_EQ(labels["colours"], code::colours);
    EXPECT_EQ(labels["stay"], code::stay);
}

namespace {

// Where Debian's cbios package puts C-BIOS's machines for openMSX.
const fs::path cbios_machines = "/usr/share/openmsx/machines/C-BIOS_MSX1";

struct Screenshot {
    int width = 0, height = 0;
    Bytes rgb;

    bool ok() const { return width >= 256 && height >= 192; }
    // Pixel (x, y) of the MSX screen, which the raw screenshot shows in the middle of its border.
    Rgb at(int x, int y) const {
        const std::size_t i = 3 * (static_cast<std::size_t>(y + (height - 192) / 2) *
                                       static_cast<std::size_t>(width) +
                                   static_cast<std::size_t>(x + (width - 256) / 2));
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
    bool operator==(const Screenshot&) const = default;
};

Screenshot read_png(const fs::path& file) {
    Screenshot shot;
    const Bytes bytes = read_file(file);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (bytes.empty() || !png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()))
        return shot;
    image.format = PNG_FORMAT_RGB;
    shot.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, shot.rgb.data(), 0, nullptr)) return {};
    shot.width = static_cast<int>(image.width);
    shot.height = static_cast<int>(image.height);
    return shot;
}

// The screen of an MSX that started with the cartridge `rom`: openMSX without a display (SDL's
// dummy video driver, its SDL renderer, gamma 1.0, settings of its own), run at full speed until
// the cartridge starts, then at the MSX's own speed, on which alone it paints frames. Raw
// screenshots (without openMSX's on-screen messages) 1 and 2 seconds after the cartridge started;
// with `large`, also one at twice the size there.
struct Boot {
    Screenshot after_1s, after_2s;
};

Boot boot(const fs::path& folder, const std::string& rom, const std::string& machine,
          const fs::path& large = {}) {
    fs::create_directories(folder / "home");
    std::ofstream(folder / "settings.xml")
        << "<!DOCTYPE settings SYSTEM 'settings.dtd'>\n<settings>\n  <settings>\n"
        << "    <setting id=\"renderer\">SDL</setting>\n"
        << "    <setting id=\"gamma\">1.0</setting>\n"
        << "    <setting id=\"scale_factor\">1</setting>\n"
        << "  </settings>\n</settings>\n";
    const std::string extra =
        large.empty() ? "" : "; screenshot -raw -doublesize {" + large.string() + "}";
    std::ofstream(folder / "boot.tcl")
        << "set throttle off\nset save_settings_on_exit off\n"
        << "debug set_bp 0x" << std::hex << outputs::rom_code::origin + 0x10 << std::dec
        << " {} {\n  set throttle on\n"
        << "  after time 1.0 { screenshot -raw {" << (folder / "1s.png").string() << "} }\n"
        << "  after time 2.0 { screenshot -raw {" << (folder / "2s.png").string() << "}" << extra
        << "; exit }\n}\n"
        << "after time 60 { exit 1 }\n";
    const ProgramResult r = Program({find_tool("timeout"), "120", find_tool("env"),
                                     "HOME=" + (folder / "home").string(), "SDL_VIDEODRIVER=dummy",
                                     "SDL_AUDIODRIVER=dummy", find_tool("openmsx"), "-setting",
                                     (folder / "settings.xml").string(), "-machine", machine,
                                     "-cart", rom, "-script", (folder / "boot.tcl").string()},
                                    folder)
                                .wait();
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    return {read_png(folder / "1s.png"), read_png(folder / "2s.png")};
}

// Video memory whose screen shows every colour: tile t in colour t % 16 on its left half and
// t / 16 on its right.
Bytes colour_chart() {
    Bytes memory(vram::vram_bytes, 0);
    for (std::size_t third = 0; third < 3; ++third) {
        for (std::size_t t = 0; t < 256; ++t) {
            for (std::size_t row = 0; row < 8; ++row) {
                memory[vram::pattern_table + third * 2048 + t * 8 + row] = 0xF0;
                memory[vram::colour_table + third * 2048 + t * 8 + row] =
                    static_cast<std::uint8_t>((t % 16) << 4 | t / 16);
            }
        }
    }
    for (std::size_t n = 0; n < 768; ++n)
        memory[vram::name_table + n] = static_cast<std::uint8_t>(n % 256);
    return memory;
}

// The colours an MSX1 shows for each colour number, from a screenshot of the colour chart.
std::map<std::uint32_t, std::set<int>> colour_numbers(const Screenshot& chart) {
    const Bytes memory = colour_chart();
    const Bytes numbers = outputs::screen_colours(memory);
    std::map<int, std::set<std::uint32_t>> shown;  // number -> colours
    std::map<std::uint32_t, std::set<int>> out;    // colour -> numbers
    for (int y = 0; y < 192; ++y) {
        for (int x = 0; x < 256; ++x) {
            const Rgb c = chart.at(x, y);
            const auto key = static_cast<std::uint32_t>(c.r << 16 | c.g << 8 | c.b);
            const int n = numbers[static_cast<std::size_t>(y * 256 + x)];
            shown[n].insert(key);
            out[key].insert(n);
        }
    }
    for (const auto& [n, colours] : shown)
        EXPECT_EQ(colours.size(), 1u) << "colour number " << n << " shows in several colours";
    EXPECT_EQ(shown.size(), 16u);
    return out;
}

}  // namespace

// The cartridge of a converted picture, started on C-BIOS's MSX1: a second after it starts, and
// a second later still, every pixel shows the colour number of the converted picture (the
// screenshot's colours mapped back to colour numbers through a chart of all sixteen), and the
// border shows the backdrop, colour 0.
TEST(HomebrewTools, CartridgeShowsThePictureOnAnMsx1) {
    REQUIRE_TOOLS({"openmsx", "openmsx cbios"});
    if (!fs::exists(cbios_machines))
        GTEST_SKIP() << "C-BIOS is not installed (apt-get install cbios)";
    ScratchDir dir;
    fs::copy_file(fs::path(LUMAWEAVE_SAMPLES) / "cards.bmp", dir / "cards.bmp");
    ASSERT_EQ(run_cli(split("-q --format s02,rom cards.bmp", ' '), dir.path()).exit_code, 0);
    write_file(dir / "chart.rom", outputs::cartridge(colour_chart(), std::nullopt));

    const Boot chart = boot(dir / "chart", (dir / "chart.rom").string(), "C-BIOS_MSX1");
    ASSERT_TRUE(chart.after_1s.ok());
    const auto numbers = colour_numbers(chart.after_1s);
    const fs::path large = fs::path(LUMAWEAVE_SCREENSHOTS) / "openmsx-cards.png";
    fs::create_directories(large.parent_path());
    const Boot shown = boot(dir / "cards", (dir / "cards.rom").string(), "C-BIOS_MSX1", large);
    ASSERT_TRUE(shown.after_1s.ok());
    EXPECT_TRUE(shown.after_2s == shown.after_1s) << "the screen changed";

    const Bytes s02 = read_file(dir / "cards.S02");
    const Bytes expected =
        outputs::screen_colours(std::span<const std::uint8_t>(s02).subspan(vram::bsave_header));
    int wrong = 0;
    for (int y = 0; y < 192; ++y) {
        for (int x = 0; x < 256; ++x) {
            const Rgb c = shown.after_1s.at(x, y);
            const auto found = numbers.find(static_cast<std::uint32_t>(c.r << 16 | c.g << 8 | c.b));
            const int n = expected[static_cast<std::size_t>(y * 256 + x)];
            if (found == numbers.end() || !found->second.contains(n)) {
                if (++wrong <= 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << " is not colour " << n;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
    // The border, all round: the backdrop, colour 0.
    const Screenshot& s = shown.after_1s;
    for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x) {
            if (x >= (s.width - 256) / 2 && x < (s.width + 256) / 2 && y >= (s.height - 192) / 2 &&
                y < (s.height + 192) / 2)
                continue;
            const std::size_t i = 3 * (static_cast<std::size_t>(y) * s.width + x);
            const auto key =
                static_cast<std::uint32_t>(s.rgb[i] << 16 | s.rgb[i + 1] << 8 | s.rgb[i + 2]);
            ASSERT_TRUE(numbers.contains(key) && numbers.at(key).contains(0)) << x << "," << y;
        }
    }
}

// On an MSX2 the cartridge sets the picture's own palette: a picture converted with a companion
// palette unlike the MSX2's shows, at every pixel, the levels that palette gives its colour.
TEST(HomebrewTools, CartridgeSetsThePicturesPaletteOnAnMsx2) {
    REQUIRE_TOOLS({"openmsx", "openmsx cbios"});
    if (!fs::exists(cbios_machines))
        GTEST_SKIP() << "C-BIOS is not installed (apt-get install cbios)";
    ScratchDir dir;
    PaletteTable levels{};
    for (std::size_t c = 0; c < 16; ++c) {
        levels[3 * c] = static_cast<std::int32_t>((c * 3 + 1) % 8);
        levels[3 * c + 1] = static_cast<std::int32_t>((c * 5 + 2) % 8);
        levels[3 * c + 2] = static_cast<std::int32_t>((7 + c * 7) % 8);
    }
    Bytes s05(7 + 0x7680, 0);
    const auto palette = outputs::v9938_palette(levels);
    s05.insert(s05.end(), palette.begin(), palette.end());
    fs::copy_file(fs::path(LUMAWEAVE_SAMPLES) / "cards.bmp", dir / "cards.bmp");
    write_file(dir / "cards.s05", s05);
    ASSERT_EQ(run_cli(split("-q --format s02,rom cards.bmp", ' '), dir.path()).exit_code, 0);

    const Boot shown = boot(dir / "msx2", (dir / "cards.rom").string(), "C-BIOS_MSX2");
    ASSERT_TRUE(shown.after_1s.ok());
    const Bytes s02 = read_file(dir / "cards.S02");
    const Bytes expected =
        outputs::screen_colours(std::span<const std::uint8_t>(s02).subspan(vram::bsave_header));
    const auto level = [](std::int32_t v) { return (v * 7 + 127) / 255; };
    int wrong = 0;
    for (int y = 0; y < 192; ++y) {
        for (int x = 0; x < 256; ++x) {
            const Rgb c = shown.after_1s.at(x, y);
            const std::size_t n = expected[static_cast<std::size_t>(y * 256 + x)];
            const bool same = level(c.r) == levels[3 * n] && level(c.g) == levels[3 * n + 1] &&
                              level(c.b) == levels[3 * n + 2];
            if (!same && ++wrong <= 5)
                ADD_FAILURE() << "pixel " << x << "," << y << " is not colour " << n;
        }
    }
    EXPECT_EQ(wrong, 0);
}
