// What the search of one block, run apart from the others, hands to the pass that goes through
// the blocks in order with the candidate lists as they stand there.
//
// That pass walks each block's list as the rules do: entry by entry, each evaluated against the
// least error met so far (the best) and taken when it comes out below it. An entry whose floor
// (column_block.hpp) is not below the best cannot come out below it, so the walk only has to
// evaluate the others. The block's own search, walking the lists as its worker moved them, finds
// how far the list's first entries bring the best down (the threshold) and stores every entry of
// floor below the threshold with what its evaluation needs, and the first entries it met on its
// way there. Where the pass's list starts with the same entries, it replays them and then walks
// the stored entries alone; elsewhere it rebuilds the block's tables and walks on them.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "convert/candidates.hpp"
#include "convert/column_block.hpp"
#include "convert/large_memory.hpp"

namespace lumaweave {

// One entry met on the way to the threshold: evaluated (the index of its stored entry) or passed
// over (-1).
struct WalkStep {
    std::uint16_t id;
    std::int16_t entry;
};

struct BlockSummary {
    bool stored = false;  // else the pass rebuilds the tables
    // Pixel weights the tables do not take (outside 1..319): the pass searches the old way.
    bool unsupported = false;
    // The search walked the very list the pass will walk: its choice is the block's.
    bool exact = false;
    std::uint8_t channel = 0;
    int id = -1;
    std::uint8_t upper = 0, lower = 0;
    // Every entry of floor below it is stored; the steps bring a walk's best down to it.
    std::int64_t threshold = 0;
    std::uint32_t first_entry = 0, entry_count = 0, first_step = 0, step_count = 0;
};

// The summaries of a picture's blocks and the entries they hold, filled by searches running at
// once: each block takes its room in one step. Allocated once.
class SummaryStore {
  public:
    SummaryStore();
    void clear();
    BlockSummary& block(int index) { return blocks_[static_cast<std::size_t>(index)]; }
    const CandidateColumns* entries(const BlockSummary& s) const {
        return &entries_[s.first_entry];
    }
    const WalkStep* steps(const BlockSummary& s) const { return &steps_[s.first_step]; }
    // Stores a block's entries and steps; false when there is no room left (the block is then
    // not stored).
    bool store(BlockSummary& s, const CandidateColumns* entries, int entry_count,
               const WalkStep* steps, int step_count);

  private:
    std::vector<BlockSummary> blocks_;
    // Left uninitialised: only the room a picture takes is written and read, and a process
    // that converts one picture does not touch the rest.
    LargeArray<CandidateColumns> entries_;
    LargeArray<WalkStep> steps_;
    std::atomic<std::uint32_t> entries_used_{0}, steps_used_{0};
};

// The walk so far: the best error and the entry it came from. A best from the rejection value
// up stands for "no real error yet": the first entry met is taken whatever it gives; which of
// several rejected entries the rules keep is not followed, as a real error replaces them all.
struct WalkState {
    std::int64_t best = no_best_error;
    int id = -1;
    std::uint8_t upper = 0, lower = 0;
    // A real error decided the block.
    bool decided() const { return best < rejection_error && id >= 0; }
};

// Meets one entry: evaluates it unless its floor is not below the best.
void walk_entry(const FitInput& in, const CandidateColumns& c, WalkState& w);

}  // namespace lumaweave
