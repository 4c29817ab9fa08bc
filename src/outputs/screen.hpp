// The SCREEN 2 tables of a result as MSX programs load them, identical tiles stored once on
// request, and the screen they make.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "convert/types.hpp"

namespace lumaweave::outputs {

inline constexpr int screen_width = 256;
inline constexpr int screen_height = 192;
inline constexpr int thirds = 3;  // of the screen, 8 rows of 32 tiles each
inline constexpr int tiles_per_third = 256;
inline constexpr std::size_t tile_bytes = 8;
inline constexpr std::size_t third_bytes = tiles_per_third * tile_bytes;  // 2048
inline constexpr std::size_t table_bytes = thirds * third_bytes;          // 6144
inline constexpr std::size_t name_bytes = 768;
inline constexpr std::size_t palette_bytes = 32;

// The three tables of a SCREEN 2 picture.
struct ScreenTables {
    // The pattern generator and colour tables, 8 bytes a tile, the top third's tiles first:
    // every tile of each third (6144 bytes each), or with identical tiles stored once, the tiles
    // each third uses, in the order its names first use them.
    std::vector<std::uint8_t> patterns, colours;
    // The name table: which tile of its third each of the 32 x 24 places shows.
    std::array<std::uint8_t, name_bytes> names{};
    // Tiles stored for each third.
    std::array<int, thirds> tiles{tiles_per_third, tiles_per_third, tiles_per_third};
    bool deduplicated = false;

    int tile_count() const { return tiles[0] + tiles[1] + tiles[2]; }
};

// The tables of SCREEN 2 video memory (VRAM 0x0000-0x37FF, as a ".S02" holds it after its
// header: at least 0x3800 bytes), as they are.
ScreenTables screen_tables(std::span<const std::uint8_t> video_memory);

// The same screen with the identical tiles of each third (the same 8 pattern and 8 colour
// bytes) stored once; the name table points to them.
ScreenTables deduplicated(const ScreenTables& tables);

// Video memory 0x0000-0x37FF holding the tables: a third's tiles at the start of its part of
// the pattern and colour tables, the slots no tile uses zero.
std::vector<std::uint8_t> video_memory(const ScreenTables& tables);

// The ".S02" file of the tables: the BSAVE header, then video_memory().
std::vector<std::uint8_t> bsave_file(const ScreenTables& tables);

// The colour number, 0 to 15, that each pixel of the screen shows, 256 x 192, top row first
// (0 is transparent: the backdrop shows there), from video memory of at least 0x3800 bytes.
std::vector<std::uint8_t> screen_colours(std::span<const std::uint8_t> video_memory);

// Those pixels in red, green, blue bytes: colour n as palette[n].
std::vector<std::uint8_t> screen_rgb(std::span<const std::uint8_t> colours, const Palette& palette);

// A palette as the V9938 (MSX2) takes it at its palette port: for colours 0 to 15,
// 0RRR0BBB then 00000GGG, each level 0..7.
std::array<std::uint8_t, palette_bytes> v9938_palette(const PaletteTable& palette);

}  // namespace lumaweave::outputs
