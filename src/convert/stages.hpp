// The stages of one conversion, in the order the pipeline runs them (pipeline.cpp). Each says
// what it reads (const) and what it writes.
//
//   prepare_source     checks, crop, shift                   -> SourceImage
//   measure_edges      edge measure                          -> WorkImage weights, PixelMaps
//   adjust_gamma / adjust_index / adjust_color_d             -> WorkImage
//   setup_palette      hue search, scaling, luminance        -> PaletteSet
//   reduce_colors      colour reduction                      -> WorkImage snapped
//   build_distance_map (before sharpening, on purpose)       -> DistanceMap
//   emphasize_edges    edge_emph sharpening                  -> WorkImage sharpened
//   build_fitting_tables  pairs, clamp, squares, exclusions  -> FittingTables
//   fit_blocks / refine_blocks (fitting.hpp)                 -> VramImage patterns and colours
//   render_output      smoothing, preview, name table, header -> VramImage, PreviewImage
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "convert/images.hpp"
#include "convert/settings.hpp"
#include "convert/workers.hpp"
#include "io/status.hpp"

namespace lumaweave {

// The size rules of a source picture, in the order they are checked: width a multiple of 8, at
// most 256 (264 with a position correction), height at most 192, both at least 16.
Status check_picture_size(int width, int height, int correction);

// Checks the picture's size, then takes its rows cropped to a multiple of 8 (the extra rows
// dropped half at the bottom, the rest at the top) and, with a position correction c, its
// columns c .. c + width - 9.
Status prepare_source(const PixelPicture& picture, int correction, SourceImage& source);

// Takes a picture that is already cropped and shifted (width and height multiples of 8 within
// 8..256 and 8..192) as it is.
Status take_prepared(const PixelPicture& picture, SourceImage& source);

// The WorkImage of a source: its colours, weight 0, every other slot zero.
void start_work_image(const SourceImage& source, WorkImage& work);

// The stages that go pixel by pixel take `workers` to share the rows.
void measure_edges(const ConversionSettings& s, WorkImage& work, PixelMaps& maps,
                   Workers& workers = serial_workers());
void adjust_gamma(const ConversionSettings& s, WorkImage& work);
void adjust_index(const ConversionSettings& s, WorkImage& work);
void adjust_color_d(const ConversionSettings& s, WorkImage& work);
void emphasize_edges(const ConversionSettings& s, WorkImage& work);

// The working and display palettes and the luminance, from the chosen default table or the
// companion's colours when there are any; the hue search reads the picture's colours.
PaletteSet setup_palette(const ConversionSettings& s, const WorkImage& work,
                         const PaletteTable& table, const std::optional<PaletteTable>& companion);

// The same for a display with colours of its own (0..255), which replace the palette choice and
// the companion: the fitting matches against them at full precision, the preview draws them.
PaletteSet setup_display_palette(const ConversionSettings& s, const WorkImage& work,
                                 const Palette& colours);

void reduce_colors(const ConversionSettings& s, const PaletteSet& palette, const PixelMaps& maps,
                   WorkImage& work, Workers& workers = serial_workers());

void build_distance_map(const ConversionSettings& s, const PaletteSet& palette,
                        const WorkImage& work, DistanceMap& distance,
                        Workers& workers = serial_workers());

// The pixel-swap smoothing of flat areas, the preview, the name table and the BSAVE header
// (rows of blocks on `workers`: each touches its own patterns and preview rows alone).
void render_output(const PaletteSet& palette, const WorkImage& work, VramImage vram,
                   PreviewImage preview, Workers& workers = serial_workers());
// The same without the preview.
void finish_video_memory(const WorkImage& work, VramImage vram,
                         Workers& workers = serial_workers());

// The "TEST_" picture: a BMP file of the preview's 2 * width x 2 * height pixels, bottom row
// first as BMP stores them. `out` must have room for 54 + 512 * 384 * 3 bytes; returns the size.
std::size_t build_export_bmp(const PreviewImage& preview, int width, int height, std::uint8_t* out,
                             Workers& workers = serial_workers());

// --- single rules of the stages, exposed so that each can be checked on its own ---

// The gamma curve: entry i (a luminance / 100, rounded) gives the luminance / 100 the pixel is
// scaled to; T[0] = 0 and T[255] = 255 for every gamma.
std::array<std::int32_t, 256> gamma_table(int gamma);

// One entry of the colour reduction's list: a palette colour or a fixed blend of two.
struct MixEntry {
    Rgb color;                        // on the working palette's scale
    int a, b;                         // the two palette colours blended (a == b: pure colour)
    std::int32_t weight_a, weight_b;  // of the pixel's distances to colours a and b, in 1/512
};

inline constexpr int max_mix_entries = 376;

struct MixList {
    std::array<MixEntry, max_mix_entries> entries;
    int count = 0;
};

// The blends of every pair of colours (one or three per pair, by the vertical error ratio),
// then the 16 pure colours, with the dark_color weights on the blends with colour 0.
MixList build_mix_list(const Palette& working, const ConversionSettings& s);

// Log-scaled edge strength of one channel's weighted sum of squared differences (0..511).
std::int32_t edge_log(std::int32_t s);
// The same worked out with the logarithm each time (what edge_log's tables are made of).
std::int32_t edge_log_computed(std::int32_t s);

// Colour distance with or without the brightness setting: 2, 4, 1 or 1, 1, 1 weights.
inline std::int32_t color_distance(bool brightness, std::int32_t dr, std::int32_t dg,
                                   std::int32_t db) {
    return brightness ? 2 * dr * dr + 4 * dg * dg + db * db : dr * dr + dg * dg + db * db;
}

}  // namespace lumaweave
