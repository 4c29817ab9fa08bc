// The outputs for homebrew programs as the output formats make them from a result: the tables
// apart, identical tiles stored once, the screen picture, the palette, the names in source code.
// (The source files meet compilers and assemblers, and the cartridge an emulator, in
// test_homebrew_tools.cpp.)
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <set>

#include "batch/output.hpp"
#include "formats/vram.hpp"
#include "outputs/rom.hpp"
#include "outputs/rom/show_code.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
using namespace lumaweave::test;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes output(const OutputFormat& format, const Result& result, const OutputOptions& options = {},
             const std::string& source = "pics/cat.bmp") {
    return format.bytes(outputs::PictureFiles(result, source, options));
}

outputs::ScreenTables output_tables(const Result& result, const OutputOptions& options) {
    return outputs::PictureFiles(result, "cat.bmp", options).tables();
}

std::span<const std::uint8_t> memory_of(const Bytes& s02) {
    return std::span<const std::uint8_t>(s02).subspan(vram::bsave_header);
}

Bytes range(const Bytes& bytes, std::size_t from, std::size_t n) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + n));
}

// Pictures with many repeated tiles, and one with few: what each converts to.
struct Case {
    const char* name;
    RgbPicture picture;
};

std::vector<Case> cases() {
    const RgbPicture noise = make_noise(256, 192, 7);
    RgbPicture tiled{256, 192, Bytes(256 * 192 * 3)};
    RgbPicture flat_and_band{256, 192, Bytes(256 * 192 * 3, 0)};
    for (int y = 0; y < 192; ++y) {
        for (int x = 0; x < 256; ++x) {
            const Color c = noise.at(x % 16, y % 8);  // a 16 x 8 motif, over and over
            std::copy_n(&c.r, 3, &tiled.rgb[3 * (std::size_t(y) * 256 + x)]);
            const Color d = y >= 64 && y < 80 ? noise.at(x, y) : Color{40, 90, 200};
            std::copy_n(&d.r, 3, &flat_and_band.rgb[3 * (std::size_t(y) * 256 + x)]);
        }
    }
    return {{"tiled pattern", tiled},
            {"flat area with a band of noise", flat_and_band},
            {"noise", noise},
            {"small picture (the rest of the screen empty)", make_noise(64, 40, 3)}};
}

// The distinct tiles (8 pattern and 8 colour bytes) each third of the video memory shows.
std::array<int, 3> distinct_tiles(std::span<const std::uint8_t> memory) {
    std::array<int, 3> out{};
    for (int third = 0; third < 3; ++third) {
        std::set<Bytes> tiles;
        for (int n = 0; n < 256; ++n) {
            const std::size_t name = memory[vram::name_table + std::size_t(third * 256 + n)];
            const std::size_t at = std::size_t(third) * 2048 + name * 8;
            Bytes tile(memory.begin() + std::ptrdiff_t(at),
                       memory.begin() + std::ptrdiff_t(at + 8));
            tile.insert(tile.end(), memory.begin() + std::ptrdiff_t(vram::colour_table + at),
                        memory.begin() + std::ptrdiff_t(vram::colour_table + at + 8));
            tiles.insert(tile);
        }
        out[std::size_t(third)] = static_cast<int>(tiles.size());
    }
    return out;
}

Bytes decode_png(const Bytes& file, int& width, int& height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return {};
    image.format = PNG_FORMAT_RGB;
    Bytes pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
    width = static_cast<int>(image.width);
    height = static_cast<int>(image.height);
    return pixels;
}

}  // namespace

// Without --dedupe the ".S02" is the converter's own file, and the raw tables are its ranges.
TEST(HomebrewOutputs, RawTablesAreTheRangesOfTheS02) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        const Result r = convert(c.picture.pixels());
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(output(vram_output, r), r.vram);
        EXPECT_EQ(output(pattern_output, r), range(r.vram, 7 + 0x0000, 6144));
        EXPECT_EQ(output(colour_output, r), range(r.vram, 7 + 0x2000, 6144));
        EXPECT_EQ(output(name_output, r), range(r.vram, 7 + 0x1800, 768));
    }
}

