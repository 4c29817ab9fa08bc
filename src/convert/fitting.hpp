// The block fitting and the refinement pass: what they read, the state they carry from block to
// block, and the pieces the main pass, the refinement and the exact evaluation share.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>

#include "convert/block.hpp"
#include "convert/candidates.hpp"
#include "convert/images.hpp"
#include "convert/settings.hpp"
#include "convert/workers.hpp"

namespace lumaweave {

inline constexpr std::int64_t no_best_error = 0x7FFFFFFFFFFFFFFF;
// Error of an order that breaks the inversion limit: below no_best_error, so a block whose
// every candidate breaks it still gets a result, and small enough that 16 times it fits.
inline constexpr std::int64_t rejection_error = 0x07FFFFFFFFFFFFFF;

// The tables the fitting consults, built once per conversion from the settings and palettes.
struct FittingTables {
    std::array<std::uint8_t, max_pairs> pairs{};  // PairList: pair bytes a * 16 + b, a < b
    int pair_count = 0;
    std::int32_t clamp_low = 0, clamp_high = 0;   // ClampTable bounds
    std::array<std::int32_t, 3> square_weight{};  // SquareTables factors: red, green, blue
    std::array<std::int32_t, 16> working_r{}, working_g{}, working_b{};  // working, by channel
    std::array<std::uint8_t, 256 * 256> excluded;  // ExclusionTable [upper * 256 + lower]
};

// DistinctCountTable: entry a << 12 | b << 8 | c << 4 | d is the number of distinct values
// among the four colour numbers. It depends on nothing, so it is built once per process, when the
// exact evaluation first needs it (the fast search counts the colours' bits instead).
const std::array<std::uint8_t, 65536>& distinct_count_table();

void build_fitting_tables(const ConversionSettings& s, const PaletteSet& palette,
                          FittingTables& tables);

// Everything the fitting reads.
struct FitInput {
    const ConversionSettings& settings;
    const WorkImage& work;        // values and weights, sharpened
    const PixelMaps& maps;        // ErrorScaleMap
    const DistanceMap& distance;  // PaletteDistanceMap, of the unsharpened picture
    const PaletteSet& palette;    // working colours and luminance
    const FittingTables& tables;
};

struct ParallelFit;

// What the search carries from block to block and from the main pass into the refinement.
struct FitState {
    std::array<CandidateList, 3> lists;  // candidate lists, one per dominant channel
    BlockData block;                     // the block being fitted
    std::uint64_t evaluations = 0;       // candidates evaluated
    // The buffers of the searches that run blocks at once (column_search.hpp), made on first use.
    std::shared_ptr<ParallelFit> parallel;
};

// The refinement's own buffers.
struct RefineScratch {
    std::array<Pixel, image_slots> result;              // ResultImage
    std::array<std::uint8_t, 0x1800> pattern_snapshot;  // the main pass's patterns
};

// The main pass; `workers` search blocks at once where the mode allows (the choices are the same).
void fit_blocks(const FitInput& in, FitState& state, VramImage vram,
                Workers& workers = serial_workers());
void refine_blocks(const FitInput& in, FitState& state, RefineScratch& scratch, VramImage vram,
                   Workers& workers = serial_workers());

// --- shared by the main pass, the refinement and the exact evaluation ---

// Share of a source pixel's error, in eighths, scaled by the source's ErrorScaleMap with sp.
inline std::int32_t contribution(std::int32_t e, std::int32_t share, bool sp, std::int32_t scale) {
    const std::int32_t part = (e * share) >> 3;
    return sp ? (part * scale) >> 8 : part;
}

// Weighted squared distance of a value to working colour k.
inline std::int32_t palette_distance(const FitInput& in, const Rgb& v, int k) {
    const Rgb& c = in.palette.working[k];
    const std::int32_t dr = v.r - c.r, dg = v.g - c.g, db = v.b - c.b;
    const auto& w = in.tables.square_weight;
    return w[0] * dr * dr + w[1] * dg * dg + w[2] * db * db;
}

// The mode of the main pass for these settings, and the cell mode the dither order selects.
FitMode main_pass_mode(const ConversionSettings& s);
FitMode cell_mode(const ConversionSettings& s);
// Whether the refinement works in column mode (ratio 8 with lumi_sort; mix does not put it in
// force), and whether it runs at all.
bool refines_in_columns(const ConversionSettings& s);
bool refinement_runs(const ConversionSettings& s);

// Index (0 red, 1 green, 2 blue) of the channel with the largest sum over the block; ties go
// to the earlier channel.
int dominant_channel(const WorkImage& work, int x, int y);

// Writes a block's result: with lumi_sort the two-colour ordering first.
void write_block(const FitInput& in, VramImage vram, int x, int y, std::uint8_t upper_pattern,
                 std::uint8_t lower_pattern, std::uint8_t upper_pair, std::uint8_t lower_pair);

// The refinement: decodes the main pass's result into the ResultImage and keeps its patterns;
// then tells which blocks are fitted again. Rows are decoded and measured on `workers`.
void start_refinement(const FitInput& in, RefineScratch& scratch, VramImage vram,
                      Workers& workers = serial_workers());
bool refinement_selects(const FitInput& in, const RefineScratch& scratch, int x, int y);

inline bool is_solid(std::uint8_t pattern) {
    return pattern == 0x00 || pattern == 0xFF;
}
inline bool is_solid_pair(std::uint8_t upper, std::uint8_t lower) {
    return is_solid(upper) && is_solid(lower);
}

// The refinement's column search keeps a patterned answer only while it stays below 16/15 of
// the best single-colour answer.
template <typename Choice>
const Choice& solid_or_textured(const Choice& solid, std::int64_t solid_error, bool solid_found,
                                const Choice& textured, std::int64_t textured_error) {
    if (solid_found) {
        const std::int64_t limit = solid_error * 16 / 15;  // only once a solid entry exists
        if (textured_error >= limit) return solid;
    }
    return textured;
}

// The chosen candidate of a block: its list entry and patterns.
struct BlockChoice {
    int id;  // upper pair index * pair count + lower pair index
    std::int64_t error;
    std::uint8_t upper_pattern, lower_pattern;
};

// The main pass's search of one block over the dominant channel's list (also the refinement's
// cell-mode search).
BlockChoice search_block(const FitInput& in, FitState& state, int channel);
// The same in the cell modes without lumi_sort (cell_search.cpp), on the block prepared.
BlockChoice search_least_error(const FitInput& in, FitState& state, const CandidateList& list);

// --- the exact evaluation of one candidate, pixel by pixel as the rules are written ---

// Main pass or refinement: the refinement's column search drops the bound checks and the cut
// after an order's first pixel, and applies the inversion limit whatever the running error.
enum class Pruning { full, refine };

struct Evaluation {
    std::int64_t error;
    std::uint8_t upper_pattern, lower_pattern;
};

// One pair's RowBoundCache entries: entry c is what the row's pixels that an order fits first
// cost at least from column (column mode) or cell c on.
struct RowBounds {
    const std::int64_t* first = nullptr;
    std::ptrdiff_t stride = 0;
    std::int64_t operator[](int c) const { return first[c * stride]; }
};

struct ExactContext {
    const FitInput& in;
    FitMode mode;
    bool sp, optimization, lumi_sort;
    std::int32_t mitigation;
    std::int32_t ratio;

    ExactContext(const FitInput& input, FitMode m);
};

Evaluation evaluate_columns(const ExactContext& ctx, int x, int y, std::uint8_t upper,
                            std::uint8_t lower, RowBounds upper_bounds, RowBounds lower_bounds,
                            std::int64_t best, Pruning pruning);
Evaluation evaluate_cells(const ExactContext& ctx, int x, int y, std::uint8_t upper,
                          std::uint8_t lower, RowBounds upper_bounds, RowBounds lower_bounds,
                          std::int64_t best);

}  // namespace lumaweave
