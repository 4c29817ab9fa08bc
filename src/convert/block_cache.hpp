// What the block preparation (block.cpp), the lower bounds (bounds.cpp) and the fast evaluators
// (evaluate_fast.cpp) share: the error diffusion's arithmetic on values, and the tables of
// BlockData filled on first use that more than one of them reads (receive rows, half cells).
// The look-ups are inline, as the evaluators ask for them once per order and column or cell;
// what fills a missing half cell is not, which keeps the cell evaluator's loop small.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "convert/block.hpp"
#include "convert/fitting.hpp"
#include "convert/kernels.hpp"

namespace lumaweave {

inline Rgb clamp_value(const FitInput& in, Rgb v) {
    return {std::clamp(v.r, in.tables.clamp_low, in.tables.clamp_high),
            std::clamp(v.g, in.tables.clamp_low, in.tables.clamp_high),
            std::clamp(v.b, in.tables.clamp_low, in.tables.clamp_high)};
}

inline Rgb add_share(const BlockData& bd, Rgb v, const Rgb& e, std::int32_t share,
                     std::int32_t scale) {
    v.r += contribution(e.r, share, bd.sp, scale);
    v.g += contribution(e.g, share, bd.sp, scale);
    v.b += contribution(e.b, share, bd.sp, scale);
    return v;
}

inline Rgb minus(const Rgb& v, const Rgb& c) {
    return {v.r - c.r, v.g - c.g, v.b - c.b};
}

inline void fill_distances(const FitInput& in, const Rgb& v, std::array<std::int32_t, 16>& d) {
    kernels::distances(in.tables.working_r.data(), in.tables.working_g.data(),
                       in.tables.working_b.data(), in.tables.square_weight.data(), v.r, v.g, v.b,
                       d.data());
}

// Column mode: the distances of the other row's pixel j after it received the whole error of
// `row`'s pixel j that took colour c.
[[gnu::always_inline]] inline const std::array<std::int32_t, 16>& receive_row(const FitInput& in,
                                                                              BlockData& bd,
                                                                              int row, int j,
                                                                              int c) {
    auto& d = bd.receive[row][j][c];
    if (!(bd.filled.receive[row][j] & (1u << c))) {
        const BlockPixel& src = bd.px[row][j];
        const BlockPixel& dst = bd.px[1 - row][j];
        const Rgb v = clamp_value(
            in, add_share(bd, dst.own, minus(src.own, in.palette.working[c]), 8, src.scale));
        fill_distances(in, v, d);
        bd.filled.receive[row][j] |= static_cast<std::uint16_t>(1u << c);
    }
    return d;
}

// Cell modes: the starting row's two pixels of cell k fitted with pair p, and the other row's
// prepared.
HalfCell& fill_half_cell(const FitInput& in, BlockData& bd, int row, int p, int k);
inline HalfCell& half_cell(const FitInput& in, BlockData& bd, int row, int p, int k) {
    return bd.filled.half[row][p] & (1u << k) ? bd.half[row][p][k]
                                              : fill_half_cell(in, bd, row, p, k);
}

// Cell modes: the value of the other row's last pixel of cell k, in the order that starts on
// `row`, after its first one took colour c.
inline Rgb second_value(const FitInput& in, const BlockData& bd, const HalfCell& h, int row, int k,
                        int c) {
    const int cx = 2 * k + bd.cell_order[row].recv_first;
    return clamp_value(in, add_share(bd, h.second_base, minus(h.first_value, in.palette.working[c]),
                                     8 - bd.ratio, bd.px[1 - row][cx].scale));
}

// Cell modes: the distances of the other row's last pixel of cell k after its first one took
// colour c.
const std::array<std::int32_t, 16>& fill_second_row(const FitInput& in, const BlockData& bd,
                                                    HalfCell& h, int row, int k, int c);
inline const std::array<std::int32_t, 16>& second_row(const FitInput& in, const BlockData& bd,
                                                      HalfCell& h, int row, int k, int c) {
    return h.second_valid & (1u << c) ? h.second[c] : fill_second_row(in, bd, h, row, k, c);
}

}  // namespace lumaweave