// Identical tiles of a third are stored once, as many as the screen shows distinct ones, in the
// order the names first use them; the ".S02" keeps its layout with the unused slots zero; the
// raw tables hold only the tiles in use; every pixel shows the colour it showed before.
TEST(HomebrewOutputs, DedupeStoresEachDistinctTileOnceAndTheScreenStaysTheSame) {
    const OutputOptions dedupe{.dedupe = true};
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        const Result r = convert(c.picture.pixels());
        ASSERT_TRUE(r.ok());
        const Bytes s02 = output(vram_output, r, dedupe);
        const std::span<const std::uint8_t> before = memory_of(r.vram), after = memory_of(s02);
        EXPECT_EQ(outputs::screen_colours(after), outputs::screen_colours(before));
        const outputs::ScreenTables tables = output_tables(r, dedupe);
        const std::array<int, 3> distinct = distinct_tiles(before);
        EXPECT_EQ(tables.tiles, distinct);
        EXPECT_EQ(distinct_tiles(after), distinct);
        EXPECT_EQ(range(s02, 0, 7), range(r.vram, 0, 7));
        const Bytes patterns = output(pattern_output, r, dedupe);
        const Bytes colours = output(colour_output, r, dedupe);
        const Bytes names = output(name_output, r, dedupe);
        EXPECT_EQ(patterns.size(), 8u * std::size_t(tables.tile_count()));
        EXPECT_EQ(colours.size(), patterns.size());
        std::size_t stored = 0;
        for (std::size_t third = 0; third < 3; ++third) {
            const std::size_t kept = 8 * std::size_t(distinct[third]), at = 2048 * third;
            EXPECT_EQ(range(s02, 7 + at, kept), range(patterns, stored, kept));
            EXPECT_EQ(range(s02, 7 + 0x2000 + at, kept), range(colours, stored, kept));
            EXPECT_EQ(range(s02, 7 + at + kept, 2048 - kept), Bytes(2048 - kept, 0));
            EXPECT_EQ(range(s02, 7 + 0x2000 + at + kept, 2048 - kept), Bytes(2048 - kept, 0));
            stored += kept;
            // Numbered in order of first use: each name is at most one more than any before it.
            int next = 0;
            for (std::size_t n = 256 * third; n < 256 * (third + 1); ++n) {
                ASSERT_LE(names[n], next) << "name " << n;
                next = std::max(next, names[n] + 1);
            }
        }
        EXPECT_EQ(names, range(s02, 7 + 0x1800, 768));
    }
    // Repeated tiles are what it is for: the tiled picture and the flat area keep a few each.
    const std::vector<Case> all = cases();
    for (const std::size_t i : {0u, 1u, 3u}) {
        const Result r = convert(all[i].picture.pixels());
        EXPECT_LT(output_tables(r, dedupe).tile_count(), 200) << all[i].name;
    }
}

// NAME.screen.png is the screen as the preview shows the picture, 256 x 192, colour 0 in the
// palette's colour 0 where the picture does not reach.
TEST(HomebrewOutputs, ScreenPictureIsThePreviewAtTheScreensSize) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        const Result r = convert(c.picture.pixels());
        int width = 0, height = 0;
        const Bytes rgb = decode_png(output(screen_output, r), width, height);
        ASSERT_EQ(std::tie(width, height), std::tuple(256, 192));
        for (int y = 0; y < 192; ++y) {
            for (int x = 0; x < 256; ++x) {
                const std::uint8_t* shown = &rgb[3 * (std::size_t(y) * 256 + x)];
                const bool inside = x < r.width && y < r.height;
                const Rgb expected =
                    inside ? Rgb{r.preview[3 * (std::size_t(2 * y) * 512 + 2 * x)],
                                 r.preview[3 * (std::size_t(2 * y) * 512 + 2 * x) + 1],
                                 r.preview[3 * (std::size_t(2 * y) * 512 + 2 * x) + 2]}
                           : r.display[0];
                ASSERT_EQ((Rgb{shown[0], shown[1], shown[2]}), expected) << x << "," << y;
            }
        }
    }
}

// NAME.pal is the palette the picture was made for, as the V9938 takes it; the source files and
// the cartridge carry it when that is an MSX2 palette (the MSX2 one, or a companion's).
TEST(HomebrewOutputs, PaletteIsTheOneThePictureWasMadeForInTheV9938sForm) {
    const RgbPicture picture = make_noise(32, 16, 5);
    PaletteTable companion{};
    for (std::size_t i = 0; i < companion.size(); ++i)
        companion[i] = static_cast<std::int32_t>((i * 5 + 3) % 8);
    struct Made {
        const char* what;
        Result result;
        PaletteTable table;
        bool msx2;
    };
    const DefaultPalettes palettes;
    const Made made[] = {
        {"MSX1", convert(picture.pixels()), palettes.msx1, false},
        {"MSX2", convert(picture.pixels(), {.palette = 2}), palettes.msx2, true},
        {"companion", convert(picture.pixels(), {}, {}, companion), companion, true},
    };
    for (const Made& m : made) {
        SCOPED_TRACE(m.what);
        const Bytes pal = output(palette_output, m.result);
        ASSERT_EQ(pal.size(), 32u);
        for (std::size_t c = 0; c < 16; ++c) {
            EXPECT_EQ(pal[2 * c], m.table[3 * c] << 4 | m.table[3 * c + 2]) << c;
            EXPECT_EQ(pal[2 * c + 1], m.table[3 * c + 1]) << c;
        }
        const Bytes h = output(c_output, m.result), s = output(asm_output, m.result);
        EXPECT_EQ(std::string(h.begin(), h.end()).find("cat_pal[") != std::string::npos, m.msx2);
        EXPECT_EQ(std::string(s.begin(), s.end()).find("cat_pal:") != std::string::npos, m.msx2);
        const Bytes rom = output(rom_output, m.result);
        const std::size_t flag = outputs::rom_code::has_palette - outputs::rom_code::origin;
        EXPECT_EQ(rom[flag], m.msx2 ? 1 : 0);
        EXPECT_EQ(range(rom, flag + 1, 32), m.msx2 ? pal : Bytes(32, 0));
    }
}

