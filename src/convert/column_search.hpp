// Column mode's main pass with blocks searched at once (block_summary.hpp says how): each
// block's own search on its tables, which stores what the pass in block order needs, and that
// pass's walk of the block with the lists as they stand.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "convert/block_summary.hpp"
#include "convert/candidates.hpp"
#include "convert/column_block.hpp"

namespace lumaweave {

// One entry of the set a refined block takes the first of (in list order), and the set.
struct TieEntry {
    std::uint16_t id;
    std::uint8_t upper, lower;
};
struct RefineSummary {
    bool selected = false;  // the refinement fits the block again
    bool stored = false;    // else the pass searches the block the old way
    std::uint8_t channel = 0;
    std::uint32_t first = 0, count = 0;
};

// The buffers of one walk on a block's tables (allocated once per worker).
struct ColumnScratch {
    ColumnBlock block;
    // The candidate lists as this worker's own blocks moved them: the order its searches walk,
    // which the pass's lists mostly share (any order gives a summary that holds). A list stays
    // `exact` (the pass's own) from the picture's first block while every block decides.
    std::array<CandidateList, 3> guess;
    std::array<bool, 3> exact{};

    // Candidates of floor below a threshold, by id.
    struct Found {
        std::int64_t floor;
        std::uint16_t id;
    };
    static constexpr int found_room = 4096;
    std::array<Found, found_room> found;
    int found_count = 0;

    // Lower pairs whose floor passes, as lanes for the kernels.
    alignas(64) std::array<std::int32_t, 128> lane_pair, lane_f, lane_b;
    alignas(64) std::array<std::array<std::int32_t, 128>, 8> lane_cost, lane_colour;
    alignas(64) std::array<std::int32_t, 128> row_floor;  // one upper pair's floors by lane

    // The refinement's sets of least error, textured and solid, as a block's search finds them.
    static constexpr int tie_room = 512;
    std::array<TieEntry, tie_room> textured, solid;

    // What a block's search stores.
    static constexpr int entry_room = 256, step_room = 512;
    std::array<CandidateColumns, entry_room> entries;
    int entry_count = 0;
    std::array<WalkStep, step_room> steps;
    int step_count = 0;

    std::uint64_t work = 0;  // candidates whose floor or evaluation was computed
};

// The buffers of the main pass's searches that run at once: a scratch per worker, claimed by the
// task that runs; the summaries; the pass's own scratch for the blocks it walks on tables.
struct ParallelFit {
    explicit ParallelFit(int workers);
    ColumnScratch& claim();
    void release(ColumnScratch& s);

    std::vector<std::unique_ptr<ColumnScratch>> scratch;
    std::atomic<std::uint32_t> free{0};  // bit w: scratch w is free
    SummaryStore summaries;
    ColumnScratch pass;
    std::array<std::uint64_t, ColumnScratch::entry_room> order;  // the pass's entries by list place
    // The refinement's: a summary per block and the entries of their sets; the main pass's
    // choice of each block, where a refined block's search starts.
    std::vector<RefineSummary> refined;
    std::vector<std::uint16_t> chosen;
    static constexpr std::size_t tie_room = (max_width / 8) * (max_height / 2) * 16;
    std::unique_ptr<TieEntry[]> ties;  // uninitialised: only the room taken is read
    std::atomic<std::uint32_t> ties_used{0};
};

// Block (x, y) of dominant channel `channel`, searched with this worker's guess list: the
// summary, and the guess list's winner moved to its front.
void summarize_column_block(const FitInput& in, ColumnScratch& s, int x, int y, int channel,
                            BlockSummary& out, SummaryStore& store);

// The pass's walk of block (x, y) with `list`: from the summary where the list starts as the
// summary's steps, else on the block's tables rebuilt in pf.pass. False when neither decides
// the block (the main pass's own search is left to do it).
bool walk_column_block(const FitInput& in, ParallelFit& pf, const BlockSummary& sm, int x, int y,
                       const CandidateList& list, WalkState& w);

// Every allowed candidate of the block in s.block whose floor is below t, by id, into s.found;
// false when t is beyond what the floors tell exactly or the candidates do not fit.
bool collect_below(const FitInput& in, ColumnScratch& s, std::int64_t t);

// The refinement's column search of block (x, y) apart from the others (the error of a candidate
// does not depend on the order met there): the entries of least error of the kind, solid or
// textured, that the block takes, for the pass to take the first of in list order. The main
// pass's choice `chosen` and the first entries of `list` give a first reach. Not stored when the
// summary cannot hold them.
void summarize_refined_block(const FitInput& in, ColumnScratch& s, int x, int y, int channel,
                             int chosen, const CandidateList& list, RefineSummary& out,
                             ParallelFit& pf);

// The entry of a refined block's set that stands first in `list`.
TieEntry first_in_list(const ParallelFit& pf, const RefineSummary& sm, const CandidateList& list);

}  // namespace lumaweave
