// Everything the search of one 8x2 block reuses across its candidates.
//
// The error diffusion never leaves a column (column mode) or a 2x2 cell (cell modes), and every
// order fits first the pixels of one row with its own pair, then passes their errors to the
// other row. So the row that an order starts on is fitted the same way for every partner pair:
// its costs, colours and the values it hands on are computed once per pair and cell (a
// "half cell"), and the other row's pixels only look up distances.
//
// Only the costs of candidates that can still win are computed exactly: an order whose running
// error reaches the best error can no longer make its candidate win, so it is dropped there.
#pragma once

#include <array>
#include <cstdint>

#include "convert/kernels.hpp"
#include "convert/types.hpp"

namespace lumaweave {

struct FitInput;

enum class FitMode { column, vertical_cell, circular_cell };

// Lower bounds stop growing at this much per column or cell (see error_floor).
inline constexpr std::int32_t floor_cap = 1 << 27;

// Error of a dropped order or candidate.
inline constexpr std::int64_t dead_error = 0x7FFFFFFFFFFFFFFF;

struct BlockPixel {
    Rgb own;                       // WorkImage value
    std::int32_t weight;           // WorkImage weight
    std::int32_t scale;            // ErrorScaleMap value
    const std::int32_t* distance;  // PaletteDistanceMap entries (16)
};

// One order of one cell, for one pair of the row it starts on.
struct HalfCell {
    std::int64_t own_cost;  // the two pixels of the starting row
    std::uint8_t own_bits;  // their pattern bits
    std::uint16_t second_valid;
    Rgb first_value;  // the other row's pixel that is fitted first
    Rgb second_base;  // the other row's last pixel, before the share of the first one
    std::array<std::int32_t, 16> first;                   // distances of first_value
    std::array<std::array<std::int32_t, 16>, 16> second;  // [colour the first one took]
};

// Columns of one order inside a cell: the starting row fits `own_first` with its own value and
// passes 8 - r eighths to `own_second`; the other row's `recv_first` gets r eighths of the
// starting row's pixel above or below it, `recv_second` 8 - r eighths of recv_first and r
// eighths of the starting row's pixel above or below it.
struct CellOrder {
    int own_first, own_second, recv_first, recv_second;  // 0 or 1, added to 2k
};

// The kernels work on whole runs of 8 pairs.
static_assert(max_pairs % 8 == 0);

struct BlockData {
    int x = 0, y = 0;
    FitMode mode = FitMode::column;
    bool sp = false, optimization = false, lumi_sort = false;
    std::int32_t mitigation = 3;
    std::int32_t ratio = 8;
    int pair_count = 0;
    std::array<std::uint8_t, max_pairs> pair_fg{}, pair_bg{};

    std::array<std::array<BlockPixel, 8>, 2> px{};  // [row][column]

    // Own-value fit of every pixel with every pair: cost [row][column][pair], and the
    // foreground bits [row][pair].
    std::array<std::array<std::array<std::int32_t, max_pairs>, 8>, 2> cost{};
    std::array<std::array<std::array<std::int32_t, max_pairs>, 8>, 2> colour{};  // the colour taken
    std::array<std::array<std::uint8_t, max_pairs>, 2> own_fg{};
    // Row bounds: [row][c][pair], c = column (column mode) or cell (cell modes).
    std::array<std::array<std::array<std::int64_t, max_pairs>, 8>, 2> bound{};

    // Which entries of the tables below, filled on first use, hold this block's values:
    // prepare_block clears them all in one step. The largest of those tables are left
    // uninitialised: only what a block fills is read, and a conversion that never needs them
    // (column mode) does not touch their memory.
    struct Filled {
        std::array<std::array<std::uint16_t, 8>, 2> receive;       // bit c: receive[row][j][c]
        std::array<std::array<std::uint16_t, 8>, 2> pair_cost;     // bit c: pair_cost[row][j][c]
        std::array<std::uint8_t, 2> other_order;                   // other_order[side]
        std::array<std::uint8_t, 2> row_floor;                     // the row_floor tables of a side
        std::array<std::array<std::uint8_t, max_pairs>, 2> floor;  // floor[side][pair]
        std::array<std::array<std::uint8_t, max_pairs>, 2> half;   // bit k: half[row][p][k]
        int cell_receive;                                          // cell_receive entries taken
        bool cell_floors;                                          // the cell floors' tables
    };
    Filled filled{};

