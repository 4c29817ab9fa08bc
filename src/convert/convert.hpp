// Converting one picture: `convert_file` and its stages, in the order they run.
//
//   load_source        validate, crop, shift, decode        -> WorkImage, companion palette
//   measure_edges      edge measure                         -> weights, EdgeMap, ErrorScaleMap
//   adjust_gamma / adjust_index / adjust_color_d            -> WorkImage
//   setup_palette      hue search, scaling, luminance       -> working and display palettes
//   reduce_colors      colour reduction                     -> WorkImage snapped
//   build_distance_tables  distinct counts, PaletteDistanceMap (before sharpening, on purpose)
//   emphasize_edges    edge_emph                            -> WorkImage sharpened
//   build_fitting_tables   pairs, clamp, squares, pair lists, exclusions, cache template
//   fit_blocks         every 8x2 block                      -> VramImage patterns and colours
//   refine_blocks      re-fit selected blocks               -> VramImage
//   render_output      smoothing, preview, name table, header
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "convert/conversion.hpp"
#include "convert/settings.hpp"
#include "io/config.hpp"
#include "io/scratch_pool.hpp"

namespace lumaweave {

// Converts the picture at source_path with the given settings. Returns the message to report,
// empty on success; on success conv.vram, conv.preview and the conv.export_image header are
// complete. File contents come from the pool, which the caller empties.
std::string convert_file(Conversion& conv, ScratchPool& pool, const std::string& source_path,
                         const ConversionSettings& settings, const DefaultPalettes& palettes);

// The same, also handing back the companion file's colours when there was one, so that trial
// conversions of the picture in memory can use the palette this one used.
std::string convert_file(Conversion& conv, ScratchPool& pool, const std::string& source_path,
                         const ConversionSettings& settings, const DefaultPalettes& palettes,
                         std::optional<PaletteTable>& companion);

// Every stage after loading, on conv.work, conv.width and conv.height as load_source leaves them
// and with conv.settings: what convert_file does once the picture is read. Trial conversions of
// a picture already in memory (the settings search) start here.
void convert_loaded(Conversion& conv, const DefaultPalettes& palettes,
                    const std::optional<PaletteTable>& companion);

// The companion palette file of a source: its name minus the last four characters + ".s05".
std::string companion_name(const std::string& source_path);

// --- stages (each in its own file) ---

// Reads and validates the source, decodes it into conv.work, clears the output buffers and
// copies the headers. Sets `companion` to the companion file's colours (0..7) when it exists.
std::string load_source(Conversion& conv, ScratchPool& pool, const std::string& source_path,
                        std::optional<PaletteTable>& companion);

void measure_edges(Conversion& conv);
void adjust_gamma(Conversion& conv);
void adjust_index(Conversion& conv);
void adjust_color_d(Conversion& conv);
void emphasize_edges(Conversion& conv);

// Builds the working and display palettes and the luminance from the chosen default table, or
// from the companion's colours when there are any.
void setup_palette(Conversion& conv, const PaletteTable& table,
                   const std::optional<PaletteTable>& companion);

void reduce_colors(Conversion& conv);

void build_distance_tables(Conversion& conv);
void build_fitting_tables(Conversion& conv);

void fit_blocks(Conversion& conv);
void refine_blocks(Conversion& conv);

void render_output(Conversion& conv);

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

// Colour distance of the conversion's brightness setting: 2, 4, 1 or 1, 1, 1 weights.
inline std::int32_t color_distance(bool brightness, std::int32_t dr, std::int32_t dg,
                                   std::int32_t db) {
    return brightness ? 2 * dr * dr + 4 * dg * dg + db * db : dr * dr + dg * dg + db * db;
}

}  // namespace lumaweave
