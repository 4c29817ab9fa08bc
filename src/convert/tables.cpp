// The tables the block fitting consults.
#include <algorithm>
#include <cstring>

#include "convert/convert.hpp"

namespace lumaweave {

void build_distance_tables(Conversion& conv) {
    for (int n = 0; n < 65536; ++n) {
        const int d[4] = {n >> 12, (n >> 8) & 15, (n >> 4) & 15, n & 15};
        int distinct = 0;
        for (int i = 0; i < 4; ++i) {
            bool earlier = false;
            for (int j = 0; j < i; ++j)
                earlier = earlier || d[j] == d[i];
            if (!earlier) ++distinct;
        }
        conv.distinct_count[n] = static_cast<std::uint8_t>(distinct);
    }

    const bool brightness = conv.settings.brightness != 0;
    for (int y = 0; y < conv.height; ++y) {
        for (int x = 0; x < conv.width; ++x) {
            const Pixel& p = conv.work[y * max_width + x];
            auto& d = conv.distance[y * max_width + x];
            for (int k = 0; k < 16; ++k) {
                const Rgb& c = conv.working[k];
                d[k] = color_distance(brightness, p.r - c.r, p.g - c.g, p.b - c.b);
            }
        }
    }
}

void build_fitting_tables(Conversion& conv) {
    const ConversionSettings& s = conv.settings;

    for (int k = 0; k < 16; ++k) {
        conv.working_r[k] = conv.working[k].r;
        conv.working_g[k] = conv.working[k].g;
        conv.working_b[k] = conv.working[k].b;
    }

    conv.pair_count = 0;
    bool seen[16][16] = {};
    for (int a = 0; a < 16; ++a) {
        for (int b = 0; b < 16; ++b) {
            if (!s.color_no0 && (a == 0 || b == 0)) continue;
            if (a == b || seen[a][b]) continue;
            seen[b][a] = true;
            conv.pairs[conv.pair_count++] = static_cast<std::uint8_t>(a * 16 + b);
        }
    }

    if (s.brightness) {
        conv.clamp_low = -48;
        conv.clamp_high = 303;
        conv.square_weight = {2, 4, 1};
    } else {
        conv.clamp_low = -96;
        conv.clamp_high = 351;
        conv.square_weight = {1, 1, 1};
    }

    const int n = conv.pair_count;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j)
            conv.pair_pairs[0][i * n + j] = {conv.pairs[i], conv.pairs[j]};
    }
    conv.pair_pairs[1] = conv.pair_pairs[0];
    conv.pair_pairs[2] = conv.pair_pairs[0];
    for (CandidateList& list : conv.candidate_lists)
        list.reset(n);

    conv.excluded.fill(0);
    if (s.lumi_sort) {
        const auto& lum = conv.luminance;
        for (int u = 0; u < 256; ++u) {
            const std::int32_t lu1 = lum[u >> 4], lu2 = lum[u & 15];
            for (int w = 0; w < 256; ++w) {
                if (u == w) continue;
                const std::int32_t lw1 = lum[w >> 4], lw2 = lum[w & 15];
                const bool excluded = s.optimization ? lw1 + lw2 < lu1 + lu2
                                                     : std::min(lw1, lw2) < std::max(lu1, lu2);
                conv.excluded[u * 256 + w] = excluded ? 1 : 0;
            }
        }
    }

    conv.bound_template.fill(bound_unknown);
}

}  // namespace lumaweave