    // Column mode: distances of the other row's pixel after it received the whole error of a
    // pixel that took colour c. [source row][column][c][colour]
    std::array<std::array<std::array<std::array<std::int32_t, 16>, 16>, 8>, 2> receive;
    // The least of each of those rows, filled with all 16 rows at once.
    std::array<std::array<std::array<std::int32_t, 16>, 8>, 2> receive_least{};

    // Column mode: cost of the other row's pixel j with each of its pairs after it received
    // the whole error of a pixel that took colour c. [source row][j][c][other row's pair]
    std::array<std::array<std::array<std::array<std::int32_t, max_pairs>, 16>, 8>, 2> pair_cost;
    // Column mode, [side][j][pair q of the other side]: what the order starting on the other
    // side with pair q costs in column j at least (its own pixel, and side's pixel receiving
    // its error at the nearest colour of all).
    std::array<std::array<std::array<std::int32_t, max_pairs>, 8>, 2> other_order{};
    // Column mode, [side][j]: for a lower bound of every candidate with one pair of `side`
    // (row_floor): the cheapest the other row's pixel can be after it received the error of
    // this side's pixel that took colour c [c], the cheapest own fit of the other row's pixel,
    // and the cheapest this side's pixel can be, by colour k, after it received the error of
    // the other row's pixel whatever it took [k].
    std::array<std::array<std::array<std::int32_t, 16>, 8>, 2> nearest_received{};
    std::array<std::array<std::int32_t, 8>, 2> cheapest_other{};
    std::array<std::array<std::array<std::int32_t, 16>, 8>, 2> cheapest_here{};
    // Lower bounds of candidates' errors, by one side's pair: [side][pair][other side's pair].
    std::array<std::array<std::array<std::int32_t, max_pairs>, max_pairs>, 2> floor;

    // Cell modes, for every pair of the starting row of an order [row][cell][pair]: what its two
    // pixels cost, and the key of the value its first receiving pixel in the other row gets
    // (the colour the starting row's pixel above or below it took, and the one before that).
    std::array<std::array<std::array<std::int32_t, max_pairs>, 4>, 2> cell_own_cost{};
    std::array<std::array<std::array<std::uint8_t, max_pairs>, 4>, 2> cell_key{};
    // Cost of that receiving pixel for every pair of its row, by key: [row][cell][key] -> slot,
    // -1 until it is computed (set with the cell costs, for the rows that start orders).
    std::array<std::array<std::array<std::int16_t, 256>, 4>, 2> cell_receive_slot{};
    static constexpr int cell_receive_capacity = 8 * max_pairs;
    std::array<std::array<std::int32_t, max_pairs>, cell_receive_capacity> cell_receive;

    // Cell modes: [starting row][pair][cell], built when first needed.
    std::array<std::array<std::array<HalfCell, 4>, max_pairs>, 2> half;

