// The block's tables: its pixels, the own-value costs of every pair and the row bounds, prepared
// once per block, and the cell modes' half cells, filled on first use.
#include "convert/block.hpp"

#include <algorithm>

#include "convert/block_cache.hpp"
#include "convert/fitting.hpp"
#include "convert/kernels.hpp"

namespace lumaweave {

namespace {

// Cell geometry of the two orders: starting on the upper row, starting on the lower row.
constexpr std::array<CellOrder, 2> vertical_orders{{{0, 1, 0, 1}, {0, 1, 0, 1}}};
constexpr std::array<CellOrder, 2> circular_orders{{{1, 0, 0, 1}, {0, 1, 1, 0}}};

// Cell modes: the two pixels of the starting row of each order for every pair at once. The
// second one's value depends only on the colour the first one took, so its distances are
// computed once per colour.
void prepare_cell_costs(const FitInput& in, BlockData& bd, int row) {
    const int n = bd.pair_count;
    const CellOrder& o = bd.cell_order[row];
    for (int k = 0; k < 4; ++k) {
        const int ca = 2 * k + o.own_first, cb = 2 * k + o.own_second;
        const BlockPixel& pa = bd.px[row][ca];
        const BlockPixel& pb = bd.px[row][cb];
        std::array<std::array<std::int32_t, 16>, 16> second;  // [colour the first took]
        const std::int32_t dst[3] = {pb.own.r, pb.own.g, pb.own.b};
        const std::int32_t src[3] = {pa.own.r, pa.own.g, pa.own.b};
        kernels::shared_distances(in.tables.working_r.data(), in.tables.working_g.data(),
                                  in.tables.working_b.data(), in.tables.square_weight.data(), dst,
                                  src, 8 - bd.ratio, pa.scale, bd.sp, in.tables.clamp_low,
                                  in.tables.clamp_high, second[0].data());
        kernels::cell_own(second[0].data(), bd.cost[row][ca].data(), bd.own_fg[row].data(), 7 - ca,
                          pb.weight, n == max_pairs ? 0 : 1, o.recv_first != o.own_first,
                          bd.cell_own_cost[row][k].data(), bd.cell_key[row][k].data(),
                          bd.cell_colours[row][k].data());
        bd.cell_receive_slot[row][k].fill(-1);
        bd.cell_rest_slot[row][k].fill(-1);
    }
}

}  // namespace

HalfCell& fill_half_cell(const FitInput& in, BlockData& bd, int row, int p, int k) {
    HalfCell& h = bd.half[row][p][k];
    bd.filled.half[row][p] |= static_cast<std::uint8_t>(1u << k);

    const CellOrder& o = bd.cell_order[row];
    const int f = bd.pair_fg[p], b = bd.pair_bg[p];
    const int ca = 2 * k + o.own_first, cb = 2 * k + o.own_second;
    const BlockPixel& pa = bd.px[row][ca];
    const BlockPixel& pb = bd.px[row][cb];
    const std::int32_t horizontal = 8 - bd.ratio, vertical = bd.ratio;

    const bool fg_a = (bd.own_fg[row][p] >> (7 - ca)) & 1;
    const Rgb ea = minus(pa.own, in.palette.working[fg_a ? f : b]);

    const Rgb vb = clamp_value(in, add_share(bd, pb.own, ea, horizontal, pa.scale));
    const std::int32_t df = palette_distance(in, vb, f), db = palette_distance(in, vb, b);
    const bool fg_b = df < db;
    const Rgb eb = minus(vb, in.palette.working[fg_b ? f : b]);

    h.own_cost = std::int64_t{bd.cost[row][ca][p]} + std::int64_t{fg_b ? df : db} * pb.weight;
    h.own_bits = static_cast<std::uint8_t>((fg_a ? 0x80 >> ca : 0) | (fg_b ? 0x80 >> cb : 0));

    const int cx = 2 * k + o.recv_first, cy = 2 * k + o.recv_second;
    const Rgb& ex = (cx == ca) ? ea : eb;
    const Rgb& ey = (cy == ca) ? ea : eb;
    const BlockPixel& above_x = bd.px[row][cx];
    const BlockPixel& above_y = bd.px[row][cy];
    h.first_value =
        clamp_value(in, add_share(bd, bd.px[1 - row][cx].own, ex, vertical, above_x.scale));
    fill_distances(in, h.first_value, h.first);
    h.second_base = add_share(bd, bd.px[1 - row][cy].own, ey, vertical, above_y.scale);
    h.second_valid = 0;
    return h;
}

const std::array<std::int32_t, 16>& fill_second_row(const FitInput& in, const BlockData& bd,
                                                    HalfCell& h, int row, int k, int c) {
    auto& d = h.second[c];
    fill_distances(in, second_value(in, bd, h, row, k, c), d);
    h.second_valid |= static_cast<std::uint16_t>(1u << c);
    return d;
}

int cell_rest_table(const FitInput& in, BlockData& bd, int row, int k, int p) {
    std::int16_t& slot = bd.cell_rest_slot[row][k][bd.cell_colours[row][k][p]];
    if (slot >= 0) return slot;
    // Every pair has one colours per row and cell: the capacity is never reached.
    slot = static_cast<std::int16_t>(bd.cell_rest_used++);
    const HalfCell& h = half_cell(in, bd, row, p, k);
    const CellOrder& co = bd.cell_order[row];
    const int cx = 2 * k + co.recv_first;
    const kernels::CellRest rest{in.tables.working_r.data(),
                                 in.tables.working_g.data(),
                                 in.tables.working_b.data(),
                                 in.tables.square_weight.data(),
                                 h.first.data(),
                                 {h.second_base.r, h.second_base.g, h.second_base.b},
                                 {h.first_value.r, h.first_value.g, h.first_value.b},
                                 8 - bd.ratio,
                                 bd.px[1 - row][cx].scale,
                                 bd.sp,
                                 in.tables.clamp_low,
                                 in.tables.clamp_high,
                                 bd.px[1 - row][cx].weight,
                                 bd.px[1 - row][2 * k + co.recv_second].weight,
                                 bd.pair_count == max_pairs ? 0 : 1};
    const auto at = static_cast<std::size_t>(slot);
    if (bd.lumi_sort) {
        kernels::cell_rest(rest, floor_cap, nullptr, bd.cell_rest_floor[at].data());
    } else {
        kernels::cell_rest(rest, floor_cap, bd.cell_rest[at].data(), nullptr);
    }
    return slot;
}

void prepare_block(const FitInput& in, BlockData& bd, FitMode mode, int x, int y, bool lower_rows) {
    const ConversionSettings& s = in.settings;
    bd.x = x;
    bd.y = y;
    bd.mode = mode;
    bd.sp = s.sp != 0;
    bd.optimization = s.optimization != 0;
    bd.lumi_sort = s.lumi_sort != 0;
    bd.mitigation = s.mitigation;
    bd.ratio = s.vertical_error_ratio;
    bd.pair_count = in.tables.pair_count;
    for (int p = 0; p < in.tables.pair_count; ++p) {
        bd.pair_fg[p] = in.tables.pairs[p] >> 4;
        bd.pair_bg[p] = in.tables.pairs[p] & 15;
    }
    for (int row = 0; row < 2; ++row) {
        for (int j = 0; j < 8; ++j) {
            const int slot = (y + row) * max_width + x + j;
            const Pixel& p = in.work[slot];
            bd.px[row][j] = {
                {p.r, p.g, p.b}, p.w, in.maps.error_scale[slot], in.distance[slot].data()};
        }
    }
    bd.cell_order = mode == FitMode::circular_cell ? circular_orders : vertical_orders;
    // Nothing of the previous block's tables is valid any more.
    bd.filled = {};
    bd.cell_rest_used = 0;

    const int rows = lower_rows ? 2 : 1;
    const int n = in.tables.pair_count;
    for (int row = 0; row < rows; ++row) {
        auto& fg = bd.own_fg[row];
        std::fill_n(fg.begin(), n, std::uint8_t{0});
        for (int j = 0; j < 8; ++j) {
            const BlockPixel& px = bd.px[row][j];
            kernels::pair_costs(px.distance, px.weight, n == max_pairs ? 0 : 1,
                                bd.cost[row][j].data(), bd.colour[row][j].data());
            const auto bit = static_cast<std::uint8_t>(0x80 >> j);
            for (int p = 0; p < n; ++p)
                fg[p] |= bd.colour[row][j][p] == bd.pair_fg[p] ? bit : 0;
        }
        auto& bound = bd.bound[row];
        if (mode == FitMode::column) {
            for (int p = 0; p < n; ++p)
                bound[7][p] = bd.cost[row][7][p];
            for (int j = 6; j >= 0; --j) {
                for (int p = 0; p < n; ++p)
                    bound[j][p] = bound[j + 1][p] + bd.cost[row][j][p];
            }
        } else {
            // The pixel each order of this row fits first in each cell.
            const int first = bd.cell_order[row].own_first;
            for (int p = 0; p < n; ++p)
                bound[3][p] = bd.cost[row][6 + first][p];
            for (int k = 2; k >= 0; --k) {
                for (int p = 0; p < n; ++p) {
                    bound[k][p] = bound[k + 1][p] + bd.cost[row][2 * k + first][p];
                }
            }
        }
        if (mode != FitMode::column) prepare_cell_costs(in, bd, row);
    }
}

}  // namespace lumaweave
