// The pictures, maps and palettes that the stages of a conversion hand on to each other. Each is
// fixed-size, sized for the largest picture, and allocated once with the pipeline that owns it.
// Images are indexed by slot y * 256 + x; only the first `height` rows and `width` columns carry
// the picture, and a conversion clears or overwrites what it reads.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "convert/types.hpp"
#include "formats/vram.hpp"

namespace lumaweave {

// The source as converted: decoded, cropped and shifted, before any adjustment.
struct SourceImage {
    int width = 0, height = 0;  // multiples of 8
    std::array<Rgb, image_slots> pixels;
};

// One slot of the WorkImage and the refinement's ResultImage.
struct Pixel {
    std::int32_t r, g, b, w;  // red, green, blue, weight
};

// The picture the fitting works on: adjusted, reduced and sharpened in place by the stages.
struct WorkImage {
    int width = 0, height = 0;
    std::array<Pixel, image_slots> pixels;

    Pixel& operator[](int slot) { return pixels[static_cast<std::size_t>(slot)]; }
    const Pixel& operator[](int slot) const { return pixels[static_cast<std::size_t>(slot)]; }
};

// What the edge measure finds per pixel.
struct PixelMaps {
    std::array<std::int32_t, image_slots> edge;  // EdgeMap: edge strength, 0 without edge_calc
    std::array<std::int32_t, image_slots> error_scale;  // ErrorScaleMap, 192..255
};

// PaletteDistanceMap: per pixel, the colour distance to each working colour, measured before
// the picture is sharpened.
using DistanceMap = std::array<std::array<std::int32_t, 16>, image_slots>;

struct PaletteSet {
    Palette working{};  // what the fitting matches against
    Palette display{};  // the true colours, drawn in the preview
    std::array<std::int32_t, 16> luminance{};
};

// VramImage: the ".S02" file, a BSAVE header and SCREEN 2 video memory (held by the result).
using VramImage = std::span<std::uint8_t, vram::file_size>;

// PreviewImage: the result at twice its size, 512 x 384 pixels of red, green, blue bytes, top row
// first (held by the result).
inline constexpr int preview_width = 2 * max_width;
inline constexpr int preview_height = 2 * max_height;
inline constexpr std::size_t preview_bytes = std::size_t{preview_width} * preview_height * 3;
using PreviewImage = std::span<std::uint8_t, preview_bytes>;

}  // namespace lumaweave
