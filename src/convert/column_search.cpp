// Column mode's walks of a block on its tables, the summary a block's own search stores, and the
// pass's replay of it.
//
// The floors of whole runs of candidates come from the kernels: an upper pair's floor with every
// lower pair whose own floor passes (column_row), after the floors by pair (row_floors) have ruled
// out most pairs of both rows.
#include "convert/column_search.hpp"

#include <algorithm>
#include <thread>

#include "convert/kernels.hpp"

namespace lumaweave {

namespace {

bool allowed(const FitInput& in, int i, int l) {
    return !in.tables.excluded[in.tables.pairs[i] * 256 + in.tables.pairs[l]];
}

}  // namespace

// Every allowed candidate of floor below t, by id, into s.found; false when t is beyond what the
// floors tell exactly or the candidates do not fit.
bool collect_below(const FitInput& in, ColumnScratch& s, std::int64_t t) {
    const ColumnBlock& cb = s.block;
    const int n = cb.n;
    s.found_count = 0;
    if (t > column_cap) return false;
    // The lower pairs whose own floor passes, as lanes (padded to a run of 16).
    std::uint64_t bits[2];
    kernels::below(cb.lower_floor.data(), n, t, bits);
    int lanes = 0;
    for (int w = 0; w < 2; ++w) {
        for (std::uint64_t m = bits[w]; m != 0; m &= m - 1) {
            const int l = w * 64 + __builtin_ctzll(m);
            s.lane_pair[lanes] = l;
            s.lane_f[lanes] = cb.pair_f[l];
            s.lane_b[lanes] = cb.pair_b[l];
            for (int j = 0; j < 8; ++j) {
                s.lane_cost[j][lanes] = cb.cost[1][j][l];
                s.lane_colour[j][lanes] = cb.colour[1][j][l];
            }
            ++lanes;
        }
    }
    if (lanes == 0) return true;
    for (int q = lanes; q % 16 != 0; ++q) {
        s.lane_f[q] = s.lane_b[q] = 0;
        for (int j = 0; j < 8; ++j)
            s.lane_cost[j][q] = s.lane_colour[j][q] = 0;
    }
    const std::int32_t *other[8], *colour[8], *first[8], *back_f[8], *back_b[8];
    for (int j = 0; j < 8; ++j) {
        other[j] = s.lane_cost[j].data();
        colour[j] = s.lane_colour[j].data();
    }
    // Then the upper pairs whose own floor passes, each against those lanes.
    kernels::below(cb.upper_floor.data(), n, t, bits);
    for (int w = 0; w < 2; ++w) {
        for (std::uint64_t m = bits[w]; m != 0; m &= m - 1) {
            const int i = w * 64 + __builtin_ctzll(m);
            std::int32_t own[8];
            const int fi = cb.pair_f[i], bi = cb.pair_b[i];
            for (int j = 0; j < 8; ++j) {
                own[j] = cb.cost[0][j][i];
                first[j] = &cb.down[j][16 * cb.colour[0][j][i]];
                back_f[j] = &cb.up[j][16 * fi];
                back_b[j] = &cb.up[j][16 * bi];
            }
            kernels::column_row(own, first, back_f, back_b, other, colour, s.lane_f.data(),
                                s.lane_b.data(), lanes, column_cap, s.row_floor.data());
            s.work += static_cast<std::uint64_t>(lanes);
            std::uint64_t passed[2];
            kernels::below(s.row_floor.data(), lanes, t, passed);
            for (int v = 0; v < 2; ++v) {
                for (std::uint64_t k = passed[v]; k != 0; k &= k - 1) {
                    const int q = v * 64 + __builtin_ctzll(k);
                    const int l = s.lane_pair[q];
                    if (!allowed(in, i, l)) continue;
                    if (s.found_count == ColumnScratch::found_room) return false;
                    s.found[s.found_count++] = {s.row_floor[q],
                                                static_cast<std::uint16_t>(i * n + l)};
                }
            }
        }
    }
    return true;
}

namespace {

// Meets moved entry `id`; `evaluated` tells whether its evaluation was needed, `c` holds it then.
bool meet_moved(const FitInput& in, ColumnScratch& s, int id, WalkState& w, CandidateColumns& c) {
    const ColumnBlock& cb = s.block;
    const int i = split_upper(id, cb.split), l = id - i * cb.n;
    if (std::max(cb.upper_floor[i], cb.lower_floor[l]) >= w.best) return false;
    ++s.work;
    if (!floor_below(cb, i, l, w.best)) return false;
    candidate_columns(cb, i, l, c);
    walk_entry(in, c, w);
    return true;
}

// Walks the unmoved part of `list` on the tables, continuing `w`; false when it cannot.
bool walk_unmoved(const FitInput& in, ColumnScratch& s, const CandidateList& list, WalkState& w) {
    const ColumnBlock& cb = s.block;
    const int n = cb.n;
    CandidateColumns c;
    int start = 0;
    // Entry by entry while there is no real error yet, or the best is beyond what the kernels'
    // floors tell (at the start of a list).
    for (; (!w.decided() || w.best > column_cap) && start < n * n; ++start) {
        if (list.is_moved(start) || !allowed(in, start / n, start % n)) continue;
        candidate_columns(cb, start / n, start % n, c);
        ++s.work;
        walk_entry(in, c, w);
    }
    if (!w.decided() || !collect_below(in, s, w.best)) return false;
    for (int f = 0; f < s.found_count; ++f) {
        const ColumnScratch::Found& e = s.found[f];
        if (e.id < start || e.floor >= w.best || list.is_moved(e.id)) continue;
        candidate_columns(cb, e.id / n, e.id % n, c);
        ++s.work;
        walk_entry(in, c, w);
    }
    return true;
}

}  // namespace

void summarize_column_block(const FitInput& in, ColumnScratch& s, int x, int y, int channel,
                            BlockSummary& out, SummaryStore& store) {
    out = {};
    out.channel = static_cast<std::uint8_t>(channel);
    if (!column_block_supported(in, x, y)) {
        out.unsupported = true;
        s.exact[channel] = false;
        return;
    }
    prepare_column_block(in, s.block, x, y);
    const int n = s.block.n;
    CandidateList& guess = s.guess[channel];
    WalkState w;
    s.entry_count = s.step_count = 0;
    if (s.exact[channel]) {
        // This walk is the pass's own: nothing to store.
        CandidateColumns c;
        for (int p = 0; p < guess.moved_count(); ++p)
            meet_moved(in, s, guess.moved(p), w, c);
        if (walk_unmoved(in, s, guess, w) && w.decided()) {
            out.exact = true;
            out.id = w.id;
            out.upper = w.upper;
            out.lower = w.lower;
            guess.move_to_front(w.id);
            return;
        }
        // The pass searches this block itself; the lists part from here.
        s.exact[channel] = false;
        w = {};
    }
    // The moved entries, noting each met until the last that lowered the best.
    int last = -1, unusable = guess.moved_count();
    CandidateColumns spare;
    for (int p = 0; p < guess.moved_count(); ++p) {
        const int id = guess.moved(p);
        const std::int64_t before = w.best;
        const bool room = s.entry_count < ColumnScratch::entry_room;
        CandidateColumns& c = room ? s.entries[s.entry_count] : spare;
        const bool evaluated = meet_moved(in, s, id, w, c);
        if (w.best != before) last = p;
        if (p >= ColumnScratch::step_room || (evaluated && !room)) {
            unusable = std::min(unusable, p);
            continue;
        }
        s.steps[p] = {static_cast<std::uint16_t>(id),
                      static_cast<std::int16_t>(evaluated ? s.entry_count : -1)};
        if (evaluated) ++s.entry_count;
    }
    s.step_count = last + 1;
    bool fits = last < unusable;
    // Every entry of floor below the best reached: the rest of this walk, and the pass's.
    const std::int64_t threshold = w.best;
    if (w.decided() && fits && collect_below(in, s, threshold)) {
        // Entries met on the way keep their place; the others follow.
        const int met = s.entry_count;
        for (int f = 0; f < s.found_count && fits; ++f) {
            const int id = s.found[f].id;
            bool known = false;
            for (int e = 0; e < met && !known; ++e)
                known = s.entries[e].id == id;
            if (known) continue;
            if (s.entry_count == ColumnScratch::entry_room) {
                fits = false;
                break;
            }
            candidate_columns(s.block, id / n, id % n, s.entries[s.entry_count++]);
            ++s.work;
        }
        if (fits) {
            out.threshold = threshold;
            store.store(out, s.entries.data(), s.entry_count, s.steps.data(), s.step_count);
            // This worker's walk on: the unmoved entries among them, by id.
            for (int e = met; e < s.entry_count; ++e) {
                if (!guess.is_moved(s.entries[e].id)) walk_entry(in, s.entries[e], w);
            }
        }
    }
    if (!out.stored && !walk_unmoved(in, s, guess, w)) {
        // Where the walk cannot go on (a best beyond what the floors tell, at the start of a
        // list), the guess list still moves on, with the candidate of least floor.
        s.exact[channel] = false;
        if (collect_below(in, s, column_cap) && s.found_count > 0) {
            const auto least =
                std::min_element(s.found.begin(), s.found.begin() + s.found_count,
                                 [](const ColumnScratch::Found& a, const ColumnScratch::Found& b) {
                                     return a.floor < b.floor;
                                 });
            guess.move_to_front(least->id);
        }
        return;
    }
    if (!w.decided()) {
        s.exact[channel] = false;
        return;
    }
    out.exact = s.exact[channel];
    out.id = w.id;
    out.upper = w.upper;
    out.lower = w.lower;
    guess.move_to_front(w.id);
}

bool walk_column_block(const FitInput& in, ParallelFit& pf, const BlockSummary& sm, int x, int y,
                       const CandidateList& list, WalkState& w) {
    w = {};
    int p = 0;
    if (sm.stored) {
        const CandidateColumns* entries = pf.summaries.entries(sm);
        const WalkStep* steps = pf.summaries.steps(sm);
        // The list's first entries as the summary met them, until the best reaches the threshold.
        for (; p < list.moved_count() && w.best > sm.threshold; ++p) {
            if (p >= static_cast<int>(sm.step_count) || steps[p].id != list.moved(p)) break;
            if (steps[p].entry >= 0) walk_entry(in, entries[steps[p].entry], w);
        }
        if (w.best <= sm.threshold) {
            // Then the stored entries that can still come out below the best, in list order.
            int count = 0;
            for (std::uint32_t e = 0; e < sm.entry_count; ++e) {
                const int key = list.key(entries[e].id);
                if (key < p || entries[e].floor >= w.best) continue;
                pf.order[count++] = static_cast<std::uint64_t>(key) << 16 | e;
            }
            std::sort(pf.order.begin(), pf.order.begin() + count);
            for (int k = 0; k < count; ++k)
                walk_entry(in, entries[pf.order[k] & 0xFFFF], w);
            return w.decided();
        }
    }
    // The list differs from the summary's steps here: on the block's tables.
    ColumnScratch& s = pf.pass;
    prepare_column_block(in, s.block, x, y);
    CandidateColumns c;
    for (; p < list.moved_count(); ++p)
        meet_moved(in, s, list.moved(p), w, c);
    return walk_unmoved(in, s, list, w) && w.decided();
}

ParallelFit::ParallelFit(int workers)
    : refined((max_width / 8) * (max_height / 2)),
      chosen((max_width / 8) * (max_height / 2)),
      ties(new TieEntry[tie_room]) {
    const int count = std::clamp(workers, 1, 32);
    for (int w = 0; w < count; ++w)
        scratch.push_back(std::unique_ptr<ColumnScratch>(new ColumnScratch));
    free = count == 32 ? 0xFFFFFFFFu : (1u << count) - 1;
}

ColumnScratch& ParallelFit::claim() {
    for (;;) {
        std::uint32_t m = free.load();
        while (m != 0) {
            const std::uint32_t bit = m & (0u - m);
            if (free.compare_exchange_weak(m, m & ~bit)) {
                return *scratch[static_cast<std::size_t>(__builtin_ctz(bit))];
            }
        }
        // More tasks at once than workers were announced: wait for one to end.
        std::this_thread::yield();
    }
}

void ParallelFit::release(ColumnScratch& s) {
    for (std::size_t w = 0; w < scratch.size(); ++w) {
        if (scratch[w].get() == &s) free.fetch_or(1u << w);
    }
}

}  // namespace lumaweave
