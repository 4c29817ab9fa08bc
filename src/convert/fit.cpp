// The block fitting pass: every 8x2 block gets the upper and lower colour pair, with patterns,
// of least error, searched over the dominant channel's candidate list.
//
// The search gives the same choice as walking the list entry by entry (fit_reference.cpp), but
// skips whole runs of entries that the pre-check bound refuses, and candidates whose lower bound
// (bounds.cpp) says they cannot win, and evaluates the rest on per-block tables (block.cpp,
// evaluate_fast.cpp).
#include <algorithm>
#include <array>
#include <atomic>
#include <thread>

#include "convert/column_search.hpp"
#include "convert/fitting.hpp"
#include "convert/kernels.hpp"
#include "formats/vram.hpp"

namespace lumaweave {

FitMode cell_mode(const ConversionSettings& s) {
    return s.dither_order == 0 ? FitMode::vertical_cell : FitMode::circular_cell;
}

FitMode main_pass_mode(const ConversionSettings& s) {
    if (s.mix || (s.vertical_error_ratio == 8 && s.lumi_sort)) return FitMode::column;
    return cell_mode(s);
}

bool refines_in_columns(const ConversionSettings& s) {
    return s.vertical_error_ratio == 8 && s.lumi_sort;
}

bool refinement_runs(const ConversionSettings& s) {
    return (s.block_noise && refines_in_columns(s)) || s.mix;
}

int dominant_channel(const WorkImage& work, int x, int y) {
    std::int32_t sum[3] = {0, 0, 0};
    for (int row = y; row < y + 2; ++row) {
        for (int j = 0; j < 8; ++j) {
            const Pixel& p = work[row * max_width + x + j];
            sum[0] += p.r;
            sum[1] += p.g;
            sum[2] += p.b;
        }
    }
    // Sums can only be negative with a shifted palette; red stays the list then.
    int channel = 0;
    std::int32_t running = -1;
    for (int c = 0; c < 3; ++c) {
        if (sum[c] > running) {
            running = sum[c];
            channel = c;
        }
    }
    return channel;
}

namespace {

// With exactly two colours in the block: one colour pair for both rows, the darker colour
// above the brighter one where the distances allow.
void order_two_colors(const FitInput& in, int x, int y, std::uint8_t& upper_pattern,
                      std::uint8_t& lower_pattern, std::uint8_t& upper_pair,
                      std::uint8_t& lower_pair) {
    auto shown = [](std::uint8_t pattern, std::uint8_t pair, int j) {
        return (pattern & (0x80 >> j)) ? pair >> 4 : pair & 15;
    };
    unsigned used = 0;
    for (int j = 0; j < 8; ++j) {
        used |= 1u << shown(upper_pattern, upper_pair, j);
        used |= 1u << shown(lower_pattern, lower_pair, j);
    }
    if (__builtin_popcount(used) != 2) return;
    const int a = __builtin_ctz(used);       // the lower colour number
    const int b = 31 - __builtin_clz(used);  // the higher one
    std::uint8_t pu = 0, pl = 0;
    for (int j = 0; j < 8; ++j) {
        if (shown(upper_pattern, upper_pair, j) == a) pu |= 0x80 >> j;
        if (shown(lower_pattern, lower_pair, j) == a) pl |= 0x80 >> j;
    }
    for (int j = 0; j < 8; ++j) {
        const std::uint8_t mask = 0x80 >> j;
        const int cu = (pu & mask) ? a : b;
        const int cl = (pl & mask) ? a : b;
        const auto& du = in.distance[y * max_width + x + j];
        const auto& dl = in.distance[(y + 1) * max_width + x + j];
        const std::int32_t d0 = du[cu], d1 = dl[cl], d2 = du[cl], d3 = dl[cu];
        if (2 * (d0 + d1) >= d2 + d3 && cu != cl &&
            in.palette.luminance[cu] > in.palette.luminance[cl]) {
            pu ^= mask;
            pl ^= mask;
        }
    }
    upper_pattern = pu;
    lower_pattern = pl;
    upper_pair = lower_pair = static_cast<std::uint8_t>(a * 16 + b);
}

}  // namespace

void write_block(const FitInput& in, VramImage vram, int x, int y, std::uint8_t upper_pattern,
                 std::uint8_t lower_pattern, std::uint8_t upper_pair, std::uint8_t lower_pair) {
    if (in.settings.lumi_sort) {
        order_two_colors(in, x, y, upper_pattern, lower_pattern, upper_pair, lower_pair);
    }
    vram[vram::pattern_offset(x, y)] = upper_pattern;
    vram[vram::pattern_offset(x, y + 1)] = lower_pattern;
    vram[vram::colour_offset(x, y)] = upper_pair;
    vram[vram::colour_offset(x, y + 1)] = lower_pair;
}

namespace {

// f(q) for every bit q set in bits (two words of 64), lowest first.
template <class F>
[[gnu::always_inline]] inline void for_each_bit(const std::uint64_t (&bits)[2], F f) {
    for (int w = 0; w < 2; ++w) {
        for (std::uint64_t m = bits[w]; m != 0; m &= m - 1)
            f(w * 64 + __builtin_ctzll(m));
    }
}

// The exact evaluation pixel by pixel, for the few candidates met while the best error is still
// at or above the rejection value (the fast evaluation assumes a real best error).
Evaluation evaluate_exactly(const FitInput& in, const BlockData& bd, int i, int l,
                            std::int64_t best) {
    const std::uint8_t u = in.tables.pairs[i], lo = in.tables.pairs[l];
    const RowBounds ub{&bd.bound[0][0][i], max_pairs}, lb{&bd.bound[1][0][l], max_pairs};
    const ExactContext ctx(in, bd.mode);
    return bd.mode == FitMode::column
               ? evaluate_columns(ctx, bd.x, bd.y, u, lo, ub, lb, best, Pruning::full)
               : evaluate_cells(ctx, bd.x, bd.y, u, lo, ub, lb, best);
}

}  // namespace

BlockChoice search_block(const FitInput& in, FitState& state, int channel) {
    const CandidateList& list = state.lists[channel];
    BlockData& bd = state.block;
    const bool column = bd.mode == FitMode::column;
    if (!column && !bd.lumi_sort) return search_least_error(in, state, list);

    const int n = in.tables.pair_count;
    BlockChoice choice{-1, no_best_error, 0, 0};
    // `single`: the candidate is met alone (a list entry that has won before), so a whole row
    // of bounds for it would not pay.
    auto visit = [&](int i, int l, bool floor_checked = false, bool single = false) {
        const std::uint8_t u = in.tables.pairs[i], lo = in.tables.pairs[l];
        if (in.tables.excluded[u * 256 + lo]) return;
        // The pre-check bound; in cell modes the lower row's only when strictly smaller, which
        // gives the same minimum.
        const std::int64_t upper_bound = bd.bound[0][0][i], lower_bound = bd.bound[1][0][l];
        const std::int64_t best = choice.error;
        if (std::min(upper_bound, lower_bound) > best) return;
        // A candidate whose error cannot fall below the best cannot win: skip its evaluation.
        if (best < rejection_error && !column) {
            // A row of floors takes the order that starts on the lower row at least; the
            // candidate's own floor takes it exactly.
            if (!floor_checked) {
                if (cell_row_floor(in, bd, i) >= best || cell_column_floor(in, bd, l) >= best)
                    return;
                if (bd.filled.floor[0][i] && bd.floor[0][i][l] >= best) return;
            }
            if (cell_floor(in, bd, i, l, best) >= best) return;
        } else if (best < rejection_error && !floor_checked) {
            if (bd.filled.floor[0][i]) {
                if (bd.floor[0][i][l] >= best) return;
            } else if (bd.filled.floor[1][l] || !single) {
                const std::int32_t floor = upper_bound <= best ? error_floor(in, bd, 0, i)[l]
                                                               : error_floor(in, bd, 1, l)[i];
                if (floor >= best) return;
            } else if (columns_cannot_win(in, bd, i, l, best)) {
                return;
            }
        }
        std::uint8_t pu = 0, pl = 0;
        std::int64_t e;
        ++state.evaluations;
        if (best >= rejection_error && best != no_best_error) {
            // Only a rejected candidate has been accepted so far: its rejection value takes
            // part in the bound checks, which the fast evaluation does not follow.
            const Evaluation ev = evaluate_exactly(in, bd, i, l, best);
            e = ev.error;
            pu = ev.upper_pattern;
            pl = ev.lower_pattern;
        } else {
            e = column ? evaluate_columns_fast(in, bd, i, l, best, pu, pl)
                       : evaluate_cells_fast(in, bd, i, l, best, pu, pl);
        }
        if (e < best) choice = {i * n + l, e, pu, pl};
    };

    // The entries that have won before, most recent first; then all others in their first order.
    for (int p = 0; p < list.moved_count(); ++p) {
        const int id = list.moved(p);
        visit(id / n, id % n, false, true);
    }
    if (choice.error >= rejection_error) {
        // No real error to compare with yet (every entry so far was rejected): entry by entry.
        for (int id = 0; id < n * n; ++id) {
            if (!list.is_moved(id)) visit(id / n, id % n);
        }
        return choice;
    }
    if (!column) {
        // The cell modes' floors are the same for a candidate by either of its pairs: one row per
        // upper pair covers every candidate. An upper pair whose own bound is above the best
        // error can only pass the pre-check with lower pairs whose bound is not.
        const std::int64_t start = choice.error;
        const std::int64_t lower_least =
            *std::min_element(bd.bound[1][0].begin(), bd.bound[1][0].begin() + n);
        for (int i = 0; i < n; ++i) {
            const bool upper_passes = bd.bound[0][0][i] <= start;
            if (!upper_passes && lower_least > start) continue;
            if (cell_row_floor(in, bd, i) >= choice.error) continue;
            const std::int32_t* floor = error_floor(in, bd, 0, i);
            std::uint64_t bits[2];
            kernels::below(floor, n, choice.error, bits);
            for_each_bit(bits, [&](int l) {
                if (floor[l] >= choice.error || list.is_moved(i * n + l)) return;
                if (!upper_passes && bd.bound[1][0][l] > start) return;
                visit(i, l, true);
            });
        }
        return choice;
    }
    // An upper pair whose own bound is above the best error can only pass the pre-check with
    // the lower pairs whose bound is not; those lower pairs' error floors pick its candidates.
    // The best error only falls, so what these sets hold now covers every later candidate.
    const std::int64_t start = choice.error;
    std::array<std::uint8_t, max_pairs> lower_count{};
    std::array<std::array<std::uint8_t, max_pairs>, max_pairs> lower_pairs;
    for (int l = 0; l < n; ++l) {
        if (bd.bound[1][0][l] > start) continue;
        std::uint64_t bits[2];
        kernels::below(error_floor(in, bd, 1, l), n, start, bits);
        for_each_bit(bits, [&](int i) {
            if (bd.bound[0][0][i] > start)
                lower_pairs[i][lower_count[i]++] = static_cast<std::uint8_t>(l);
        });
    }
    for (int i = 0; i < n; ++i) {
        if (bd.bound[0][0][i] <= start) {
            // The upper pair's own bound passed: its error floors pick the lower pairs.
            const std::int32_t* floor = error_floor(in, bd, 0, i);
            std::uint64_t bits[2];
            kernels::below(floor, n, choice.error, bits);
            for_each_bit(bits, [&](int l) {
                if (floor[l] < choice.error && !list.is_moved(i * n + l)) visit(i, l, true);
            });
            continue;
        }
        for (int c = 0; c < lower_count[i]; ++c) {
            const int l = lower_pairs[i][c];
            if (list.is_moved(i * n + l) || bd.floor[1][l][i] >= choice.error) continue;
            visit(i, l, true);
        }
    }
    return choice;
}

void fit_blocks(const FitInput& in, FitState& state, VramImage vram, Workers& workers) {
    const FitMode mode = main_pass_mode(in.settings);
    const bool lower_rows = mode == FitMode::column || in.settings.lumi_sort;
    const int n = in.tables.pair_count;
    for (CandidateList& list : state.lists)
        list.reset(n);
    state.evaluations = 0;
    const int across = in.work.width / 8, down = in.work.height / 2;
    auto search_here = [&](int x, int y, int channel) {
        prepare_block(in, state.block, mode, x, y, lower_rows);
        return search_block(in, state, channel);
    };
    auto finish = [&](int x, int y, int channel, int id, std::uint8_t upper, std::uint8_t lower) {
        state.lists[channel].move_to_front(id);
        if (state.parallel) {
            state.parallel->chosen[static_cast<std::size_t>((y / 2) * (max_width / 8) + x / 8)] =
                static_cast<std::uint16_t>(id);
        }
        write_block(in, vram, x, y, upper, lower, in.tables.pairs[id / n], in.tables.pairs[id % n]);
    };
    if (mode != FitMode::column) {
        for (int y = 0; y < in.work.height; y += 2) {
            for (int x = 0; x < in.work.width; x += 8) {
                const int channel = dominant_channel(in.work, x, y);
                const BlockChoice c = search_here(x, y, channel);
                finish(x, y, channel, c.id, c.upper_pattern, c.lower_pattern);
            }
        }
        return;
    }

    // Column mode: every block searched apart from the others, in runs of block rows that the
    // workers take as they come (each run starts from fresh guess lists, so that the work does not
    // depend on who runs what)...
    if (!state.parallel) state.parallel = std::make_shared<ParallelFit>(workers.count());
    ParallelFit& pf = *state.parallel;
    pf.summaries.clear();
    // One run alone walks the true lists throughout; with more workers, one run each: the first
    // walks the true lists (storing nothing) until a block does not decide, and every further run
    // stores what the pass needs, which costs work and memory. The first run is a little shorter:
    // its thread goes on to the pass, which then follows the other runs as they go.
    constexpr int max_runs = 32;
    const int runs = workers.count() == 1 ? 1 : std::min({workers.count(), down, max_runs});
    std::array<int, max_runs + 1> first_row{};
    for (int r = 1; r <= runs; ++r)
        first_row[static_cast<std::size_t>(r)] = down * (4 + 5 * (r - 1)) / (4 + 5 * (runs - 1));
    std::array<std::atomic<int>, max_runs> rows_done;  // block rows each run has summarized
    for (std::atomic<int>& d : rows_done)
        d.store(0, std::memory_order_relaxed);
    std::atomic<int> next_run{0};
    std::atomic<bool> pass_taken{false}, failed{false};
    std::atomic<std::uint64_t> work{0};
    auto summarize_run = [&](int r) {
        ColumnScratch& s = pf.claim();
        for (CandidateList& guess : s.guess)
            guess.reset(n);
        // The first run's lists are the pass's own until a block does not decide.
        s.exact.fill(r == 0);
        s.work = 0;
        const int first = first_row[static_cast<std::size_t>(r)];
        for (int by = first; by < first_row[static_cast<std::size_t>(r) + 1]; ++by) {
            for (int bx = 0; bx < across; ++bx) {
                const int x = 8 * bx, y = 2 * by;
                summarize_column_block(in, s, x, y, dominant_channel(in.work, x, y),
                                       pf.summaries.block(by * across + bx), pf.summaries);
            }
            rows_done[static_cast<std::size_t>(r)].store(by - first + 1, std::memory_order_release);
        }
        work += s.work;
        pf.release(s);
    };
    // ...then the pass in block order walks each block's list as it stands, from the summary.
    pf.pass.work = 0;
    auto pass_row = [&](int by) {
        for (int bx = 0; bx < across; ++bx) {
            const int x = 8 * bx, y = 2 * by;
            const BlockSummary& sm = pf.summaries.block(by * across + bx);
            const int channel = sm.channel;
            if (sm.exact) {
                finish(x, y, channel, sm.id, sm.upper, sm.lower);
                continue;
            }
            WalkState w;
            if (!sm.unsupported && walk_column_block(in, pf, sm, x, y, state.lists[channel], w)) {
                finish(x, y, channel, w.id, w.upper, w.lower);
                continue;
            }
            const BlockChoice b = search_here(x, y, channel);
            finish(x, y, channel, b.id, b.upper_pattern, b.lower_pattern);
        }
    };
    workers.for_each(runs, [&](int) {
        // Runs are taken in order by whoever comes; the first thread left without one does the
        // pass. Every run it waits for is being summarized by a thread that does not wait.
        for (int r; (r = next_run.fetch_add(1)) < runs;) {
            try {
                summarize_run(r);
            } catch (...) {
                failed = true;
                rows_done[static_cast<std::size_t>(r)].store(down, std::memory_order_release);
                throw;
            }
        }
        if (pass_taken.exchange(true)) return;
        for (int by = 0, r = 0; by < down && !failed; ++by) {
            while (by >= first_row[static_cast<std::size_t>(r) + 1])
                ++r;
            const int row = by - first_row[static_cast<std::size_t>(r)];
            while (rows_done[static_cast<std::size_t>(r)].load(std::memory_order_acquire) <= row)
                std::this_thread::yield();
            pass_row(by);
        }
    });
    state.evaluations += work.load() + pf.pass.work;
}

}  // namespace lumaweave
