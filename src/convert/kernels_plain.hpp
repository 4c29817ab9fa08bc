// What the plain kernel files share (kernels.cpp, kernels_cells.cpp).
#pragma once

#include <algorithm>
#include <cstdint>

namespace lumaweave::kernels {

inline void distances_plain(const std::int32_t* pr, const std::int32_t* pg, const std::int32_t* pb,
                            const std::int32_t* w, std::int32_t r, std::int32_t g, std::int32_t b,
                            std::int32_t* d) {
    for (int k = 0; k < 16; ++k) {
        const std::int32_t dr = r - pr[k], dg = g - pg[k], db = b - pb[k];
        d[k] = w[0] * dr * dr + w[1] * dg * dg + w[2] * db * db;
    }
}

// The value of a receiving pixel (dst) after `share` eighths of the error src - palette[c]
// (scaled by scale / 256 when sp), clamped to low..high.
inline void received_value(const std::int32_t* const* palette, const std::int32_t* dst,
                           const std::int32_t* src, int c, std::int32_t share, std::int32_t scale,
                           bool sp, std::int32_t low, std::int32_t high, std::int32_t* v) {
    for (int ch = 0; ch < 3; ++ch) {
        const std::int32_t e = ((src[ch] - palette[ch][c]) * share) >> 3;
        v[ch] = std::clamp(dst[ch] + (sp ? (e * scale) >> 8 : e), low, high);
    }
}

// Pair p of the list from `first` (0, or 1 without colour 0): its colours a < b.
inline void pair_colours(int first, int p, int& a, int& b) {
    a = first;
    while (p >= 15 - a) {
        p -= 15 - a;
        ++a;
    }
    b = a + 1 + p;
}

}  // namespace lumaweave::kernels