    // Cell modes: an order's cost in the other row depends on its own pair only through the
    // colours its own two pixels took (first * 16 + second), the "colours" [row][cell][pair].
    // What the other row's two pixels cost, for every pair of theirs, is computed once per
    // colours: [row][cell][colours] -> slot of cell_rest, -1 until it is (cleared with the cell
    // costs, for the rows that start orders).
    // Without lumi_sort the costs are kept whole (cell_rest); with it, as lower bounds, each at
    // most 2^27 (cell_rest_floor; see error_floor).
    std::array<std::array<std::array<std::uint8_t, max_pairs>, 4>, 2> cell_colours{};
    std::array<std::array<std::array<std::int16_t, 256>, 4>, 2> cell_rest_slot{};
    static constexpr int cell_rest_capacity = 8 * max_pairs;  // every pair's own, in all cells
    int cell_rest_used = 0;
    std::array<std::array<std::int64_t, max_pairs>, cell_rest_capacity> cell_rest;
    std::array<std::array<std::int32_t, max_pairs>, cell_rest_capacity> cell_rest_floor;
    // Cell modes with lumi_sort, made with the floors' first use (filled.cell_floors):
    // cell_own_cost at most 2^27 [row][cell][pair]; for the lower pairs, by cell, which key (the
    // colours the order that starts on the lower row hands on with, numbered 0, 1, ... in the
    // cell; 0 past the pair count) each has, and per key the distances of the upper row's first
    // receiving pixel [cell][colour][key], and that pixel's weight.
    std::array<std::array<std::array<std::int32_t, max_pairs>, 4>, 2> cell_own_floor;
    std::array<std::array<std::int32_t, max_pairs>, 4> cell_lower_key;
    std::array<int, 4> cell_lower_keys;
    std::array<std::array<std::array<std::int32_t, kernels::key_room>, 16>, 4> cell_lower_distance;
    std::array<std::int32_t, 4> cell_lower_weight;
    // For a bound of a whole row of them, [cell][upper pair]: the least that any lower pair's own
    // cost and first receiving pixel give with the upper pair; and that bound by upper pair.
    std::array<std::array<std::int32_t, max_pairs>, 4> cell_lower_least;
    std::array<std::int32_t, max_pairs> cell_row_floor;
    // And a bound of every candidate with each lower pair.
    std::array<std::int32_t, max_pairs> cell_column_floor;
    std::array<CellOrder, 2> cell_order{};  // [starting row]
};

// Set bits of a byte (a table: the baseline instruction set has no population count).
inline constexpr std::array<std::uint8_t, 256> bit_count = [] {
    std::array<std::uint8_t, 256> t{};
    for (int v = 0; v < 256; ++v)
        t[v] = static_cast<std::uint8_t>(t[v / 2] + (v & 1));
    return t;
}();

// The inversion limit of one candidate, prepared once for all its checks.
// Whether the four colours of 0..15 are at most two different ones (the DistinctCountTable's
// entry at most 2): their bits, less the lowest, leave at most one.
inline bool at_most_two_colours(unsigned a, unsigned b, unsigned c, unsigned d) {
    const unsigned bits = (1u << a) | (1u << b) | (1u << c) | (1u << d);
    const unsigned rest = bits & (bits - 1);
    return (rest & (rest - 1)) == 0;
}

struct InversionRule {
    int uf, ub, lf, lb;
    std::int32_t mitigation;
    bool possible;         // some column could show a darker colour below a brighter one
    std::uint8_t dark[4];  // [upper takes its foreground * 2 + lower takes its foreground]

    InversionRule(const FitInput& in, int uf, int ub, int lf, int lb, std::int32_t mitigation);