// The cartridge: the code of show.asm, then the picture's tables where it reads them.
TEST(HomebrewOutputs, CartridgeHoldsTheCodeAndThePicturesTables) {
    const Result r = convert(make_noise(256, 192, 9).pixels());
    for (const bool dedupe : {false, true}) {
        const OutputOptions options{.dedupe = dedupe};
        const Bytes rom = output(rom_output, r, options);
        const Bytes s02 = output(vram_output, r, options);
        ASSERT_EQ(rom.size(), 16384u);
        namespace code = outputs::rom_code;
        const auto at = [](std::uint16_t address) { return std::size_t(address - code::origin); };
        EXPECT_EQ(range(rom, 0, sizeof code::code),
                  Bytes(std::begin(code::code), std::end(code::code)));
        EXPECT_EQ(range(rom, 0, 4), (Bytes{'A', 'B', 0x10, 0x40}));  // "AB", started at 4010h
        EXPECT_EQ(range(rom, at(code::patterns), 6144), range(s02, 7, 6144));
        EXPECT_EQ(range(rom, at(code::colours), 6144), range(s02, 7 + 0x2000, 6144));
        EXPECT_EQ(range(rom, at(code::names), 768), range(s02, 7 + 0x1800, 768));
        const std::size_t end = at(code::colours) + 6144;
        EXPECT_EQ(range(rom, end, rom.size() - end), Bytes(rom.size() - end, 0));
    }
}

// The identifiers of the C and assembler files come from the picture's name, always valid and
// never one of those C keeps for itself.
TEST(HomebrewOutputs, IdentifiersAreValidCNamesFromTheFileName) {
    for (const auto& [name, id] : std::initializer_list<std::pair<const char*, const char*>>{
             {"cat.bmp", "cat"},
             {"photos/Holiday photo.BMP", "holiday_photo"},
             {"a\\b\\My-Pic (2).bmp", "my_pic_2"},
             {"1st.bmp", "pic_1st"},
             {"__init__.bmp", "init"},
             {"\xe5\x86\x99\xe7\x9c\x9f.bmp", "picture"},
             {"caf\xc3\xa9 au lait.bmp", "caf_au_lait"},
             {".bmp", "bmp"},
             {"an extremely long name for a picture of a cat on a mat.bmp",
              "an_extremely_long_name_for_a_picture_of"}}) {
        EXPECT_EQ(outputs::c_identifier(name), id) << name;
    }
    const Result r = convert(make_noise(16, 16, 1).pixels());
    const Bytes h = output(c_output, r, {}, "pics/My Cat.bmp");
    const std::string text(h.begin(), h.end());
    for (const char* part :
         {"/* My Cat.h: the SCREEN 2 tables of My Cat.bmp", "#ifndef MY_CAT_H",
          "const unsigned char my_cat_chr[MY_CAT_CHR_LENGTH] = {", "#define MY_CAT_TILES_2 256"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
}

// Every file --format can write is known to the folder scan, which leaves out a program's own
// outputs beside their picture; the kinds are named as the help lists them.
TEST(HomebrewOutputs, EveryFormatIsKnownToTheFolderScanAndNamedAsTheHelpSays) {
    const auto known = all_output_formats();
    std::set<std::string> names;
    for (const OutputKind& kind : output_kinds()) {
        EXPECT_EQ(find_output_kind(kind.name), &kind);
        std::string files;
        for (const OutputFormat* format : kind.formats) {
            EXPECT_NE(std::find(known.begin(), known.end(), format), known.end()) << kind.name;
            const std::string file = format->file_name("dir/NAME.bmp").substr(4);
            EXPECT_TRUE(names.insert(file).second) << file;
            files += (files.empty() ? "" : ", ") + file;
        }
        EXPECT_EQ(kind.files, files);
    }
    EXPECT_EQ(find_output_kind("S02"), nullptr);  // the command line takes any case, not this
}
