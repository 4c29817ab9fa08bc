#include "convert/block.hpp"

#include <algorithm>

#include "convert/fitting.hpp"
#include "convert/kernels.hpp"

namespace lumaweave {

namespace {

// Cell geometry of the two orders: starting on the upper row, starting on the lower row.
constexpr std::array<CellOrder, 2> vertical_orders{{{0, 1, 0, 1}, {0, 1, 0, 1}}};
constexpr std::array<CellOrder, 2> circular_orders{{{1, 0, 0, 1}, {0, 1, 1, 0}}};

Rgb clamp_value(const FitInput& in, Rgb v) {
    return {std::clamp(v.r, in.tables.clamp_low, in.tables.clamp_high),
            std::clamp(v.g, in.tables.clamp_low, in.tables.clamp_high),
            std::clamp(v.b, in.tables.clamp_low, in.tables.clamp_high)};
}

Rgb add_share(const BlockData& bd, Rgb v, const Rgb& e, std::int32_t share, std::int32_t scale) {
    v.r += contribution(e.r, share, bd.sp, scale);
    v.g += contribution(e.g, share, bd.sp, scale);
    v.b += contribution(e.b, share, bd.sp, scale);
    return v;
}

Rgb minus(const Rgb& v, const Rgb& c) {
    return {v.r - c.r, v.g - c.g, v.b - c.b};
}

void fill_distances(const FitInput& in, const Rgb& v, std::array<std::int32_t, 16>& d) {
    kernels::distances(in.tables.working_r.data(), in.tables.working_g.data(), in.tables.working_b.data(),
                       in.tables.square_weight.data(), v.r, v.g, v.b, d.data());
}

[[gnu::always_inline]] inline const std::array<std::int32_t, 16>& receive_row(
    const FitInput& in, BlockData& bd, int row, int j, int c) {
    auto& d = bd.receive[row][j][c];
    if (!(bd.receive_valid[row][j] & (1u << c))) {
        const BlockPixel& src = bd.px[row][j];
        const BlockPixel& dst = bd.px[1 - row][j];
        const Rgb v = clamp_value(
            in, add_share(bd, dst.own, minus(src.own, in.palette.working[c]), 8, src.scale));
        fill_distances(in, v, d);
        bd.receive_valid[row][j] |= static_cast<std::uint16_t>(1u << c);
    }
    return d;
}

// All 16 receive rows of (row, j) at once, with the least distance of each.
void receive_all(const FitInput& in, BlockData& bd, int row, int j) {
    if (bd.receive_valid[row][j] == 0xFFFF) return;
    const BlockPixel& src = bd.px[row][j];
    const BlockPixel& dst = bd.px[1 - row][j];
    const std::int32_t s[3] = {src.own.r, src.own.g, src.own.b};
    const std::int32_t t[3] = {dst.own.r, dst.own.g, dst.own.b};
    kernels::received_distances(in.tables.working_r.data(), in.tables.working_g.data(), in.tables.working_b.data(),
                                in.tables.square_weight.data(), t, s, src.scale, bd.sp, in.tables.clamp_low,
                                in.tables.clamp_high, bd.receive[row][j][0].data(),
                                bd.receive_least[row][j].data());
    bd.receive_valid[row][j] = 0xFFFF;
}

// Fits the starting row's two pixels of cell k with pair p and prepares the other row's.
HalfCell& half_cell(const FitInput& in, BlockData& bd, int row, int p, int k) {
    HalfCell& h = bd.half[row][p][k];
    if (bd.half_ready[row][p] & (1u << k)) return h;
    bd.half_ready[row][p] |= static_cast<std::uint8_t>(1u << k);

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

const std::array<std::int32_t, 16>& second_row(const FitInput& in, BlockData& bd, HalfCell& h,
                                               int row, int k, int c) {
    auto& d = h.second[c];
    if (!(h.second_valid & (1u << c))) {
        const int cx = 2 * k + bd.cell_order[row].recv_first;
        const Rgb v =
            clamp_value(in, add_share(bd, h.second_base, minus(h.first_value, in.palette.working[c]),
                                        8 - bd.ratio, bd.px[1 - row][cx].scale));
        fill_distances(in, v, d);
        h.second_valid |= static_cast<std::uint16_t>(1u << c);
    }
    return d;
}

struct Order {
    std::int64_t error;
    std::uint8_t upper, lower;
};

constexpr std::int32_t floor_cap = 1 << 27;

// weight * the smaller distance of each pair's two colours, for every pair in list order
// (pairs run (a, b), a < b, ascending; colour 0 only with color_no0).
void fill_pair_costs(const BlockData& bd, const std::array<std::int32_t, 16>& d,
                     std::int32_t weight, std::int32_t* out) {
    kernels::pair_costs(d.data(), weight, bd.pair_count == max_pairs ? 0 : 1, out, nullptr);
}

const std::int32_t* pair_costs(const FitInput& in, BlockData& bd, int row, int j, int c) {
    std::int32_t* out = bd.pair_cost[row][j][c].data();
    if (!(bd.pair_cost_valid[row][j] & (1u << c))) {
        // Rows of pair costs are asked for colour after colour: their distances come at once.
        receive_all(in, bd, row, j);
        fill_pair_costs(bd, bd.receive[row][j][c], bd.px[1 - row][j].weight, out);
        bd.pair_cost_valid[row][j] |= static_cast<std::uint16_t>(1u << c);
    }
    return out;
}

const std::array<std::int32_t, max_pairs>& unbounded_terms() {
    static const std::array<std::int32_t, max_pairs> cap = [] {
        std::array<std::int32_t, max_pairs> a;
        a.fill(floor_cap);
        return a;
    }();
    return cap;
}

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
        for (int c = 0; c < 16; ++c) {
            const Rgb v = clamp_value(in, add_share(bd, pb.own, minus(pa.own, in.palette.working[c]),
                                                      8 - bd.ratio, pa.scale));
            fill_distances(in, v, second[c]);
        }
        const bool keyed_by_both = o.recv_first != o.own_first;
        for (int p = 0; p < n; ++p) {
            const int f = bd.pair_fg[p], b = bd.pair_bg[p];
            const int taken_a = ((bd.own_fg[row][p] >> (7 - ca)) & 1) ? f : b;
            const auto& d = second[taken_a];
            const int taken_b = d[f] < d[b] ? f : b;
            bd.cell_own_cost[row][k][p] = bd.cost[row][ca][p] + d[taken_b] * pb.weight;
            bd.cell_key[row][k][p] =
                static_cast<std::uint8_t>(keyed_by_both ? taken_a * 16 + taken_b : taken_a);
        }
        bd.cell_receive_slot[row][k].fill(-1);
    }
}

// Cell modes: the cost of the other row's first receiving pixel in cell k, for every pair of
// its row, after the starting row fitted pair p.
const std::int32_t* cell_receive_costs(const FitInput& in, BlockData& bd, int row, int k,
                                       int p) {
    const int key = bd.cell_key[row][k][p];
    std::int16_t& slot = bd.cell_receive_slot[row][k][key];
    if (slot >= 0) return bd.cell_receive[slot].data();
    if (bd.cell_receive_used == BlockData::cell_receive_capacity) return unbounded_terms().data();
    slot = static_cast<std::int16_t>(bd.cell_receive_used++);
    const CellOrder& o = bd.cell_order[row];
    const int ca = 2 * k + o.own_first, cb = 2 * k + o.own_second;
    const int cx = 2 * k + o.recv_first;
    const BlockPixel& pa = bd.px[row][ca];
    const bool keyed_by_both = o.recv_first != o.own_first;
    const int taken_a = keyed_by_both ? key / 16 : key;
    Rgb e = minus(pa.own, in.palette.working[taken_a]);
    if (cx == cb) {
        const Rgb vb =
            clamp_value(in, add_share(bd, bd.px[row][cb].own, e, 8 - bd.ratio, pa.scale));
        e = minus(vb, in.palette.working[key % 16]);
    }
    const Rgb v =
        clamp_value(in, add_share(bd, bd.px[1 - row][cx].own, e, bd.ratio, bd.px[row][cx].scale));
    std::array<std::int32_t, 16> d;
    fill_distances(in, v, d);
    fill_pair_costs(bd, d, bd.px[1 - row][cx].weight, bd.cell_receive[slot].data());
    return bd.cell_receive[slot].data();
}

// Column mode: fills the other_order rows of `side` on first use.
void prepare_other_order(const FitInput& in, BlockData& bd, int side) {
    if (bd.other_order_ready[side]) return;
    bd.other_order_ready[side] = 1;
    const int other = 1 - side;
    for (int j = 0; j < 8; ++j) {
        receive_all(in, bd, other, j);
        std::array<std::int32_t, 16> nearest;
        for (int c = 0; c < 16; ++c) {
            nearest[c] = bd.receive_least[other][j][c] * bd.px[side][j].weight;
        }
        auto& out = bd.other_order[side][j];
        for (int q = 0; q < bd.pair_count; ++q) {
            out[q] = bd.cost[other][j][q] + nearest[bd.colour[other][j][q]];
        }
    }
}

}  // namespace