    bool broken(std::uint8_t pu, std::uint8_t pl, std::uint8_t fitted, std::uint8_t checked) const {
        if (!possible) return false;
        const unsigned cu1 = pu == 0 ? ub : uf;
        const unsigned cu2 = pu == fitted ? cu1 : ub;
        const unsigned cl1 = pl == 0 ? lb : lf;
        const unsigned cl2 = pl == fitted ? cl1 : lb;
        if (at_most_two_colours(cu1, cu2, cl1, cl2)) return false;
        const unsigned both = pu & pl & checked, upper_only = pu & ~pl & checked;
        const unsigned lower_only = ~pu & pl & checked, neither = ~pu & ~pl & checked & 0xFF;
        const int inversions = dark[3] * bit_count[both] + dark[2] * bit_count[upper_only] +
                               dark[1] * bit_count[lower_only] + dark[0] * bit_count[neither];
        return inversions >= mitigation;
    }
};

// Prepares the block's pixels, own-value costs and row bounds for the given mode.
// `lower_rows` is false when no order starts on the lower row (cell modes without lumi_sort).
void prepare_block(const FitInput& in, BlockData& bd, FitMode mode, int x, int y, bool lower_rows);

// Cell modes: what the other row's two pixels of cell k cost, for every pair of theirs, in the
// order that starts on `row` with pair p (the cell's whole cost less cell_own_cost).
// Returns the slot of cell_rest (without lumi_sort) or cell_rest_floor (with it).
int cell_rest_table(const FitInput& in, BlockData& bd, int row, int k, int p);
inline const std::int64_t* cell_rest_costs(const FitInput& in, BlockData& bd, int row, int k,
                                           int p) {
    return bd.cell_rest[static_cast<std::size_t>(cell_rest_table(in, bd, row, k, p))].data();
}

// A lower bound of the block error of every candidate that pairs pair p of `row` (0 upper,
// 1 lower) with a pair of the other row, indexed by that pair: the sum over the columns (cells)
// of the cheaper of what each order surely costs there. It holds whatever the best error, so
// a candidate whose bound reaches the best error cannot win. Sums stop growing at 2^27 per
// column, which keeps them in 32 bits and still below the true sums.
const std::int32_t* compute_error_floor(const FitInput& in, BlockData& bd, int row, int p);
inline const std::int32_t* error_floor(const FitInput& in, BlockData& bd, int row, int p) {
    return bd.filled.floor[row][p] ? bd.floor[row][p].data() : compute_error_floor(in, bd, row, p);
}

// Cell modes with lumi_sort: a lower bound of candidate (i, l) with both orders of each cell
// taken exactly (but for the inversion limit), worked out only as far as needed to show it is at
// least `best`; and lower bounds of every candidate of a row or column.
std::int32_t cell_floor(const FitInput& in, BlockData& bd, int i, int l, std::int64_t best);
void make_cell_floors(const FitInput& in, BlockData& bd);
inline void prepare_cell_floors(const FitInput& in, BlockData& bd) {
    if (!bd.filled.cell_floors) make_cell_floors(in, bd);
}
inline std::int32_t cell_row_floor(const FitInput& in, BlockData& bd, int i) {
    prepare_cell_floors(in, bd);
    return bd.cell_row_floor[static_cast<std::size_t>(i)];
}
inline std::int32_t cell_column_floor(const FitInput& in, BlockData& bd, int l) {
    prepare_cell_floors(in, bd);
    return bd.cell_column_floor[static_cast<std::size_t>(l)];
}

// Column mode: a lower bound of the block error of every candidate with pair p on `row`,
// whatever the other pair.
std::int64_t row_floor(const FitInput& in, BlockData& bd, int row, int p);

// Column mode: true when candidate (upper pair i, lower pair l) cannot get an error below
// `best` (a real error, below the rejection value): the cheaper of the two orders of each
// column, each computed exactly but for the inversion limit, which can only add, sum to it.
bool columns_cannot_win(const FitInput& in, BlockData& bd, int i, int l, std::int64_t best);

// Exact evaluation of candidate (upper pair i, lower pair l) against a best error below the
// rejection value: returns its block error when it is below `best` (with its patterns), else
// dead_error.
std::int64_t evaluate_columns_fast(const FitInput& in, BlockData& bd, int i, int l,
                                   std::int64_t best, std::uint8_t& upper_pattern,
                                   std::uint8_t& lower_pattern);
std::int64_t evaluate_cells_fast(const FitInput& in, BlockData& bd, int i, int l, std::int64_t best,
                                 std::uint8_t& upper_pattern, std::uint8_t& lower_pattern);

// The refinement's column search: no bound checks and no cuts inside a column; the candidate is
// followed while its error stays below `limit`. Returns its block error, or dead_error once it
// reaches the limit. (The same code as evaluate_columns_fast, with another pruning policy.)
std::int64_t evaluate_columns_unpruned(const FitInput& in, BlockData& bd, int i, int l,
                                       std::int64_t limit, std::uint8_t& upper_pattern,
                                       std::uint8_t& lower_pattern);

}  // namespace lumaweave
