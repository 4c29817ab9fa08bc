// Per-pixel passes over the WorkImage: the edge measure and the picture adjustments.
#include <algorithm>
#include <array>
#include <cmath>

#include "convert/stages.hpp"

namespace lumaweave {

namespace {

std::int32_t& channel(Pixel& p, int c) {
    return c == 0 ? p.r : c == 1 ? p.g : p.b;
}

std::int32_t clamp255(std::int32_t v) {
    return std::clamp(v, 0, 255);
}

constexpr std::int32_t edge_channel_weight[3] = {2, 4, 3};

}  // namespace

std::int32_t edge_log_computed(std::int32_t s) {
    const auto e = static_cast<std::int32_t>(std::log(static_cast<double>(s)) * 32.0);
    return std::min(e, 511);
}

namespace {

// The scale is a step function of s (the logarithm only grows, by far more than its rounding from
// one whole s to the next): start[k] is the least s that gives k, found with the computation
// itself. Small sums look theirs up directly; larger ones by their thirty-second of an octave,
// narrower than a step from 4096 up, so that it holds at most one step's start.
struct EdgeSteps {
    static constexpr int small_count = 4096;
    std::array<std::int32_t, 513> start{};  // start[512] stays 0: 511 is the cap
    std::array<std::uint16_t, small_count> small{};
    std::array<std::uint16_t, 19 * 32> by_part{};  // octaves 2^12 to 2^30

    static int part(std::int32_t s) {
        const int e = 31 - __builtin_clz(static_cast<std::uint32_t>(s));
        return (e - 12) * 32 + ((s >> (e - 5)) & 31);
    }

