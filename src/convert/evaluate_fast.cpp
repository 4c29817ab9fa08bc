// The exact evaluation of one candidate on the block's tables: the main pass's, which drops a
// candidate as soon as it cannot beat the best error, and the refinement's column search, which
// follows it whole up to a limit.
#include "convert/block.hpp"
#include "convert/block_cache.hpp"
#include "convert/fitting.hpp"

namespace lumaweave {

InversionRule::InversionRule(const FitInput& in, int uf_, int ub_, int lf_, int lb_,
                             std::int32_t mitigation_)
    : uf(uf_), ub(ub_), lf(lf_), lb(lb_), mitigation(mitigation_), possible(false), dark{} {
    const auto& lum = in.palette.luminance;
    for (int u = 0; u < 2; ++u) {
        for (int w = 0; w < 2; ++w) {
            dark[u * 2 + w] = lum[w ? lf : lb] < lum[u ? uf : ub] ? 1 : 0;
            possible = possible || dark[u * 2 + w];
        }
    }
}

namespace {

struct Order {
    std::int64_t error;
    std::uint8_t upper, lower;
};

// How the column evaluation treats the two orders of each column; `limit` is the error the
// candidate must stay below.
//
// The main pass drops an order as soon as it cannot end below the limit (the best error): before
// its column when its row bound says so, and after each of its pixels. An order that breaks the
// inversion limit takes the rejection value while that is below the best error (only at the
// start of a block), else it is dropped too.
struct DropLosingOrders {
    static constexpr bool drops_orders = true;
    static std::int64_t rejected(std::int64_t limit) {
        return rejection_error < limit ? rejection_error : dead_error;
    }
};

// The refinement follows both orders of every column whole and applies the inversion limit to
// each, whatever its error: a broken order takes the rejection value.
struct FollowEveryOrder {
    static constexpr bool drops_orders = false;
    static std::int64_t rejected(std::int64_t) { return rejection_error; }
};

// What one order of a candidate keeps from column to column: it fits `row`'s pixel first with
// its own value and pair p (colours f, b; own_fg the foreground bits of that fit), then the
// other row's pixel, which received its whole error, with the other pair (colours qf, qb).
struct OrderStart {
    int row, p;
    std::uint8_t own_fg;
    int f, b, qf, qb;

    OrderStart(const BlockData& bd, int row_, int p_, int q)
        : row(row_),
          p(p_),
          own_fg(bd.own_fg[row_][p_]),
          f(bd.pair_fg[p_]),
          b(bd.pair_bg[p_]),
          qf(bd.pair_fg[q]),
          qb(bd.pair_bg[q]) {}
};

// Column j of order `o` after the columns before it (`st`); dropped (dead_error) where the
// policy drops it.
template <class Policy>
[[gnu::always_inline]] inline Order column_order(const FitInput& in, BlockData& bd, const Order& st,
                                                 const OrderStart& o, int j, std::int64_t limit) {
    constexpr Order dropped{dead_error, 0, 0};
    if constexpr (Policy::drops_orders) {
        if (st.error + bd.bound[o.row][j][o.p] > limit) return dropped;
    }
    const auto bit = static_cast<std::uint8_t>(0x80 >> j);
    const auto own = static_cast<std::uint8_t>(o.own_fg & bit);
    std::int64_t t = st.error + bd.cost[o.row][j][o.p];
    if constexpr (Policy::drops_orders) {
        if (t >= limit) return dropped;
    }
    const auto& d = receive_row(in, bd, o.row, j, own ? o.f : o.b);
    const bool fg = d[o.qf] < d[o.qb];
    t += std::int64_t{fg ? d[o.qf] : d[o.qb]} * bd.px[1 - o.row][j].weight;
    if constexpr (Policy::drops_orders) {
        if (t >= limit) return dropped;
    }
    const auto other = static_cast<std::uint8_t>(fg ? bit : 0);
    if (o.row == 0) {
        return {t, static_cast<std::uint8_t>(st.upper | own),
                static_cast<std::uint8_t>(st.lower | other)};
    }
    return {t, static_cast<std::uint8_t>(st.upper | other),
            static_cast<std::uint8_t>(st.lower | own)};
}

// Candidate (upper pair i, lower pair l) in column mode: its block error when it stays below
// `limit` (with its patterns), else dead_error.
template <class Policy>
std::int64_t evaluate_columns_with(const FitInput& in, BlockData& bd, int i, int l,
                                   std::int64_t limit, std::uint8_t& upper_pattern,
                                   std::uint8_t& lower_pattern) {
    const OrderStart upper_first(bd, 0, i, l), lower_first(bd, 1, l, i);
    const InversionRule rule(in, upper_first.f, upper_first.b, lower_first.f, lower_first.b,
                             bd.mitigation);
    const std::int64_t rejected = Policy::rejected(limit);
    // A dropped order is not checked: the rejection value would bring it back.
    auto breaks_limit = [&](const Order& o, std::uint8_t mask) {
        return (!Policy::drops_orders || o.error != dead_error) &&
               rule.broken(o.upper, o.lower, mask, mask);
    };
    Order st{0, 0, 0};
    std::uint8_t mask = 0x80;
    for (int j = 0; j < 8; ++j) {
        // Upper pixel first, its error going to the lower pixel; lower pixel first.
        Order a = column_order<Policy>(in, bd, st, upper_first, j, limit);
        Order b = column_order<Policy>(in, bd, st, lower_first, j, limit);
        if (bd.optimization) {
            // One fitted column shows at most one colour per row: nothing to check yet.
            if (j > 0) {
                if (breaks_limit(a, mask)) a.error = rejected;
                if (breaks_limit(b, mask)) b.error = rejected;
            }
            mask = static_cast<std::uint8_t>((mask >> 1) + 0x80);
        }
        st = (b.error <= a.error) ? b : a;
        // Where orders are dropped, every living one is below the limit: this is "none lives".
        if (st.error >= limit) return dead_error;
    }
    upper_pattern = st.upper;
    lower_pattern = st.lower;
    return st.error;
}

}  // namespace

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

std::int64_t evaluate_columns_fast(const FitInput& in, BlockData& bd, int i, int l,
                                   std::int64_t best, std::uint8_t& upper_pattern,
                                   std::uint8_t& lower_pattern) {
    return evaluate_columns_with<DropLosingOrders>(in, bd, i, l, best, upper_pattern,
                                                   lower_pattern);
}

std::int64_t evaluate_columns_unpruned(const FitInput& in, BlockData& bd, int i, int l,
                                       std::int64_t limit, std::uint8_t& upper_pattern,
                                       std::uint8_t& lower_pattern) {
    return evaluate_columns_with<FollowEveryOrder>(in, bd, i, l, limit, upper_pattern,
                                                   lower_pattern);
}

}  // namespace lumaweave
