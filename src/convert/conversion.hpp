// The conversion object: every buffer one conversion works on, fixed-size and allocated once.
// A conversion starts each of them afresh (or overwrites exactly the part it reads), so nothing
// of one picture can leak into the next.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "convert/block.hpp"
#include "convert/candidates.hpp"
#include "convert/settings.hpp"
#include "convert/types.hpp"
#include "formats/vram.hpp"

namespace lumaweave {

inline constexpr std::int64_t no_best_error = 0x7FFFFFFFFFFFFFFF;
// Error of an order that breaks the inversion limit: below no_best_error, so a block whose
// every candidate breaks it still gets a result, and small enough that 16 times it fits.
inline constexpr std::int64_t rejection_error = 0x07FFFFFFFFFFFFFF;
inline constexpr std::int64_t bound_unknown = -1;

inline constexpr std::size_t bmp_image_bytes = 54 + 512 * 384 * 3;  // 589878
inline constexpr int preview_row_bytes = 512 * 3;

struct Conversion {
    ConversionSettings settings;  // the settings this conversion runs with
    int width = 0;                // working width, multiple of 8, 8..256
    int height = 0;               // working height, multiple of 8, 16..192

    // The picture and its per-pixel maps, slot y * 256 + x.
    std::array<Pixel, image_slots> work;  // WorkImage
    std::array<Rgb, image_slots> source;  // decoded source, before any adjustment
    std::array<std::int32_t, image_slots> edge_map;
    std::array<std::int32_t, image_slots> error_scale;               // ErrorScaleMap, 192..255
    std::array<std::array<std::int32_t, 16>, image_slots> distance;  // PaletteDistanceMap
    std::array<Pixel, image_slots> result;                           // ResultImage (refinement)

    // Palettes.
    Palette working{};  // what the fitting matches against
    Palette display{};  // the true colours, drawn in the preview
    std::array<std::int32_t, 16> luminance{};
    std::array<std::int32_t, 16> working_r{}, working_g{}, working_b{};  // `working`, by channel

    // Fitting tables.
    std::array<std::uint8_t, 65536> distinct_count;  // DistinctCountTable
    std::array<std::uint8_t, max_pairs> pairs;       // PairList
    int pair_count = 0;
    std::int32_t clamp_low = 0, clamp_high = 0;   // ClampTable bounds
    std::array<std::int32_t, 3> square_weight{};  // SquareTables factors: red, green, blue
    // Candidate lists, one per dominant channel (red, green, blue): the fast search keeps
    // them as CandidateLists, the straightforward one as stored PairPairLists.
    std::array<CandidateList, 3> candidate_lists;
    std::array<std::array<PairPair, pair_pair_capacity>, 3> pair_pairs;
    bool reference_fitting = false;  // fit entry by entry, exactly as the rules are written
    std::array<std::uint8_t, 256 * 256> excluded;      // ExclusionTable [upper * 256 + lower]
    std::array<std::int64_t, 8 * 256> bound_template;  // RowBoundCache template
    // RowBoundCaches of rows y and y + 1 [column * 256 + pair].
    std::array<std::int64_t, 8 * 256> upper_bounds;
    std::array<std::int64_t, 8 * 256> lower_bounds;

    BlockData block;                // the block being fitted
    std::uint64_t evaluations = 0;  // candidates evaluated by the last conversion (benchmark)

    // Refinement.
    std::array<std::uint8_t, 0x1800> pattern_snapshot;

    // Outputs.
    std::array<std::uint8_t, vram::file_size> vram;          // VramImage
    std::array<std::uint8_t, bmp_image_bytes> preview;       // PreviewImage
    std::array<std::uint8_t, bmp_image_bytes> export_image;  // ExportImage
};

// Allocates one conversion object (several megabytes, so never on the stack).
std::unique_ptr<Conversion> make_conversion();

}  // namespace lumaweave