    EdgeSteps() {
        start[0] = 1;
        for (int k = 1; k < 512; ++k) {
            auto t = static_cast<std::int32_t>(std::ceil(std::exp(k / 32.0)));
            while (t > start[k - 1] && edge_log_computed(t - 1) >= k)
                --t;
            while (edge_log_computed(t) < k)
                ++t;
            start[k] = t;
        }
        int k = 0;
        for (int s = 1; s < small_count; ++s) {
            while (k < 511 && start[k + 1] <= s)
                ++k;
            small[s] = static_cast<std::uint16_t>(k);
        }
        for (int e = 12; e < 31; ++e) {
            for (int m = 0; m < 32; ++m) {
                const std::int32_t low = (std::int32_t{1} << e) + m * (std::int32_t{1} << (e - 5));
                while (k < 511 && start[k + 1] <= low)
                    ++k;
                by_part[static_cast<std::size_t>(part(low))] = static_cast<std::uint16_t>(k);
            }
        }
    }
    std::int32_t operator()(std::int32_t s) const {
        if (s < small_count) return small[static_cast<std::size_t>(s)];
        const int k = by_part[static_cast<std::size_t>(part(s))];
        return std::min(k + (s >= start[static_cast<std::size_t>(k) + 1]), 511);
    }
};

const EdgeSteps& edge_steps() {
    static const EdgeSteps steps;
    return steps;
}

}  // namespace

// The log-scaled edge strength of one channel sum; shared by the source and result measures.
std::int32_t edge_log(std::int32_t s) {
    return s < 1 ? edge_log_computed(s) : edge_steps()(s);
}

void measure_edges(const ConversionSettings& s, WorkImage& work, PixelMaps& maps,
                   Workers& workers) {
    const int w = work.width, h = work.height;
    const bool edge_calc = s.edge_calc != 0;
    const EdgeSteps& steps = edge_steps();  // the sums below are at least 1
    using Row = std::array<std::array<std::int32_t, max_width + 2>, 3>;  // [channel][1 + x]
    // A pixel's measure reads its neighbours' colours only, never their weights.
    for_row_bands(workers, h, [&](int first, int end) {
        // Each channel of a row, the end pixels repeated outside it as the clamped neighbours.
        auto load = [&](int y, Row& out) {
            const Pixel* p = &work[y * max_width];
            for (int x = 0; x < w; ++x) {
                out[0][x + 1] = p[x].r;
                out[1][x + 1] = p[x].g;
                out[2][x + 1] = p[x].b;
            }
            for (auto& c : out) {
                c[0] = c[1];
                c[w + 1] = c[w];
            }
        };
        Row above, here, below;
        std::array<std::array<std::int32_t, max_width>, 3> sums;  // [channel][x]
        for (int y = first; y < end; ++y) {
            load(std::max(y - 1, 0), above);
            load(y, here);
            load(std::min(y + 1, h - 1), below);
            for (int c = 0; c < 3; ++c) {
                const std::int32_t *u = above[c].data() + 1, *m = here[c].data() + 1,
                                   *d = below[c].data() + 1;
                for (int x = 0; x < w; ++x) {
                    const std::int32_t v = m[x];
                    auto sq = [v](std::int32_t n) { return (v - n) * (v - n); };
                    sums[c][x] = sq(u[x]) + sq(d[x]) + sq(m[x - 1]) + sq(m[x + 1]) +
                                 sq(u[x - 1]) / 2 + sq(u[x + 1]) / 2 + sq(d[x - 1]) / 2 +
                                 sq(d[x + 1]) / 2;
                }
            }
            for (int x = 0; x < w; ++x) {
                std::int32_t sum = 0;
                for (int c = 0; c < 3; ++c)
                    sum += steps(sums[c][x] * edge_channel_weight[c] / 6 + 1);
                const std::int32_t edge = std::min(sum / 3, 255);
                const int slot = y * max_width + x;
                maps.error_scale[slot] = (255 - edge) / 4 + 192;
                maps.edge[slot] = edge_calc ? edge : 0;
                work[slot].w = edge_calc ? 319 - edge : 256;
            }
        }
    });
}

std::array<std::int32_t, 256> gamma_table(int gamma) {
    std::array<std::int32_t, 256> table;
    const double step = gamma / 16.0;
    double a = 0.0;
    for (int i = 0; i < 256; ++i) {
        const auto t = static_cast<std::int32_t>((255 - i) * a / 255.0 + i + 0.5);
        table[i] = clamp255(t);
        a = a + step;
    }
    return table;
}

void adjust_gamma(const ConversionSettings& s, WorkImage& work) {
    const int gamma = s.gamma;
    if (gamma == 0) return;
    const std::array<std::int32_t, 256> table = gamma_table(gamma);
    for (int y = 0; y < work.height; ++y) {
        for (int x = 0; x < work.width; ++x) {
            Pixel& p = work[y * max_width + x];
            const std::int32_t lum = 30 * p.r + 59 * p.g + 11 * p.b;
            const std::int32_t m = table[(lum + 50) / 100];
            for (int c = 0; c < 3; ++c) {
                std::int32_t& v = channel(p, c);
                const auto scaled = static_cast<std::int32_t>(v * m * 100.0 / (lum + 0.01) + 0.5);
                v = std::min(scaled, 255);
            }
        }
    }
}

void adjust_index(const ConversionSettings& s, WorkImage& work) {
    if (!s.index_r && !s.index_g && !s.index_b) return;
    const double factor[3] = {s.index_r ? 1.0625 : 1.0, s.index_g ? 1.0625 : 1.0,
                              s.index_b ? 1.0625 : 1.0};
    for (int y = 0; y < work.height; ++y) {
        for (int x = 0; x < work.width; ++x) {
            Pixel& p = work[y * max_width + x];
            for (int c = 0; c < 3; ++c) {
                std::int32_t& v = channel(p, c);
                v = clamp255(static_cast<std::int32_t>(v * factor[c]));
            }
        }
    }
}

void adjust_color_d(const ConversionSettings& s, WorkImage& work) {
    const int color_d = s.color_d;
    if (color_d == 0) return;
    const double k = color_d / 8.0;
    for (int y = 0; y < work.height; ++y) {
        for (int x = 0; x < work.width; ++x) {
            Pixel& p = work[y * max_width + x];
            const std::int32_t lum = 30 * p.r + 59 * p.g + 11 * p.b;
            for (int c = 0; c < 3; ++c) {
                std::int32_t& v = channel(p, c);
                v = clamp255(static_cast<std::int32_t>(v + (100 * v - lum) * k / 100.0));
            }
        }
    }
}

void emphasize_edges(const ConversionSettings& s, WorkImage& work) {
    if (!s.edge_emph) return;
    const int w = work.width, h = work.height;
    for (int y = 0; y < h; ++y) {
        const int ym = std::max(y - 1, 0), yp = std::min(y + 1, h - 1);
        for (int x = 0; x < w; ++x) {
            const int xm = std::max(x - 1, 0), xp = std::min(x + 1, w - 1);
            // In place: the left and upper neighbours are already sharpened.
            for (int c = 0; c < 3; ++c) {
                const std::int32_t u = channel(work[y * max_width + x], c);
                const std::int32_t left = channel(work[y * max_width + xm], c);
                const std::int32_t right = channel(work[y * max_width + xp], c);
                const std::int32_t up = channel(work[ym * max_width + x], c);
                const std::int32_t down = channel(work[yp * max_width + x], c);
                const std::int32_t v = u + ((u - left) >> 3) + ((u - right) >> 3) +
                                       ((u - up) >> 3) + ((u - down) >> 3);
                channel(work[y * max_width + x], c) = clamp255(v);
            }
        }
    }
}

}  // namespace lumaweave
