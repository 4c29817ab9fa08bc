// Shared pieces of the block fitting, the candidate evaluation and the refinement pass.
#pragma once

#include <algorithm>
#include <cstdint>

#include "convert/conversion.hpp"

namespace lumaweave {

enum class FitMode { column, vertical_cell, circular_cell };

// The settings and tables an evaluation reads, gathered once per pass.
struct FitContext {
    const Conversion& conv;
    FitMode mode;
    bool sp, optimization, lumi_sort;
    std::int32_t mitigation;
    std::int32_t ratio;  // vertical error ratio r: vertical share r/8, horizontal (8 - r)/8
    const std::int64_t* upper_bounds;  // RowBoundCache of row y   [column * 256 + pair]
    const std::int64_t* lower_bounds;  // RowBoundCache of row y + 1

    FitContext(const Conversion& c, FitMode m);
};

// Main pass or refinement: the refinement's column search drops the bound checks and the cut
// after an order's first pixel, and applies the inversion limit whatever the running error.
enum class Pruning { full, refine };

struct Evaluation {
    std::int64_t error;
    std::uint8_t upper_pattern, lower_pattern;
};

Evaluation evaluate_columns(const FitContext& ctx, int x, int y, std::uint8_t upper,
                            std::uint8_t lower, std::int64_t best, Pruning pruning);
Evaluation evaluate_cells(const FitContext& ctx, int x, int y, std::uint8_t upper,
                          std::uint8_t lower, std::int64_t best);

// The mode of the main pass for these settings.
FitMode main_pass_mode(const ConversionSettings& s);
// The cell mode that "Dither Order" selects.
FitMode cell_mode(const ConversionSettings& s);

// Index (0 red, 1 green, 2 blue) of the channel with the largest sum over the block; ties go
// to the earlier channel.
int dominant_channel(const Conversion& conv, int x, int y);

// Resets the block's two RowBoundCaches to "not yet computed".
void reset_row_bounds(Conversion& conv);

// Fills the RowBoundCache entries of `pair` for row y (lower = false) or y + 1 (lower = true)
// of block (x, y), as the mode's evaluation orders fit their first pixels.
void compute_row_bounds(Conversion& conv, FitMode mode, int x, int y, bool lower,
                        std::uint8_t pair);

// The main pass's search of one block: the first strictly best entry of the dominant channel's
// list, with the pre-check bound. Returns the winning list index and its evaluation.
struct BlockChoice {
    int index;
    Evaluation eval;
};
BlockChoice search_block(Conversion& conv, const FitContext& ctx, int channel, int x, int y);

// Writes the chosen entry into the VramImage: its colour bytes, move to front, and (with
// "Lumi Sort") the two-colour ordering.
void finish_block(Conversion& conv, int channel, int x, int y, int index,
                  std::uint8_t upper_pattern, std::uint8_t lower_pattern);

// With exactly two colours in the block: one colour pair for both rows, the darker colour
// above the brighter one where the distances allow.
void order_two_colors(const Conversion& conv, int x, int y, std::uint8_t& upper_pattern,
                      std::uint8_t& lower_pattern, std::uint8_t& upper_pair,
                      std::uint8_t& lower_pair);

// Whether an order's patterns break the inversion limit over the columns in `checked`.
bool breaks_inversion_limit(const FitContext& ctx, std::uint8_t upper, std::uint8_t lower,
                            std::uint8_t upper_pattern, std::uint8_t lower_pattern,
                            std::uint8_t fitted_mask, std::uint8_t checked);

}  // namespace lumaweave