std::int64_t row_floor(const FitInput& in, BlockData& bd, int row, int p) {
    if (!bd.row_floor_ready[row]) {
        bd.row_floor_ready[row] = 1;
        const int other = 1 - row;
        for (int j = 0; j < 8; ++j) {
            auto& here = bd.cheapest_here[row][j];
            here.fill(INT32_MAX);
            for (int c = 0; c < 16; ++c) {
                const auto& sent = receive_row(in, bd, row, j, c);
                bd.nearest_received[row][j][c] =
                    *std::min_element(sent.begin(), sent.end()) * bd.px[other][j].weight;
                const auto& got = receive_row(in, bd, other, j, c);
                for (int k = 0; k < 16; ++k)
                    here[k] = std::min(here[k], got[k]);
            }
            bd.cheapest_other[row][j] = *std::min_element(
                bd.cost[other][j].begin(), bd.cost[other][j].begin() + bd.pair_count);
        }
    }
    const int f = bd.pair_fg[p], b = bd.pair_bg[p];
    std::int64_t sum = 0;
    for (int j = 0; j < 8; ++j) {
        const std::int64_t first =
            std::int64_t{bd.cost[row][j][p]} + bd.nearest_received[row][j][bd.colour[row][j][p]];
        const auto& here = bd.cheapest_here[row][j];
        const std::int64_t second = std::int64_t{bd.cheapest_other[row][j]} +
                                    std::int64_t{std::min(here[f], here[b])} * bd.px[row][j].weight;
        sum += std::min(first, second);
    }
    return sum;
}

