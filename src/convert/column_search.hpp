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
    alignas(64) std::array<std::int32_t, 128> row_floor;    // one upper pair's floors by lane
    alignas(64) std::array<std::int32_t, 128> first, back;  // its tables, [16 column + colour]

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

}  // namespace lumaweave
