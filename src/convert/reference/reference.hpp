// The straightforward block fitting: every entry of the candidate lists in turn, stored whole and
// moved to the front as written, with the row bounds filled on demand. It is the readable
// statement of the rules, far too slow for use; the tests check that the fast search in fit.cpp
// chooses the same entries. Only the tests link it.
#pragma once

#include <array>
#include <cstdint>

#include "convert/fitting.hpp"

namespace lumaweave::reference {

// Upper row's pair, lower row's pair.
struct PairPair {
    std::uint8_t upper, lower;
};

inline constexpr std::int64_t bound_unknown = -1;

struct State {
    // PairPairLists, one per dominant channel (red, green, blue).
    std::array<std::array<PairPair, max_candidates>, 3> lists;
    // RowBoundCaches of rows y and y + 1: [column * 256 + pair byte].
    std::array<std::int64_t, 8 * 256> upper_bounds;
    std::array<std::int64_t, 8 * 256> lower_bounds;
    std::uint64_t evaluations = 0;
};

// The main pass and the refinement, as fit_blocks and refine_blocks.
void fit_blocks(const FitInput& in, State& state, VramImage vram);
void refine_blocks(const FitInput& in, State& state, RefineScratch& scratch, VramImage vram);

// One block of the main-pass search with the block's row bounds unknown: the chosen list index
// and its evaluation.
struct Choice {
    int index;
    Evaluation eval;
};
Choice search_block(const FitInput& in, State& state, const ExactContext& ctx, int channel, int x,
                    int y);

// Fills the RowBoundCache entries of pair byte `pair` for row y (lower = false) or y + 1.
void compute_row_bounds(const FitInput& in, State& state, FitMode mode, int x, int y, bool lower,
                        std::uint8_t pair);

// The RowBounds of pair byte `pair` in a cache, for the exact evaluation in mode `mode`.
RowBounds row_bounds(const std::array<std::int64_t, 8 * 256>& cache, FitMode mode,
                     std::uint8_t pair);

}  // namespace lumaweave::reference
