#include "convert/block.hpp"

#include <algorithm>

#include "convert/fitting.hpp"

namespace lumaweave {

namespace {

// Cell geometry of the two orders: starting on the upper row, starting on the lower row.
constexpr std::array<CellOrder, 2> vertical_orders{{{0, 1, 0, 1}, {0, 1, 0, 1}}};
constexpr std::array<CellOrder, 2> circular_orders{{{1, 0, 0, 1}, {0, 1, 1, 0}}};

Rgb clamp_value(const Conversion& conv, Rgb v) {
    return {std::clamp(v.r, conv.clamp_low, conv.clamp_high),
            std::clamp(v.g, conv.clamp_low, conv.clamp_high),
            std::clamp(v.b, conv.clamp_low, conv.clamp_high)};
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

void fill_distances(const Conversion& conv, const Rgb& v, std::array<std::int32_t, 16>& d) {
    for (int k = 0; k < 16; ++k)
        d[k] = palette_distance(conv, v, k);
}

[[gnu::always_inline]] inline const std::array<std::int32_t, 16>& receive_row(const Conversion& conv, BlockData& bd, int row,
                                                int j, int c) {
    auto& d = bd.receive[row][j][c];
    if (!(bd.receive_valid[row][j] & (1u << c))) {
        const BlockPixel& src = bd.px[row][j];
        const BlockPixel& dst = bd.px[1 - row][j];
        const Rgb v = clamp_value(
            conv, add_share(bd, dst.own, minus(src.own, conv.working[c]), 8, src.scale));
        fill_distances(conv, v, d);
        bd.receive_valid[row][j] |= static_cast<std::uint16_t>(1u << c);
    }
    return d;
}

// Fits the starting row's two pixels of cell k with pair p and prepares the other row's.
HalfCell& half_cell(const Conversion& conv, BlockData& bd, int row, int p, int k) {
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
    const Rgb ea = minus(pa.own, conv.working[fg_a ? f : b]);

    const Rgb vb = clamp_value(conv, add_share(bd, pb.own, ea, horizontal, pa.scale));
    const std::int32_t df = palette_distance(conv, vb, f), db = palette_distance(conv, vb, b);
    const bool fg_b = df < db;
    const Rgb eb = minus(vb, conv.working[fg_b ? f : b]);

    h.own_cost = std::int64_t{bd.own_cost[row][p][ca]} + std::int64_t{fg_b ? df : db} * pb.weight;
    h.own_bits = static_cast<std::uint8_t>((fg_a ? 0x80 >> ca : 0) | (fg_b ? 0x80 >> cb : 0));

    const int cx = 2 * k + o.recv_first, cy = 2 * k + o.recv_second;
    const Rgb& ex = (cx == ca) ? ea : eb;
    const Rgb& ey = (cy == ca) ? ea : eb;
    const BlockPixel& above_x = bd.px[row][cx];
    const BlockPixel& above_y = bd.px[row][cy];
    h.first_value =
        clamp_value(conv, add_share(bd, bd.px[1 - row][cx].own, ex, vertical, above_x.scale));
    fill_distances(conv, h.first_value, h.first);
    h.second_base = add_share(bd, bd.px[1 - row][cy].own, ey, vertical, above_y.scale);
    h.second_valid = 0;
    return h;
}

const std::array<std::int32_t, 16>& second_row(const Conversion& conv, BlockData& bd, HalfCell& h,
                                               int row, int k, int c) {
    auto& d = h.second[c];
    if (!(h.second_valid & (1u << c))) {
        const int cx = 2 * k + bd.cell_order[row].recv_first;
        const Rgb v =
            clamp_value(conv, add_share(bd, h.second_base, minus(h.first_value, conv.working[c]),
                                        8 - bd.ratio, bd.px[1 - row][cx].scale));
        fill_distances(conv, v, d);
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
// (pairs run (a, b), a < b, ascending; colour 0 only with "Color No.0").
void fill_pair_costs(const BlockData& bd, const std::array<std::int32_t, 16>& d,
                     std::int32_t weight, std::int32_t* out) {
    const int first = bd.pair_count == 120 ? 0 : 1;
    int p = 0;
    for (int a = first; a < 15; ++a) {
        const std::int32_t da = d[a];
        for (int b = a + 1; b < 16; ++b) out[p++] = std::min(da, d[b]) * weight;
    }
}

const std::int32_t* pair_costs(const Conversion& conv, BlockData& bd, int row, int j, int c) {
    std::int32_t* out = bd.pair_cost[row][j][c].data();
    if (!(bd.pair_cost_valid[row][j] & (1u << c))) {
        fill_pair_costs(bd, receive_row(conv, bd, row, j, c), bd.px[1 - row][j].weight, out);
        bd.pair_cost_valid[row][j] |= static_cast<std::uint16_t>(1u << c);
    }
    return out;
}

// acc[q] += min(own + other[q], alternative[q], cap) over the other side's pairs.
[[gnu::target_clones("avx2", "default")]] void add_floor_terms(std::int32_t* acc, std::int32_t own, const std::int32_t* other,
                     const std::int32_t* alternative, int n) {
    for (int q = 0; q < n; ++q) {
        acc[q] += std::min(std::min(own + other[q], alternative[q]), floor_cap);
    }
}

}  // namespace

const std::int32_t* error_floor(const Conversion& conv, BlockData& bd, int row, int p) {
    std::int32_t* acc = bd.floor[row][p].data();
    if (bd.floor_ready[row][p]) return acc;
    bd.floor_ready[row][p] = 1;
    const int n = bd.pair_count;
    std::fill_n(acc, n, 0);
    const int f = bd.pair_fg[p], b = bd.pair_bg[p];
    if (bd.mode == FitMode::column) {
        // Per column: this row's order costs its own pixel plus the other row's receiving one;
        // the other order costs at least the other row's own pixel.
        for (int j = 0; j < 8; ++j) {
            const int taken = ((bd.own_fg[row][p] >> (7 - j)) & 1) ? f : b;
            add_floor_terms(acc, bd.own_cost[row][p][j], pair_costs(conv, bd, row, j, taken),
                            bd.cost_by_column[1 - row][j].data(), n);
        }
        return acc;
    }
    // Per cell: this row's order costs its two pixels plus the other row's first receiving
    // one; the other order (only with "Lumi Sort") costs at least its first pixel.
    std::array<std::int32_t, 120> received;
    static const std::array<std::int32_t, 120> unbounded = [] {
        std::array<std::int32_t, 120> a;
        a.fill(floor_cap);
        return a;
    }();
    for (int k = 0; k < 4; ++k) {
        const HalfCell& h = half_cell(conv, bd, row, p, k);
        const int cx = 2 * k + bd.cell_order[row].recv_first;
        fill_pair_costs(bd, h.first, bd.px[1 - row][cx].weight, received.data());
        const int other_first = 2 * k + bd.cell_order[1 - row].own_first;
        const std::int32_t* alternative =
            bd.lumi_sort ? bd.cost_by_column[1 - row][other_first].data() : unbounded.data();
        add_floor_terms(acc, static_cast<std::int32_t>(h.own_cost), received.data(), alternative, n);
    }
    return acc;
}

InversionRule::InversionRule(const Conversion& conv, int uf_, int ub_, int lf_, int lb_,
                             std::int32_t mitigation_)
    : distinct(conv.distinct_count.data()),
      uf(uf_),
      ub(ub_),
      lf(lf_),
      lb(lb_),
      mitigation(mitigation_),
      possible(false),
      dark{} {
    const auto& lum = conv.luminance;
    for (int u = 0; u < 2; ++u) {
        for (int w = 0; w < 2; ++w) {
            dark[u * 2 + w] = lum[w ? lf : lb] < lum[u ? uf : ub] ? 1 : 0;
            possible = possible || dark[u * 2 + w];
        }
    }
}

void prepare_block(const Conversion& conv, BlockData& bd, FitMode mode, int x, int y,
                   bool lower_rows) {
    const ConversionSettings& s = conv.settings;
    bd.x = x;
    bd.y = y;
    bd.mode = mode;
    bd.sp = s.sp != 0;
    bd.optimization = s.optimization != 0;
    bd.lumi_sort = s.lumi_sort != 0;
    bd.mitigation = s.mitigation;
    bd.ratio = s.vertical_error_ratio;
    bd.pair_count = conv.pair_count;
    for (int p = 0; p < conv.pair_count; ++p) {
        bd.pair_fg[p] = conv.pairs[p] >> 4;
        bd.pair_bg[p] = conv.pairs[p] & 15;
    }
    for (int row = 0; row < 2; ++row) {
        for (int j = 0; j < 8; ++j) {
            const int slot = (y + row) * max_width + x + j;
            const Pixel& p = conv.work[slot];
            bd.px[row][j] = {
                {p.r, p.g, p.b}, p.w, conv.error_scale[slot], conv.distance[slot].data()};
        }
    }
    bd.cell_order = mode == FitMode::circular_cell ? circular_orders : vertical_orders;

    const int rows = lower_rows ? 2 : 1;
    for (int row = 0; row < rows; ++row) {
        for (int p = 0; p < conv.pair_count; ++p) {
            const int f = bd.pair_fg[p], b = bd.pair_bg[p];
            std::uint8_t fg = 0;
            for (int j = 0; j < 8; ++j) {
                const BlockPixel& px = bd.px[row][j];
                const std::int32_t df = px.distance[f], db = px.distance[b];
                if (df < db) fg |= static_cast<std::uint8_t>(0x80 >> j);
                bd.own_cost[row][p][j] = std::min(df, db) * px.weight;
            }
            bd.own_fg[row][p] = fg;
            for (int j = 0; j < 8; ++j) bd.cost_by_column[row][j][p] = bd.own_cost[row][p][j];
            auto& bound = bd.bound[row][p];
            const auto& cost = bd.own_cost[row][p];
            if (mode == FitMode::column) {
                std::int64_t sum = 0;
                for (int j = 7; j >= 0; --j)
                    bound[j] = sum += cost[j];
            } else {
                // The pixel each order of this row fits first in each cell.
                const int first = bd.cell_order[row].own_first;
                std::int64_t sum = 0;
                for (int k = 3; k >= 0; --k)
                    bound[k] = sum += cost[2 * k + first];
            }
        }
        bd.half_ready[row].fill(0);
        bd.receive_valid[row].fill(0);
        bd.pair_cost_valid[row].fill(0);
        bd.floor_ready[row].fill(0);
    }
}

std::int64_t evaluate_columns_fast(const Conversion& conv, BlockData& bd, int i, int l,
                                   std::int64_t best, std::uint8_t& upper_pattern,
                                   std::uint8_t& lower_pattern) {
    const int uf = bd.pair_fg[i], ub = bd.pair_bg[i], lf = bd.pair_fg[l], lb = bd.pair_bg[l];
    const std::uint8_t ufg = bd.own_fg[0][i], lfg = bd.own_fg[1][l];
    const InversionRule rule(conv, uf, ub, lf, lb, bd.mitigation);
    // An order that breaks the inversion limit takes the rejection value, which only a best
    // error above it (the start of a block) lets live on.
    const std::int64_t rejected = rejection_error < best ? rejection_error : dead_error;
    Order st{0, 0, 0};
    std::uint8_t mask = 0x80;
    for (int j = 0; j < 8; ++j) {
        const std::uint8_t bit = 0x80 >> j;
        // Upper pixel first: its error goes to the lower pixel.
        Order a{dead_error, 0, 0};
        if (st.error + bd.bound[0][i][j] <= best) {
            std::int64_t t = st.error + bd.own_cost[0][i][j];
            if (t < best) {
                const auto& d = receive_row(conv, bd, 0, j, (ufg & bit) ? uf : ub);
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
        if (st.error + bd.bound[1][l][j] <= best) {
            std::int64_t t = st.error + bd.own_cost[1][l][j];
            if (t < best) {
                const auto& d = receive_row(conv, bd, 1, j, (lfg & bit) ? lf : lb);
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

std::int64_t evaluate_cells_fast(const Conversion& conv, BlockData& bd, int i, int l,
                                 std::int64_t best, std::uint8_t& upper_pattern,
                                 std::uint8_t& lower_pattern) {
    const int pair[2] = {i, l};
    const int uf = bd.pair_fg[i], ub = bd.pair_bg[i], lf = bd.pair_fg[l], lb = bd.pair_bg[l];
    const InversionRule rule(conv, uf, ub, lf, lb, bd.mitigation);
    const std::int64_t rejected = rejection_error < best ? rejection_error : dead_error;
    Order st{0, 0, 0};
    std::uint8_t mask = 0xC0;
    for (int k = 0; k < 4; ++k) {
        Order o[2] = {{dead_error, 0, 0}, {dead_error, 0, 0}};
        const int rows = bd.lumi_sort ? 2 : 1;
        for (int row = 0; row < rows; ++row) {
            const int p = pair[row], q = pair[1 - row];
            if (st.error + bd.bound[row][p][k] > best) continue;
            HalfCell& h = half_cell(conv, bd, row, p, k);
            std::int64_t t = st.error + h.own_cost;
            if (t >= best) continue;
            const int qf = bd.pair_fg[q], qb = bd.pair_bg[q];
            const CellOrder& co = bd.cell_order[row];
            const int cx = 2 * k + co.recv_first, cy = 2 * k + co.recv_second;
            const bool fg1 = h.first[qf] < h.first[qb];
            t += std::int64_t{fg1 ? h.first[qf] : h.first[qb]} * bd.px[1 - row][cx].weight;
            if (t >= best) continue;
            const auto& d2 = second_row(conv, bd, h, row, k, fg1 ? qf : qb);
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

std::int64_t evaluate_columns_unpruned(const Conversion& conv, BlockData& bd, int i, int l,
                                       std::int64_t limit, std::uint8_t& upper_pattern,
                                       std::uint8_t& lower_pattern) {
    const int uf = bd.pair_fg[i], ub = bd.pair_bg[i], lf = bd.pair_fg[l], lb = bd.pair_bg[l];
    const std::uint8_t ufg = bd.own_fg[0][i], lfg = bd.own_fg[1][l];
    const InversionRule rule(conv, uf, ub, lf, lb, bd.mitigation);
    Order st{0, 0, 0};
    std::uint8_t mask = 0x80;
    for (int j = 0; j < 8; ++j) {
        const std::uint8_t bit = 0x80 >> j;
        Order a;
        {
            const auto& d = receive_row(conv, bd, 0, j, (ufg & bit) ? uf : ub);
            const bool fg = d[lf] < d[lb];
            a = {st.error + bd.own_cost[0][i][j] + std::int64_t{fg ? d[lf] : d[lb]} * bd.px[1][j].weight,
                 static_cast<std::uint8_t>(st.upper | (ufg & bit)),
                 static_cast<std::uint8_t>(st.lower | (fg ? bit : 0))};
        }
        Order b;
        {
            const auto& d = receive_row(conv, bd, 1, j, (lfg & bit) ? lf : lb);
            const bool fg = d[uf] < d[ub];
            b = {st.error + bd.own_cost[1][l][j] + std::int64_t{fg ? d[uf] : d[ub]} * bd.px[0][j].weight,
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
