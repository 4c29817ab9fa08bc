// The block-noise refinement: decode the fitted result, pick the blocks where it departs from
// the source, and fit those again with a search that differs from the main pass.
#include <cstdlib>
#include <cstring>

#include "convert/convert.hpp"
#include "convert/fitting.hpp"
#include "formats/vram.hpp"

namespace lumaweave {

namespace {

constexpr std::int32_t edge_channel_weight[3] = {2, 4, 3};

void decode_result(Conversion& conv) {
    for (int y = 0; y < conv.height; ++y) {
        for (int x0 = 0; x0 < conv.width; x0 += 8) {
            const std::uint8_t pattern = conv.vram[vram::pattern_offset(x0, y)];
            const std::uint8_t pair = conv.vram[vram::colour_offset(x0, y)];
            for (int n = 0; n < 8; ++n) {
                const int k = (pattern & (0x80 >> n)) ? pair >> 4 : pair & 15;
                const Rgb& c = conv.working[k];
                conv.result[y * max_width + x0 + n] = {c.r, c.g, c.b, 0};
            }
        }
    }
    // Weight = 319 - edge strength, measured along the row only.
    for (int y = 0; y < conv.height; ++y) {
        for (int x = 0; x < conv.width; ++x) {
            const Pixel& p = conv.result[y * max_width + x];
            const Pixel& left = conv.result[y * max_width + std::max(x - 1, 0)];
            const Pixel& right = conv.result[y * max_width + std::min(x + 1, conv.width - 1)];
            const std::int32_t v[3] = {p.r, p.g, p.b};
            const std::int32_t l[3] = {left.r, left.g, left.b};
            const std::int32_t r[3] = {right.r, right.g, right.b};
            std::int32_t sum = 0;
            for (int c = 0; c < 3; ++c) {
                const std::int32_t dl = v[c] - l[c], dr = v[c] - r[c];
                sum += edge_log((dl * dl + dr * dr) * edge_channel_weight[c] / 2 + 1);
            }
            conv.result[y * max_width + x].w = 319 - std::min(sum / 3, 255);
        }
    }
}

bool is_solid(std::uint8_t pattern) {
    return pattern == 0x00 || pattern == 0xFF;
}

// Test A: a block of two single-colour rows where the result's edges depart from the source's.
bool selected_by_test_a(const Conversion& conv, int x, int y) {
    if (!is_solid(conv.pattern_snapshot[vram::pattern_address(x, y)]) ||
        !is_solid(conv.pattern_snapshot[vram::pattern_address(x, y + 1)])) {
        return false;
    }
    for (int row = y; row < y + 2; ++row) {
        for (int j = 0; j < 8; ++j) {
            const int slot = row * max_width + x + j;
            if (std::abs(conv.result[slot].w - conv.work[slot].w) > 150) return true;
        }
    }
    return false;
}

// Test B: three or more columns whose colour drifted while their edges did not.
bool selected_by_test_b(const Conversion& conv, int x, int y) {
    int count = 0;
    for (int j = 0; j < 8; ++j) {
        const int upper = y * max_width + x + j, lower = upper + max_width;
        if (std::abs(conv.result[upper].w - conv.work[upper].w) > 64 ||
            std::abs(conv.result[lower].w - conv.work[lower].w) > 64) {
            continue;
        }
        const Pixel &su = conv.work[upper], &sl = conv.work[lower];
        const Pixel &ru = conv.result[upper], &rl = conv.result[lower];
        const std::int32_t dr = (su.r - ru.r) + (sl.r - rl.r);
        const std::int32_t dg = (su.g - ru.g) + (sl.g - rl.g);
        const std::int32_t db = (su.b - ru.b) + (sl.b - rl.b);
        if (std::abs(dr) > 64 || std::abs(dg) > 64 || std::abs(db) > 64) ++count;
    }
    return count >= 3;
}

bool is_solid_pair(std::uint8_t upper, std::uint8_t lower) {
    return is_solid(upper) && is_solid(lower);
}

// A patterned answer only while it stays below 16/15 of the best single-colour answer.
template <typename Choice>
const Choice& solid_or_textured(const Choice& solid, std::int64_t solid_error, bool solid_found,
                                const Choice& textured, std::int64_t textured_error) {
    if (solid_found) {
        const std::int64_t limit = solid_error * 16 / 15;  // only once a solid entry exists
        if (textured_error >= limit) return solid;
    }
    return textured;
}

// The column-mode search of this pass. Walked entry by entry it keeps the first least
// textured error and, among the solid entries met while their error was not above the best
// textured one, the first least; an entry's error here does not depend on what was met
// before. So the outcome is fixed by the least textured entry T and the least solid entry S
// (the first in the list among equals): S when it exists, is not above T and T is not below
// 16/15 of it, else T. (A solid entry above T can only be chosen if T is at least 16/15 of it,
// which it is not.) The entries can therefore be met in any order, and an entry is skipped
// once its error cannot reach either answer.
BlockChoice search_solid_or_textured(Conversion& conv, BlockData& bd, int channel) {
    const CandidateList& list = conv.candidate_lists[channel];
    const int n = conv.pair_count;
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
        if (conv.excluded[conv.pairs[i] * 256 + conv.pairs[l]]) return;
        ++conv.evaluations;
        std::uint8_t pu = 0, pl = 0;
        const std::int64_t limit = reach < no_best_error ? reach + 1 : reach;
        const std::int64_t e = evaluate_columns_unpruned(conv, bd, i, l, limit, pu, pl);
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
        if (reach < rejection_error && error_floor(conv, bd, 0, i)[l] > reach) continue;
        evaluate(i, l);
    }
    for (int i = 0; i < n; ++i) {
        // A whole upper pair can be out of reach before its bounds pair by pair are needed.
        if (reach < rejection_error && row_floor(conv, bd, 0, i) > reach) continue;
        const std::int32_t* floor = reach < rejection_error ? error_floor(conv, bd, 0, i) : nullptr;
        for (int l = 0; l < n; ++l) {
            if (floor != nullptr && floor[l] > reach) continue;
            if (list.is_moved(i * n + l)) continue;
            evaluate(i, l);
            if (floor == nullptr && reach < rejection_error) floor = error_floor(conv, bd, 0, i);
        }
    }
    if (solid.id >= 0 && solid.error <= textured.error) {
        return solid_or_textured(solid, solid.error, true, textured, textured.error);
    }
    return textured;
}

ReferenceChoice search_solid_or_textured_reference(Conversion& conv, const FitContext& ctx,
                                                   int channel, int x, int y) {
    const int entries = conv.pair_count * conv.pair_count;
    const PairPair* list = conv.pair_pairs[channel].data();
    ReferenceChoice textured{-1, {no_best_error, 0, 0}};
    ReferenceChoice solid{-1, {no_best_error, 0, 0}};
    for (int n = 0; n < entries; ++n) {
        const std::uint8_t u = list[n].upper, l = list[n].lower;
        if (conv.excluded[u * 256 + l]) continue;
        ++conv.evaluations;
        const Evaluation e =
            evaluate_columns(ctx, x, y, u, l, textured.eval.error, Pruning::refine);
        if (e.error > textured.eval.error) continue;  // abandoned after a column
        ReferenceChoice& best = is_solid_pair(e.upper_pattern, e.lower_pattern) ? solid : textured;
        if (e.error < best.eval.error) best = {n, e};
    }
    return solid_or_textured(solid, solid.eval.error, solid.index >= 0, textured,
                             textured.eval.error);
}

// Snapshot, ResultImage and its weights; then every block that its test selects.
template <typename RefitBlock>
void refine_selected(Conversion& conv, bool column, RefitBlock refit) {
    std::memcpy(conv.pattern_snapshot.data(), conv.vram.data() + vram::bsave_header,
                conv.pattern_snapshot.size());
    decode_result(conv);
    for (int y = 0; y < conv.height; y += 2) {
        for (int x = 0; x < conv.width; x += 8) {
            if (column ? selected_by_test_a(conv, x, y) : selected_by_test_b(conv, x, y)) {
                refit(x, y, dominant_channel(conv, x, y));
            }
        }
    }
}

}  // namespace

