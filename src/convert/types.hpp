// Basic types and sizes of the conversion.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace lumaweave {

inline constexpr int max_width = 256;
inline constexpr int max_height = 192;
inline constexpr int image_slots = max_width * max_height;
// Colour pairs (a, b), a < b, of 16 colours; 105 without colour 0.
inline constexpr int max_pairs = 16 * 15 / 2;
inline constexpr int max_candidates = max_pairs * max_pairs;

struct Rgb {
    std::int32_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

// 16 colours, red, green, blue.
using Palette = std::array<Rgb, 16>;

// 16 colours x (red, green, blue) on the MSX scale 0..7, colour 0 first.
using PaletteTable = std::array<std::int32_t, 48>;

// A picture as 8-bit red, green, blue bytes, the top row first, rows packed (width * 3 bytes
// each).
struct PixelPicture {
    int width = 0, height = 0;
    std::span<const std::uint8_t> rgb;  // width * height * 3 bytes
};

}  // namespace lumaweave
