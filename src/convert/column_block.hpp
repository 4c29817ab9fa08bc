// Column mode's tables of one block for the search that runs blocks at once (column_search.cpp),
// and what it asks of one candidate.
//
// Each column of a block is fitted by one of two orders: the upper pixel with its own value and
// the lower pixel after receiving its whole error, or the other way round. The cost of an order in
// a column depends only on the candidate's two pairs, so the least error any evaluation of
// candidate (i, l) can give is its floor, the sum over the columns of the cheaper order; the
// running best error of the search and the inversion limit only ever choose dearer orders or drop
// the candidate. The tables here give that floor for many candidates at once.
#pragma once

#include <array>
#include <cstdint>

#include "convert/fitting.hpp"

namespace lumaweave {

// Each column's share of a floor stops growing here: floors below it are exact, and eight of it
// fit in 32 bits.
inline constexpr std::int32_t column_cap = (1 << 28) - 1;

// 2^32 / n rounded up: (id * pair_split(n)) >> 32 is id / n for every candidate id (below 2^14;
// with n below 2^7 the rounding stays under one part in n), without a division.
inline std::uint32_t pair_split(int n) {
    return static_cast<std::uint32_t>(
        ((std::uint64_t{1} << 32) + static_cast<std::uint64_t>(n) - 1) /
        static_cast<std::uint64_t>(n));
}
inline int split_upper(int id, std::uint32_t split) {
    return static_cast<int>((std::uint64_t{static_cast<std::uint32_t>(id)} * split) >> 32);
}

struct ColumnBlock {
    int n = 0;
    std::uint32_t split = 0;  // pair_split(n)
    // Colours of each pair (lanes padded to 128 with colour 0).
    alignas(64) std::array<std::int32_t, 128> pair_f{}, pair_b{};
    std::array<std::array<std::int32_t, 8>, 2> weight{};  // [row][column]
    // [row][column][pair]: the own-value cost of the pixel with the pair, the colour it takes.
    alignas(64) std::array<std::array<std::array<std::int32_t, 128>, 8>, 2> cost{}, colour{};
    alignas(64) std::array<std::array<std::int32_t, 128>, 2> own_fg{};  // [row][pair]: fg bits
    // [column][16 c + k]: the lower pixel's cost (its weight times the distance) with colour k
    // after it received the whole error of the upper pixel that took colour c.
    alignas(64) std::array<std::array<std::int32_t, 256>, 8> down{};
    // [column][16 k + c]: the upper pixel's cost with colour k after it received the whole error of
    // the lower pixel that took colour c (stored by k, so that one k is a run over c).
    alignas(64) std::array<std::array<std::int32_t, 256>, 8> up{};
    // For the floors by one side's pair: [16 column + c] the least the other pixel costs after this
    // one took c, [16 column + k] the least this pixel costs with k after the other took any
    // colour, and [column] the cheapest own fit of the other pixel with any pair.
    alignas(64) std::array<std::int32_t, 128> nearest_down{}, here_up{}, nearest_up{}, here_down{};
    std::array<std::array<std::int32_t, 8>, 2> cheapest{};
    // Floors of every candidate with upper pair i / lower pair l, whatever the other pair.
    alignas(64) std::array<std::int32_t, 128> upper_floor{}, lower_floor{};
};

// Whether the tables can hold block (x, y): they keep each pixel's weight inside its costs, which
// only pixel weights as the edge measure makes them (1..319) allow.
bool column_block_supported(const FitInput& in, int x, int y);

// Fills every table of the block at (x, y) (column mode, main pass or refinement alike).
void prepare_column_block(const FitInput& in, ColumnBlock& cb, int x, int y);

// What the evaluation of candidate (upper pair i, lower pair l) needs of each column: the cost of
// each order (the upper pixel first, the lower pixel first) and the row bounds of the main pass's
// pre-check. Bits 4j..4j+3 hold the foreground bits of column j: upper-first order's upper and
// lower pixel, lower-first order's upper and lower pixel.
struct CandidateColumns {
    std::array<std::int32_t, 8> upper_first, lower_first;
    std::array<std::uint32_t, 8> upper_bound, lower_bound;
    std::uint32_t bits;
    std::int64_t floor;  // the sum over the columns of the cheaper order
    std::uint16_t id;    // i * pair count + l
};
void candidate_columns(const ColumnBlock& cb, int i, int l, CandidateColumns& c);
// Whether candidate (i, l)'s floor (as candidate_columns gives it) is below `best`: the sum alone,
// which most entries met one by one do not pass.
bool floor_below(const ColumnBlock& cb, int i, int l, std::int64_t best);

// The main pass's evaluation of the candidate against a best error `best`, as the rules give it:
// below the rejection value as evaluate_columns_fast does (accepted: error below the best), and
// from there up (no best yet, or only rejected candidates so far) the evaluation without the
// pre-check, whose real errors are what the exact evaluation gives there; `accepted` false there
// means the candidate breaks the inversion limit in every order of some column.
struct ColumnResult {
    bool accepted;
    std::int64_t error;
    std::uint8_t upper, lower;
};
// The refinement's evaluation: both orders of every column followed whole, the inversion limit
// applied to each whatever its error (a broken order takes the rejection value), as
// evaluate_columns_unpruned gives it: the error (from the rejection value up when broken) and
// patterns.
ColumnResult evaluate_unpruned(const CandidateColumns& c, const InversionRule& rule,
                               bool optimization);

ColumnResult evaluate_candidate(const CandidateColumns& c, const InversionRule& rule,
                                bool optimization, std::int64_t best);

}  // namespace lumaweave