void refine_blocks_reference(Conversion& conv) {
    const ConversionSettings& s = conv.settings;
    const bool column = s.vertical_error_ratio == 8 && s.lumi_sort;
    const FitContext ctx(conv, column ? FitMode::column : cell_mode(s));
    refine_selected(conv, column, [&](int x, int y, int channel) {
        reset_row_bounds(conv);
        const ReferenceChoice c = column
                                      ? search_solid_or_textured_reference(conv, ctx, channel, x, y)
                                      : search_block_reference(conv, ctx, channel, x, y);
        finish_block_reference(conv, channel, x, y, c.index, c.eval.upper_pattern,
                               c.eval.lower_pattern);
    });
}

void refine_blocks(Conversion& conv) {
    const ConversionSettings& s = conv.settings;
    // Column mode here follows ratio 8 with lumi_sort alone; mix does not put it in force.
    const bool column = s.vertical_error_ratio == 8 && s.lumi_sort;
    if (!((s.block_noise && column) || s.mix)) return;
    if (conv.reference_fitting) {
        refine_blocks_reference(conv);
        return;
    }
    const FitMode mode = column ? FitMode::column : cell_mode(s);
    const bool lower_rows = column || s.lumi_sort;
    const int n = conv.pair_count;
    refine_selected(conv, column, [&](int x, int y, int channel) {
        BlockData& bd = conv.block;
        prepare_block(conv, bd, mode, x, y, lower_rows);
        const BlockChoice c =
            column ? search_solid_or_textured(conv, bd, channel) : search_block(conv, bd, channel);
        conv.candidate_lists[channel].move_to_front(c.id);
        write_block(conv, x, y, c.upper_pattern, c.lower_pattern, conv.pairs[c.id / n],
                    conv.pairs[c.id % n]);
    });
}

}  // namespace lumaweave
