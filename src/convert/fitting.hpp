// Shared pieces of the block fitting, the candidate evaluation and the refinement pass.
#pragma once

#include <algorithm>
#include <cstdint>

#include "convert/block.hpp"
#include "convert/conversion.hpp"

namespace lumaweave {

// Share of a source pixel's error, in eighths, scaled by the source's ErrorScaleMap with sp.
inline std::int32_t contribution(std::int32_t e, std::int32_t share, bool sp, std::int32_t scale) {
    const std::int32_t part = (e * share) >> 3;
    return sp ? (part * scale) >> 8 : part;
}

// Weighted squared distance of a value to working colour k.
inline std::int32_t palette_distance(const Conversion& conv, const Rgb& v, int k) {
    const Rgb& c = conv.working[k];
    const std::int32_t dr = v.r - c.r, dg = v.g - c.g, db = v.b - c.b;
    return conv.square_weight[0] * dr * dr + conv.square_weight[1] * dg * dg +
           conv.square_weight[2] * db * db;
}

// The mode of the main pass for these settings, and the cell mode dither_order selects.
FitMode main_pass_mode(const ConversionSettings& s);
FitMode cell_mode(const ConversionSettings& s);

// Index (0 red, 1 green, 2 blue) of the channel with the largest sum over the block; ties go
// to the earlier channel.
int dominant_channel(const Conversion& conv, int x, int y);

// With exactly two colours in the block: one colour pair for both rows, the darker colour
// above the brighter one where the distances allow.
void order_two_colors(const Conversion& conv, int x, int y, std::uint8_t& upper_pattern,
                      std::uint8_t& lower_pattern, std::uint8_t& upper_pair,
                      std::uint8_t& lower_pair);

// Writes a block's result: with lumi_sort the two-colour ordering first.
void write_block(Conversion& conv, int x, int y, std::uint8_t upper_pattern,
                 std::uint8_t lower_pattern, std::uint8_t upper_pair, std::uint8_t lower_pair);

// The chosen candidate of a block: its list entry and patterns.
struct BlockChoice {
    int id;  // upper pair index * pair count + lower pair index
    std::int64_t error;
    std::uint8_t upper_pattern, lower_pattern;
};

// The main pass's search of one block over the dominant channel's list (also the refinement's
// cell-mode search).
BlockChoice search_block(Conversion& conv, BlockData& bd, int channel);

// --- the straightforward search, kept as the readable statement of the rules ---

// Main pass or refinement: the refinement's column search drops the bound checks and the cut
// after an order's first pixel, and applies the inversion limit whatever the running error.
enum class Pruning { full, refine };

struct Evaluation {
    std::int64_t error;
    std::uint8_t upper_pattern, lower_pattern;
};

// The settings and tables a straightforward evaluation reads.
struct FitContext {
    const Conversion& conv;
    FitMode mode;
    bool sp, optimization, lumi_sort;
    std::int32_t mitigation;
    std::int32_t ratio;
    const std::int64_t* upper_bounds;  // RowBoundCache of row y   [column * 256 + pair byte]
    const std::int64_t* lower_bounds;  // RowBoundCache of row y + 1

    FitContext(const Conversion& c, FitMode m);
};

Evaluation evaluate_columns(const FitContext& ctx, int x, int y, std::uint8_t upper,
                            std::uint8_t lower, std::int64_t best, Pruning pruning);
Evaluation evaluate_cells(const FitContext& ctx, int x, int y, std::uint8_t upper,
                          std::uint8_t lower, std::int64_t best);

// Resets the block's two RowBoundCaches to "not yet computed".
void reset_row_bounds(Conversion& conv);

// Fills the RowBoundCache entries of pair byte `pair` for row y (lower = false) or y + 1.
void compute_row_bounds(Conversion& conv, FitMode mode, int x, int y, bool lower,
                        std::uint8_t pair);

// The straightforward passes, entry by entry over the stored lists (conv.reference_fitting).
void fit_blocks_reference(Conversion& conv);
void refine_blocks_reference(Conversion& conv);
// One block of the straightforward main-pass search; returns the list index and evaluation.
struct ReferenceChoice {
    int index;
    Evaluation eval;
};
ReferenceChoice search_block_reference(Conversion& conv, const FitContext& ctx, int channel, int x,
                                       int y);
void finish_block_reference(Conversion& conv, int channel, int x, int y, int index,
                            std::uint8_t upper_pattern, std::uint8_t lower_pattern);

}  // namespace lumaweave
