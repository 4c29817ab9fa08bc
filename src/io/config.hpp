// The palette configuration file and the two default palette tables it may replace.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "convert/types.hpp"
#include "io/scratch_pool.hpp"
#include "io/status.hpp"

namespace lumaweave {

inline constexpr const char* config_file_name = "lumaweave_config.txt";
inline constexpr const char* msx1_palette_key = "* MSX1 palette";
inline constexpr const char* msx2_palette_key = "* MSX2 palette";

struct DefaultPalettes {
    PaletteTable msx1{0, 0, 0, 0, 0, 0, 3, 5, 3, 4, 6, 4, 3, 2, 7, 4, 3, 7, 5, 3, 2, 3, 5, 6,
                      6, 3, 2, 6, 4, 3, 5, 6, 3, 6, 6, 4, 2, 4, 1, 5, 3, 5, 5, 5, 5, 7, 7, 7};
    PaletteTable msx2{0, 0, 0, 0, 0, 0, 1, 6, 1, 3, 7, 3, 1, 1, 7, 2, 3, 7, 5, 1, 1, 2, 6, 7,
                      7, 1, 1, 7, 3, 3, 6, 6, 1, 6, 6, 3, 1, 4, 1, 6, 2, 5, 5, 5, 5, 7, 7, 7};
};

enum class ConfigRead { key_missing, too_few, complete };

// Finds `key` in text[0, length) and reads up to n unsigned decimal numbers after it into
// destination; the list ends at a "*" or the end of the text. Numbers saturate at the largest
// 32-bit value.
ConfigRead read_config_numbers(const std::uint8_t* text, std::size_t length, const char* key,
                               std::int32_t* destination, int n);

// Reads the configuration file when it exists and replaces the tables it names. A file that is
// present but incomplete fails with the key concerned as the detail (the program then ends); a
// missing or unreadable file keeps the built-in tables silently.
Outcome load_palette_config(ScratchPool& pool, DefaultPalettes& palettes,
                            const std::string& path = config_file_name);

}  // namespace lumaweave
