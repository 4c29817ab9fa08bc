// The tables the block fitting consults.
#include <algorithm>

#include "convert/fitting.hpp"
#include "convert/kernels.hpp"
#include "convert/stages.hpp"

namespace lumaweave {

const std::array<std::uint8_t, 65536>& distinct_count_table() {
    static const std::array<std::uint8_t, 65536> table = [] {
        std::array<std::uint8_t, 65536> t{};
        for (int n = 0; n < 65536; ++n) {
            const int d[4] = {n >> 12, (n >> 8) & 15, (n >> 4) & 15, n & 15};
            int distinct = 0;
            for (int i = 0; i < 4; ++i) {
                bool earlier = false;
                for (int j = 0; j < i; ++j)
                    earlier = earlier || d[j] == d[i];
                if (!earlier) ++distinct;
            }
            t[static_cast<std::size_t>(n)] = static_cast<std::uint8_t>(distinct);
        }
        return t;
    }();
    return table;
}

void build_distance_map(const ConversionSettings& s, const PaletteSet& palette,
                        const WorkImage& work, DistanceMap& distance, Workers& workers) {
    // color_distance to all 16 colours at once.
    const bool brightness = s.brightness != 0;
    const std::int32_t weight[3] = {brightness ? 2 : 1, brightness ? 4 : 1, 1};
    std::array<std::int32_t, 16> pal_r, pal_g, pal_b;
    for (int k = 0; k < 16; ++k) {
        pal_r[k] = palette.working[k].r;
        pal_g[k] = palette.working[k].g;
        pal_b[k] = palette.working[k].b;
    }
    for_row_bands(workers, work.height, [&](int first, int end) {
        for (int y = first; y < end; ++y) {
            for (int x = 0; x < work.width; ++x) {
                const Pixel& p = work[y * max_width + x];
                kernels::distances(pal_r.data(), pal_g.data(), pal_b.data(), weight, p.r, p.g, p.b,
                                   distance[static_cast<std::size_t>(y * max_width + x)].data());
            }
        }
    });
}

void build_fitting_tables(const ConversionSettings& s, const PaletteSet& palette,
                          FittingTables& tables) {
    for (int k = 0; k < 16; ++k) {
        tables.working_r[k] = palette.working[k].r;
        tables.working_g[k] = palette.working[k].g;
        tables.working_b[k] = palette.working[k].b;
    }

    tables.pair_count = 0;
    bool seen[16][16] = {};
    for (int a = 0; a < 16; ++a) {
        for (int b = 0; b < 16; ++b) {
            if (!s.color_no0 && (a == 0 || b == 0)) continue;
            if (a == b || seen[a][b]) continue;
            seen[b][a] = true;
            tables.pairs[tables.pair_count++] = static_cast<std::uint8_t>(a * 16 + b);
        }
    }

    if (s.brightness) {
        tables.clamp_low = -48;
        tables.clamp_high = 303;
        tables.square_weight = {2, 4, 1};
    } else {
        tables.clamp_low = -96;
        tables.clamp_high = 351;
        tables.square_weight = {1, 1, 1};
    }

    tables.excluded.fill(0);
    if (s.lumi_sort) {
        const auto& lum = palette.luminance;
        for (int u = 0; u < 256; ++u) {
            const std::int32_t lu1 = lum[u >> 4], lu2 = lum[u & 15];
            for (int w = 0; w < 256; ++w) {
                if (u == w) continue;
                const std::int32_t lw1 = lum[w >> 4], lw2 = lum[w & 15];
                const bool excluded = s.optimization ? lw1 + lw2 < lu1 + lu2
                                                     : std::min(lw1, lw2) < std::max(lu1, lu2);
                tables.excluded[static_cast<std::size_t>(u * 256 + w)] = excluded ? 1 : 0;
            }
        }
    }
}

}  // namespace lumaweave
