// The palette configuration file and the two default palette tables it may replace.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "io/scratch_pool.hpp"

namespace lumaweave {

inline constexpr const char* config_file_name = "lumaweave_config.txt";
inline constexpr const char* msx1_palette_key = "* MSX1 palette";
inline constexpr const char* msx2_palette_key = "* MSX2 palette";

// 16 colours x (red, green, blue) on the MSX scale 0..7, colour 0 first.
using PaletteTable = std::array<std::int32_t, 48>;

struct DefaultPalettes {
    PaletteTable msx1{0, 0, 0, 0, 0, 0, 3, 5, 3, 4, 6, 4, 3, 2, 7, 4, 3, 7, 5, 3, 2, 3, 5, 6,
                      6, 3, 2, 6, 4, 3, 5, 6, 3, 6, 6, 4, 2, 4, 1, 5, 3, 5, 5, 5, 5, 7, 7, 7};
    PaletteTable msx2{0, 0, 0, 0, 0, 0, 1, 6, 1, 3, 7, 3, 1, 1, 7, 2, 3, 7, 5, 1, 1, 2, 6, 7,
                      7, 1, 1, 7, 3, 3, 6, 6, 1, 6, 6, 3, 1, 4, 1, 6, 2, 5, 5, 5, 5, 7, 7, 7};
};

// Finds `key` in text[0, length) and reads up to n unsigned decimal numbers after it into
// destination. Returns 0 when the key is missing, 1 when the list ends (a "*" or the end of the
// text) before n numbers, 2 when all n were read. Numbers saturate at the largest 32-bit value.
int read_config_numbers(const std::uint8_t* text, std::size_t length, const char* key,
                        std::int32_t* destination, int n);

// Reads the configuration file when it exists and replaces the tables it names. Returns the
// message to show before the program ends when the file is present but incomplete, else empty
// (a missing or unreadable file keeps the built-in tables silently).
std::string load_palette_config(ScratchPool& pool, DefaultPalettes& palettes,
                                const std::string& path = config_file_name);

}  // namespace lumaweave
