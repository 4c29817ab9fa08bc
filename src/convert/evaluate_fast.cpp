// The exact evaluation of one candidate on the block's tables: the main pass's, which drops a
// candidate as soon as it cannot beat the best error, and the refinement's column search, which
// follows it whole up to a limit.
#include "convert/block.hpp"
#include "convert/block_cache.hpp"
#include "convert/fitting.hpp"

namespace lumaweave {

namespace {

struct Order {
    std::int64_t error;
    std::uint8_t upper, lower;
};

}  // namespace

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

std::int64_t evaluate_cells_fast(const FitInput& in, BlockData& bd, int i, int l, std::int64_t best,
                                 std::uint8_t& upper_pattern, std::uint8_t& lower_pattern) {
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
