#include "convert/block_summary.hpp"

#include <algorithm>

namespace lumaweave {

namespace {

// Room for the summaries of one picture: on average far more entries per block than a block
// stores; a block that finds no room has its tables rebuilt by the pass.
constexpr std::size_t block_count = (max_width / 8) * (max_height / 2);
constexpr std::size_t entry_room = block_count * 12;
constexpr std::size_t step_room = block_count * 24;

}  // namespace

SummaryStore::SummaryStore() : blocks_(block_count), entries_(entry_room), steps_(step_room) {}

void SummaryStore::clear() {
    entries_used_ = 0;
    steps_used_ = 0;
}

bool SummaryStore::store(BlockSummary& s, const CandidateColumns* entries, int entry_count,
                         const WalkStep* steps, int step_count) {
    // Room taken stays taken when the other part does not fit: the store is cleared per picture.
    const std::uint32_t e = entries_used_.fetch_add(static_cast<std::uint32_t>(entry_count));
    const std::uint32_t t = steps_used_.fetch_add(static_cast<std::uint32_t>(step_count));
    if (e + entry_count > entry_room || t + step_count > step_room) {
        s.stored = false;
        return false;
    }
    std::copy_n(entries, entry_count, entries_.get() + e);
    std::copy_n(steps, step_count, steps_.get() + t);
    s.first_entry = e;
    s.entry_count = static_cast<std::uint32_t>(entry_count);
    s.first_step = t;
    s.step_count = static_cast<std::uint32_t>(step_count);
    s.stored = true;
    return true;
}

void walk_entry(const FitInput& in, const CandidateColumns& c, WalkState& w) {
    if (c.floor >= w.best) return;
    const int n = in.tables.pair_count, i = c.id / n, l = c.id % n;
    const std::uint8_t u = in.tables.pairs[i], lo = in.tables.pairs[l];
    const InversionRule rule(in, u >> 4, u & 15, lo >> 4, lo & 15, in.settings.mitigation);
    const ColumnResult r = evaluate_candidate(c, rule, in.settings.optimization != 0, w.best);
    if (r.accepted) {
        w = {r.error, c.id, r.upper, r.lower};
    } else if (w.best == no_best_error) {
        // The first entry is taken whatever it gives; its error is some rejected value.
        w = {rejection_error, c.id, 0, 0};
    }
}

}  // namespace lumaweave