bool columns_cannot_win(const FitInput& in, BlockData& bd, int i, int l, std::int64_t best) {
    // Column 0 exactly: the orders whose bound passes, at their cost (one column cannot break
    // the inversion limit); then one of the two orders must pass its bound in column 1.
    const int fi = bd.pair_fg[i], bi = bd.pair_bg[i];
    auto lower_first = [&](int j) {
        const auto& d = receive_row(in, bd, 1, j, bd.colour[1][j][l]);
        return std::int64_t{bd.cost[1][j][l]} +
               std::int64_t{std::min(d[fi], d[bi])} * bd.px[0][j].weight;
    };
    auto upper_first = [&](int j) {
        return std::int64_t{bd.cost[0][j][i]} + pair_costs(in, bd, 0, j, bd.colour[0][j][i])[l];
    };
    const std::int64_t a = bd.bound[0][0][i] <= best ? upper_first(0) : dead_error;
    const std::int64_t b = bd.bound[1][0][l] <= best ? lower_first(0) : dead_error;
    std::int64_t floor = std::min(a, b);
    if (floor >= best) return true;
    if (floor + bd.bound[0][1][i] > best && floor + bd.bound[1][1][l] > best) return true;
    // The later columns at the cheaper of their two orders, each exactly but for the
    // inversion limit, which can only add.
    for (int j = 1; j < 8; ++j) {
        floor += std::min(upper_first(j), lower_first(j));
        if (floor >= best) return true;
    }
    return false;
}

