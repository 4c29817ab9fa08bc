// The block-noise refinement: decode the fitted result, pick the blocks where it departs from
// the source, and fit those again with a search that differs from the main pass.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "convert/column_search.hpp"
#include "convert/fitting.hpp"
#include "convert/stages.hpp"
#include "formats/vram.hpp"

namespace lumaweave {

namespace {

constexpr std::int32_t edge_channel_weight[3] = {2, 4, 3};

}  // namespace

void start_refinement(const FitInput& in, RefineScratch& scratch, VramImage vram,
                      Workers& workers) {
    std::memcpy(scratch.pattern_snapshot.data(), vram.data() + vram::bsave_header,
                scratch.pattern_snapshot.size());
    // Each row apart: its decoded colours, then its weights, measured along the row only.
    for_row_bands(workers, in.work.height, [&](int first, int end) {
        for (int y = first; y < end; ++y) {
            Pixel* row = &scratch.result[y * max_width];
            for (int x0 = 0; x0 < in.work.width; x0 += 8) {
                const std::uint8_t pattern = vram[vram::pattern_offset(x0, y)];
                const std::uint8_t pair = vram[vram::colour_offset(x0, y)];
                for (int n = 0; n < 8; ++n) {
                    const int k = (pattern & (0x80 >> n)) ? pair >> 4 : pair & 15;
                    const Rgb& c = in.palette.working[k];
                    row[x0 + n] = {c.r, c.g, c.b, 0};
                }
            }
            // Weight = 319 - edge strength.
            for (int x = 0; x < in.work.width; ++x) {
                const Pixel& p = row[x];
                const Pixel& left = row[std::max(x - 1, 0)];
                const Pixel& right = row[std::min(x + 1, in.work.width - 1)];
                const std::int32_t v[3] = {p.r, p.g, p.b};
                const std::int32_t l[3] = {left.r, left.g, left.b};
                const std::int32_t r[3] = {right.r, right.g, right.b};
                std::int32_t sum = 0;
                for (int c = 0; c < 3; ++c) {
                    const std::int32_t dl = v[c] - l[c], dr = v[c] - r[c];
                    sum += edge_log((dl * dl + dr * dr) * edge_channel_weight[c] / 2 + 1);
                }
                row[x].w = 319 - std::min(sum / 3, 255);
            }
        }
    });
}

namespace {

// Test A: a block of two single-colour rows where the result's edges depart from the source's.
bool selected_by_test_a(const FitInput& in, const RefineScratch& scratch, int x, int y) {
    if (!is_solid(scratch.pattern_snapshot[vram::pattern_address(x, y)]) ||
        !is_solid(scratch.pattern_snapshot[vram::pattern_address(x, y + 1)])) {
        return false;
    }
    for (int row = y; row < y + 2; ++row) {
        for (int j = 0; j < 8; ++j) {
            const int slot = row * max_width + x + j;
            if (std::abs(scratch.result[slot].w - in.work[slot].w) > 150) return true;
        }
    }
    return false;
}

// Test B: three or more columns whose colour drifted while their edges did not.
bool selected_by_test_b(const FitInput& in, const RefineScratch& scratch, int x, int y) {
    int count = 0;
    for (int j = 0; j < 8; ++j) {
        const int upper = y * max_width + x + j, lower = upper + max_width;
        if (std::abs(scratch.result[upper].w - in.work[upper].w) > 64 ||
            std::abs(scratch.result[lower].w - in.work[lower].w) > 64) {
            continue;
        }
        const Pixel &su = in.work[upper], &sl = in.work[lower];
        const Pixel &ru = scratch.result[upper], &rl = scratch.result[lower];
        const std::int32_t dr = (su.r - ru.r) + (sl.r - rl.r);
        const std::int32_t dg = (su.g - ru.g) + (sl.g - rl.g);
        const std::int32_t db = (su.b - ru.b) + (sl.b - rl.b);
        if (std::abs(dr) > 64 || std::abs(dg) > 64 || std::abs(db) > 64) ++count;
    }
    return count >= 3;
}

// The column-mode search of this pass. Walked entry by entry it keeps the first least
// textured error and, among the solid entries met while their error was not above the best
// textured one, the first least; an entry's error here does not depend on what was met
// before. So the outcome is fixed by the least textured entry T and the least solid entry S
// (the first in the list among equals): S when it exists, is not above T and T is not below
// 16/15 of it, else T. (A solid entry above T can only be chosen if T is at least 16/15 of it,
// which it is not.) The entries can therefore be met in any order, and an entry is skipped
// once its error cannot reach either answer.
BlockChoice search_solid_or_textured(const FitInput& in, FitState& state, int channel) {
    const CandidateList& list = state.lists[channel];
    BlockData& bd = state.block;
    const int n = in.tables.pair_count;
    BlockChoice textured{-1, no_best_error, 0, 0};
    BlockChoice solid{-1, no_best_error, 0, 0};
    auto better = [&](const BlockChoice& best, std::int64_t e, int id) {
        return e < best.error || (e == best.error && list.before(id, best.id));
    };
    // Largest error that can still matter: a textured entry only below 16/15 of the best
    // solid one (and not above the best textured), a solid one not above either best.
    std::int64_t reach = no_best_error;
    auto update_reach = [&] {
        reach = textured.error;
        if (solid.id >= 0) {
            reach =
                std::max(std::min(reach, solid.error * 16 / 15 - 1), std::min(solid.error, reach));
        }
    };
    auto evaluate = [&](int i, int l) {
        const int id = i * n + l;
        if (in.tables.excluded[in.tables.pairs[i] * 256 + in.tables.pairs[l]]) return;
        ++state.evaluations;
        std::uint8_t pu = 0, pl = 0;
        const std::int64_t limit = reach < no_best_error ? reach + 1 : reach;
        const std::int64_t e = evaluate_columns_unpruned(in, bd, i, l, limit, pu, pl);
        if (e == dead_error) return;
        BlockChoice& slot = is_solid_pair(pu, pl) ? solid : textured;
        if (better(slot, e, id)) {
            slot = {id, e, pu, pl};
            update_reach();
        }
    };
    // The entries that won before first, as they give a small reach early; then the rest.
    for (int p = 0; p < list.moved_count(); ++p) {
        const int id = list.moved(p);
        const int i = id / n, l = id % n;
        if (reach < rejection_error && error_floor(in, bd, 0, i)[l] > reach) continue;
        evaluate(i, l);
    }
    for (int i = 0; i < n; ++i) {
        // A whole upper pair can be out of reach before its bounds pair by pair are needed.
        if (reach < rejection_error && row_floor(in, bd, 0, i) > reach) continue;
        const std::int32_t* floor = reach < rejection_error ? error_floor(in, bd, 0, i) : nullptr;
        for (int l = 0; l < n; ++l) {
            if (floor != nullptr && floor[l] > reach) continue;
            if (list.is_moved(i * n + l)) continue;
            evaluate(i, l);
            if (floor == nullptr && reach < rejection_error) floor = error_floor(in, bd, 0, i);
        }
    }
    if (solid.id >= 0 && solid.error <= textured.error) {
        return solid_or_textured(solid, solid.error, true, textured, textured.error);
    }
    return textured;
}

}  // namespace

bool refinement_selects(const FitInput& in, const RefineScratch& scratch, int x, int y) {
    return refines_in_columns(in.settings) ? selected_by_test_a(in, scratch, x, y)
                                           : selected_by_test_b(in, scratch, x, y);
}

void refine_blocks(const FitInput& in, FitState& state, RefineScratch& scratch, VramImage vram,
                   Workers& workers) {
    const ConversionSettings& s = in.settings;
    if (!refinement_runs(s)) return;
    const bool column = refines_in_columns(s);
    const FitMode mode = column ? FitMode::column : cell_mode(s);
    const bool lower_rows = column || s.lumi_sort;
    const int n = in.tables.pair_count;
    start_refinement(in, scratch, vram, workers);
    auto finish = [&](int x, int y, int channel, int id, std::uint8_t upper, std::uint8_t lower) {
        state.lists[channel].move_to_front(id);
        write_block(in, vram, x, y, upper, lower, in.tables.pairs[id / n], in.tables.pairs[id % n]);
    };
    auto search_here = [&](int x, int y, int channel) {
        prepare_block(in, state.block, mode, x, y, lower_rows);
        const BlockChoice c = column ? search_solid_or_textured(in, state, channel)
                                     : search_block(in, state, channel);
        finish(x, y, channel, c.id, c.upper_pattern, c.lower_pattern);
    };
    if (!column) {
        for (int y = 0; y < in.work.height; y += 2) {
            for (int x = 0; x < in.work.width; x += 8) {
                if (refinement_selects(in, scratch, x, y))
                    search_here(x, y, dominant_channel(in.work, x, y));
            }
        }
        return;
    }
    // Column mode: the blocks selected searched at once for the entries they may take...
    if (!state.parallel) state.parallel = std::make_shared<ParallelFit>(workers.count());
    ParallelFit& pf = *state.parallel;
    pf.ties_used = 0;
    const int across = in.work.width / 8, down = in.work.height / 2;
    const int runs = workers.count() == 1 ? 1 : std::min(2 * workers.count(), down);
    std::atomic<std::uint64_t> work{0};
    workers.for_each(runs, [&](int r) {
        ColumnScratch& cs = pf.claim();
        cs.work = 0;
        for (int by = r * down / runs; by < (r + 1) * down / runs; ++by) {
            for (int bx = 0; bx < across; ++bx) {
                const int x = 8 * bx, y = 2 * by;
                RefineSummary& sm = pf.refined[static_cast<std::size_t>(by * across + bx)];
                sm = {};
                if (!refinement_selects(in, scratch, x, y)) continue;
                const int channel = dominant_channel(in.work, x, y);
                summarize_refined_block(
                    in, cs, x, y, channel,
                    pf.chosen[static_cast<std::size_t>((y / 2) * (max_width / 8) + x / 8)],
                    state.lists[channel], sm, pf);
            }
        }
        work += cs.work;
        pf.release(cs);
    });
    state.evaluations += work.load();
    // ...then taken in block order, the first of each block's set in the list as it stands.
    for (int by = 0; by < down; ++by) {
        for (int bx = 0; bx < across; ++bx) {
            const RefineSummary& sm = pf.refined[static_cast<std::size_t>(by * across + bx)];
            if (!sm.selected) continue;
            if (!sm.stored) {
                search_here(8 * bx, 2 * by, sm.channel);
                continue;
            }
            const TieEntry e = first_in_list(pf, sm, state.lists[sm.channel]);
            finish(8 * bx, 2 * by, sm.channel, e.id, e.upper, e.lower);
        }
    }
}

}  // namespace lumaweave
