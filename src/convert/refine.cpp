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

bool is_solid(std::uint8_t pattern) { return pattern == 0x00 || pattern == 0xFF; }

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

// The column-mode search of this pass: every admitted entry, no pre-check, and a patterned
// answer only while it stays below 16/15 of the best single-colour answer.
BlockChoice search_block_solid_or_textured(Conversion& conv, const FitContext& ctx, int channel,
                                           int x, int y) {
    const int entries = conv.pair_count * conv.pair_count;
    const PairPair* list = conv.pair_pairs[channel].data();
    BlockChoice textured{-1, {no_best_error, 0, 0}};
    BlockChoice solid{-1, {no_best_error, 0, 0}};
    for (int n = 0; n < entries; ++n) {
        const std::uint8_t u = list[n].upper, l = list[n].lower;
        if (conv.excluded[u * 256 + l]) continue;
        const Evaluation e = evaluate_columns(ctx, x, y, u, l, textured.eval.error, Pruning::refine);
        if (e.error > textured.eval.error) continue;  // abandoned after a column
        BlockChoice& best =
            (is_solid(e.upper_pattern) && is_solid(e.lower_pattern)) ? solid : textured;
        if (e.error < best.eval.error) best = {n, e};
    }
    if (solid.index >= 0) {
        const std::int64_t limit = solid.eval.error * 16 / 15;
        if (textured.eval.error >= limit) return solid;
    }
    return textured;
}

}  // namespace

void refine_blocks(Conversion& conv) {
    const ConversionSettings& s = conv.settings;
    const bool column = s.vertical_error_ratio == 8 && s.lumi_sort;
    if (!((s.block_noise && column) || s.mix)) return;

    std::memcpy(conv.pattern_snapshot.data(), conv.vram.data() + vram::bsave_header,
                conv.pattern_snapshot.size());
    decode_result(conv);
    const FitContext ctx(conv, column ? FitMode::column : cell_mode(s));

    for (int y = 0; y < conv.height; y += 2) {
        for (int x = 0; x < conv.width; x += 8) {
            if (!(column ? selected_by_test_a(conv, x, y) : selected_by_test_b(conv, x, y))) {
                continue;
            }
            const int channel = dominant_channel(conv, x, y);
            reset_row_bounds(conv);
            const BlockChoice c = column ? search_block_solid_or_textured(conv, ctx, channel, x, y)
                                         : search_block(conv, ctx, channel, x, y);
            finish_block(conv, channel, x, y, c.index, c.eval.upper_pattern,
                         c.eval.lower_pattern);
        }
    }
}

}  // namespace lumaweave