const std::int32_t* compute_error_floor(const FitInput& in, BlockData& bd, int row, int p) {
    std::int32_t* acc = bd.floor[row][p].data();
    bd.floor_ready[row][p] = 1;
    const int n = bd.pair_count;
    std::fill_n(acc, n, 0);
    if (bd.mode == FitMode::column) {
        // Per column, the cheaper of the two orders: this row's pixel with its own value and
        // the other row's receiving its error (exactly), or the other way round (at least).
        prepare_other_order(in, bd, row);
        for (int j = 0; j < 8; ++j) {
            kernels::add_floor_terms(acc, bd.cost[row][j][p],
                                     pair_costs(in, bd, row, j, bd.colour[row][j][p]),
                                     bd.other_order[row][j].data(), n, floor_cap);
        }
        return acc;
    }
    // Per cell: this row's order costs its two pixels plus the other row's first receiving
    // one; the other order (only with lumi_sort) costs at least its own two pixels.
    for (int k = 0; k < 4; ++k) {
        const std::int32_t own = bd.cell_own_cost[row][k][p];
        const std::int32_t* received = cell_receive_costs(in, bd, row, k, p);
        if (bd.lumi_sort) {
            kernels::add_floor_terms(acc, own, received, bd.cell_own_cost[1 - row][k].data(), n,
                                     floor_cap);
        } else {
            kernels::add_floor_terms(acc, own, received, unbounded_terms().data(), n, floor_cap);
        }
    }
    return acc;
}

InversionRule::InversionRule(const FitInput& in, int uf_, int ub_, int lf_, int lb_,
                             std::int32_t mitigation_)
    : distinct(in.tables.distinct_count),
      uf(uf_),
      ub(ub_),
      lf(lf_),
      lb(lb_),
      mitigation(mitigation_),
      possible(false),
      dark{} {
    const auto& lum = in.palette.luminance;
    for (int u = 0; u < 2; ++u) {
        for (int w = 0; w < 2; ++w) {
            dark[u * 2 + w] = lum[w ? lf : lb] < lum[u ? uf : ub] ? 1 : 0;
            possible = possible || dark[u * 2 + w];
        }
    }
}

