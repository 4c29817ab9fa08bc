// SCREEN 2 video memory as a BSAVE file: 7-byte header, then VRAM 0x0000-0x37FF.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumaweave::vram {

inline constexpr std::size_t bsave_header = 7;
inline constexpr std::size_t vram_bytes = 0x3800;
inline constexpr std::size_t file_size = bsave_header + vram_bytes;  // 14343
inline constexpr std::size_t pattern_table = 0x0000;
inline constexpr std::size_t name_table = 0x1800;
inline constexpr std::size_t name_table_bytes = 768;
inline constexpr std::size_t colour_table = 0x2000;
inline constexpr std::uint16_t end_address = 0x37FF;

// VRAM address of the pattern byte of pixel row y and the 8-pixel run holding column x; the
// colour byte lies colour_table further on.
constexpr std::size_t pattern_address(int x, int y) {
    return static_cast<std::size_t>((y & ~7) * 32 + (x & ~7) + (y & 7));
}

// File offsets of the same bytes.
constexpr std::size_t pattern_offset(int x, int y) {
    return bsave_header + pattern_address(x, y);
}
constexpr std::size_t colour_offset(int x, int y) {
    return bsave_header + colour_table + pattern_address(x, y);
}

// Writes the identity name table and the BSAVE header (identification byte and end address;
// start and execution addresses stay 0).
void finish_image(std::uint8_t* image);

}  // namespace lumaweave::vram
