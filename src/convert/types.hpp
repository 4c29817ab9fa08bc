// Basic types of the conversion.
#pragma once

#include <array>
#include <cstdint>

namespace lumaweave {

inline constexpr int max_width = 256;
inline constexpr int max_height = 192;
inline constexpr int image_slots = max_width * max_height;
inline constexpr int max_pairs = 120;
inline constexpr int pair_pair_capacity = 136 * 136;

// One slot of the WorkImage and the ResultImage.
struct Pixel {
    std::int32_t r, g, b, w;  // red, green, blue, weight
};

struct Rgb {
    std::int32_t r, g, b;
};

// 16 colours, red, green, blue.
using Palette = std::array<Rgb, 16>;

// Upper row's pair, lower row's pair.
struct PairPair {
    std::uint8_t upper, lower;
};

}  // namespace lumaweave