void prepare_block(const FitInput& in, BlockData& bd, FitMode mode, int x, int y,
                   bool lower_rows) {
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

    const int rows = lower_rows ? 2 : 1;
    const int n = in.tables.pair_count;
    for (int row = 0; row < rows; ++row) {
        auto& fg = bd.own_fg[row];
        std::fill_n(fg.begin(), n, std::uint8_t{0});
        for (int j = 0; j < 8; ++j) {
            const BlockPixel& px = bd.px[row][j];
            kernels::pair_costs(px.distance, px.weight, n == max_pairs ? 0 : 1, bd.cost[row][j].data(),
                                bd.colour[row][j].data());
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
        bd.half_ready[row].fill(0);
        bd.receive_valid[row].fill(0);
        bd.pair_cost_valid[row].fill(0);
        bd.floor_ready[row].fill(0);
        bd.other_order_ready[row] = 0;
        bd.row_floor_ready[row] = 0;
        if (mode != FitMode::column) prepare_cell_costs(in, bd, row);
    }
    bd.cell_receive_used = 0;
}

std::int64_t evaluate_columns_fast(const FitInput& in, BlockData& bd, int i, int l,
                                   std::int64_t best, std::uint8_t& upper_pattern,
                                   std::uint8_t& lower_pattern) {
    const int uf = bd.pair_fg[i], ub = bd.pair_bg[i], lf = bd.pair_fg[l], lb = bd.pair_bg[l];
    const std::uint8_t ufg = bd.own_fg[0][i], lfg = bd.own_fg[1][l];
    const InversionRule rule(in, uf, ub, lf, lb, bd.mitigation);
    // An order that breaks the inversion limit takes the rejection value, which only a best
    // error above it (the start of a block) lets live on.
    const std::int64_t rejected = rejection_error < best ? rejection_error : dead_error;
    Order st{0, 0, 0};
    std::uint8_t mask = 0x80;
    for (int j = 0; j < 8; ++j) {
        const std::uint8_t bit = 0x80 >> j;
        // Upper pixel first: its error goes to the lower pixel.
        Order a{dead_error, 0, 0};
        if (st.error + bd.bound[0][j][i] <= best) {
            std::int64_t t = st.error + bd.cost[0][j][i];
            if (t < best) {
                const auto& d = receive_row(in, bd, 0, j, (ufg & bit) ? uf : ub);
                const bool fg = d[lf] < d[lb];
                t += std::int64_t{fg ? d[lf] : d[lb]} * bd.px[1][j].weight;
                if (t < best) {
                    a = {t, static_cast<std::uint8_t>(st.upper | (ufg & bit)),
                         static_cast<std::uint8_t>(st.lower | (fg ? bit : 0))};
                }
            }
        }
        // Lower pixel first: its error goes to the upper pixel.
        Order b{dead_error, 0, 0};
        if (st.error + bd.bound[1][j][l] <= best) {
            std::int64_t t = st.error + bd.cost[1][j][l];
            if (t < best) {
                const auto& d = receive_row(in, bd, 1, j, (lfg & bit) ? lf : lb);
                const bool fg = d[uf] < d[ub];
                t += std::int64_t{fg ? d[uf] : d[ub]} * bd.px[0][j].weight;
                if (t < best) {
                    b = {t, static_cast<std::uint8_t>(st.upper | (fg ? bit : 0)),
                         static_cast<std::uint8_t>(st.lower | (lfg & bit))};
                }
            }
        }
        if (bd.optimization) {
            // One fitted column shows at most one colour per row: nothing to check yet.
            if (j > 0) {
                if (a.error != dead_error && rule.broken(a.upper, a.lower, mask, mask)) {
                    a.error = rejected;
                }
                if (b.error != dead_error && rule.broken(b.upper, b.lower, mask, mask)) {
                    b.error = rejected;
                }
            }
            mask = static_cast<std::uint8_t>((mask >> 1) + 0x80);
        }
        st = (b.error <= a.error) ? b : a;
        if (st.error == dead_error) return dead_error;
    }
    upper_pattern = st.upper;
    lower_pattern = st.lower;
    return st.error;
}

std::int64_t evaluate_cells_fast(const FitInput& in, BlockData& bd, int i, int l,
                                 std::int64_t best, std::uint8_t& upper_pattern,
                                 std::uint8_t& lower_pattern) {
    const int pair[2] = {i, l};
    const int uf = bd.pair_fg[i], ub = bd.pair_bg[i], lf = bd.pair_fg[l], lb = bd.pair_bg[l];
    const InversionRule rule(in, uf, ub, lf, lb, bd.mitigation);
    const std::int64_t rejected = rejection_error < best ? rejection_error : dead_error;
    Order st{0, 0, 0};
    std::uint8_t mask = 0xC0;
    for (int k = 0; k < 4; ++k) {
        Order o[2] = {{dead_error, 0, 0}, {dead_error, 0, 0}};
        const int rows = bd.lumi_sort ? 2 : 1;
        for (int row = 0; row < rows; ++row) {
            const int p = pair[row], q = pair[1 - row];
            if (st.error + bd.bound[row][k][p] > best) continue;
            HalfCell& h = half_cell(in, bd, row, p, k);
            std::int64_t t = st.error + h.own_cost;
            if (t >= best) continue;
            const int qf = bd.pair_fg[q], qb = bd.pair_bg[q];
            const CellOrder& co = bd.cell_order[row];
            const int cx = 2 * k + co.recv_first, cy = 2 * k + co.recv_second;
            const bool fg1 = h.first[qf] < h.first[qb];
            t += std::int64_t{fg1 ? h.first[qf] : h.first[qb]} * bd.px[1 - row][cx].weight;
            if (t >= best) continue;
            const auto& d2 = second_row(in, bd, h, row, k, fg1 ? qf : qb);
            const bool fg2 = d2[qf] < d2[qb];
            t += std::int64_t{fg2 ? d2[qf] : d2[qb]} * bd.px[1 - row][cy].weight;
            if (t >= best) continue;
            const auto other_bits =
                static_cast<std::uint8_t>((fg1 ? 0x80 >> cx : 0) | (fg2 ? 0x80 >> cy : 0));
            if (row == 0) {
                o[0] = {t, static_cast<std::uint8_t>(st.upper | h.own_bits),
                        static_cast<std::uint8_t>(st.lower | other_bits)};
            } else {
                o[1] = {t, static_cast<std::uint8_t>(st.upper | other_bits),
                        static_cast<std::uint8_t>(st.lower | h.own_bits)};
            }
        }
        if (bd.lumi_sort) {
            if (bd.optimization) {
                // Columns of later cells count with the background colours.
                for (Order& ord : o) {
                    if (ord.error != dead_error && rule.broken(ord.upper, ord.lower, mask, 0xFF)) {
                        ord.error = rejected;
                    }
                }
                mask = static_cast<std::uint8_t>((((mask >> 1) + 0x80) >> 1) + 0x80);
            }
            st = (o[1].error <= o[0].error) ? o[1] : o[0];
        } else {
            st = o[0];
        }
        if (st.error == dead_error) return dead_error;
    }
    upper_pattern = st.upper;
    lower_pattern = st.lower;
    return st.error;
}

std::int64_t evaluate_columns_unpruned(const FitInput& in, BlockData& bd, int i, int l,
                                       std::int64_t limit, std::uint8_t& upper_pattern,
                                       std::uint8_t& lower_pattern) {
    const int uf = bd.pair_fg[i], ub = bd.pair_bg[i], lf = bd.pair_fg[l], lb = bd.pair_bg[l];
    const std::uint8_t ufg = bd.own_fg[0][i], lfg = bd.own_fg[1][l];
    const InversionRule rule(in, uf, ub, lf, lb, bd.mitigation);
    Order st{0, 0, 0};
    std::uint8_t mask = 0x80;
    for (int j = 0; j < 8; ++j) {
        const std::uint8_t bit = 0x80 >> j;
        Order a;
        {
            const auto& d = receive_row(in, bd, 0, j, (ufg & bit) ? uf : ub);
            const bool fg = d[lf] < d[lb];
            a = {
                st.error + bd.cost[0][j][i] + std::int64_t{fg ? d[lf] : d[lb]} * bd.px[1][j].weight,
                static_cast<std::uint8_t>(st.upper | (ufg & bit)),
                static_cast<std::uint8_t>(st.lower | (fg ? bit : 0))};
        }
        Order b;
        {
            const auto& d = receive_row(in, bd, 1, j, (lfg & bit) ? lf : lb);
            const bool fg = d[uf] < d[ub];
            b = {
                st.error + bd.cost[1][j][l] + std::int64_t{fg ? d[uf] : d[ub]} * bd.px[0][j].weight,
                static_cast<std::uint8_t>(st.upper | (fg ? bit : 0)),
                static_cast<std::uint8_t>(st.lower | (lfg & bit))};
        }
        if (bd.optimization) {
            // Every order is checked, whatever its error; a broken one is replaced by the
            // rejection value.
            if (j > 0) {
                if (rule.broken(a.upper, a.lower, mask, mask)) a.error = rejection_error;
                if (rule.broken(b.upper, b.lower, mask, mask)) b.error = rejection_error;
            }
            mask = static_cast<std::uint8_t>((mask >> 1) + 0x80);
        }
        st = (b.error <= a.error) ? b : a;
        if (st.error >= limit) return dead_error;
    }
    upper_pattern = st.upper;
    lower_pattern = st.lower;
    return st.error;
}

}  // namespace lumaweave
