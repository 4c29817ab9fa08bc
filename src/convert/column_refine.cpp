// The refinement's column search of one block apart from the others. A candidate's error here
// does not depend on what was met before it (refine.cpp says how the search decides), so the
// block's outcome is fixed by its least textured and least solid errors; only which of several
// entries of equal error it takes depends on the list, and the pass in block order takes the
// first of them in its list. Candidates are met least floor first, where their floor (no
// evaluation gives less) does not exceed the largest error that can still matter.
#include <algorithm>

#include "convert/column_search.hpp"

namespace lumaweave {

namespace {

// The least error of one kind met so far and every entry that gives it.
struct Least {
    std::int64_t error = no_best_error;
    TieEntry* set;
    int count = 0;
    bool overflow = false;

    void meet(std::int64_t e, const TieEntry& entry) {
        if (e > error) return;
        if (e < error) {
            error = e;
            count = 0;
            overflow = false;
        }
        if (count == ColumnScratch::tie_room) {
            overflow = true;
            return;
        }
        set[count++] = entry;
    }
    bool found() const { return count > 0 || overflow; }
};

}  // namespace

void summarize_refined_block(const FitInput& in, ColumnScratch& s, int x, int y, int channel,
                             int chosen, const CandidateList& list, RefineSummary& out,
                             ParallelFit& pf) {
    out = {};
    out.selected = true;
    out.channel = static_cast<std::uint8_t>(channel);
    if (!column_block_supported(in, x, y)) return;
    prepare_column_block(in, s.block, x, y);
    const int n = s.block.n;
    const bool optimization = in.settings.optimization != 0;
    Least textured{no_best_error, s.textured.data()}, solid{no_best_error, s.solid.data()};
    // Largest error that can still matter: a textured entry only below 16/15 of the least solid
    // one (and not above the least textured), a solid one not above either least.
    std::int64_t reach = no_best_error;
    auto meet = [&](const CandidateColumns& c) {
        if (c.floor > reach) return;
        const std::uint8_t u = in.tables.pairs[c.id / n], lo = in.tables.pairs[c.id % n];
        const InversionRule rule(in, u >> 4, u & 15, lo >> 4, lo & 15, in.settings.mitigation);
        const ColumnResult r = evaluate_unpruned(c, rule, optimization);
        ++s.work;
        if (r.error > reach) return;
        const TieEntry entry{c.id, r.upper, r.lower};
        (is_solid_pair(r.upper, r.lower) ? solid : textured).meet(r.error, entry);
        reach = textured.error;
        if (solid.found()) {
            reach =
                std::max(std::min(reach, solid.error * 16 / 15 - 1), std::min(solid.error, reach));
        }
    };
    // The main pass's choice and the entries that won blocks before give a first reach.
    CandidateColumns c;
    int first[5] = {chosen}, firsts = 1;
    for (int p = 0; p < list.moved_count() && firsts < 5; ++p) {
        if (list.moved(p) != chosen) first[firsts++] = list.moved(p);
    }
    for (int p = 0; p < firsts; ++p) {
        candidate_columns(s.block, first[p] / n, first[p] % n, c);
        meet(c);
    }
    if (reach >= column_cap || !collect_below(in, s, reach + 1)) return;
    // Then every other entry within reach, least floor first.
    std::sort(s.found.begin(), s.found.begin() + s.found_count,
              [](const ColumnScratch::Found& a, const ColumnScratch::Found& b) {
                  return a.floor < b.floor || (a.floor == b.floor && a.id < b.id);
              });
    for (int f = 0; f < s.found_count && s.found[f].floor <= reach; ++f) {
        const int id = s.found[f].id;
        bool met = false;
        for (int p = 0; p < firsts && !met; ++p)
            met = first[p] == id;
        if (met) continue;
        candidate_columns(s.block, id / n, id % n, c);
        meet(c);
    }
    // The kind the block takes (refine.cpp, search_solid_or_textured).
    const bool solid_wins =
        solid.found() && solid.error <= textured.error &&
        &solid_or_textured(solid, solid.error, true, textured, textured.error) == &solid;
    const Least& taken = solid_wins ? solid : textured;
    if (taken.overflow || taken.count == 0) return;
    const std::uint32_t at = pf.ties_used.fetch_add(static_cast<std::uint32_t>(taken.count));
    if (at + taken.count > ParallelFit::tie_room) return;
    std::copy_n(taken.set, taken.count, pf.ties.get() + at);
    out.first = at;
    out.count = static_cast<std::uint32_t>(taken.count);
    out.stored = true;
}

TieEntry first_in_list(const ParallelFit& pf, const RefineSummary& sm, const CandidateList& list) {
    const TieEntry* set = &pf.ties[sm.first];
    const TieEntry* best = set;
    int best_key = list.key(set->id);
    for (std::uint32_t e = 1; e < sm.count; ++e) {
        const int key = list.key(set[e].id);
        if (key < best_key) {
            best_key = key;
            best = set + e;
        }
    }
    return *best;
}

}  // namespace lumaweave
