// The colour reduction (col_reduction): snap every pixel to the best of the palette colours and
// fixed blends of two.
#include <algorithm>

#include "convert/kernels.hpp"
#include "convert/stages.hpp"

namespace lumaweave {

namespace {

Rgb blend(const Rgb& pa, int ka, const Rgb& pb, int kb, int shift) {
    return {(ka * pa.r + kb * pb.r) >> shift, (ka * pa.g + kb * pb.g) >> shift,
            (ka * pa.b + kb * pb.b) >> shift};
}

}  // namespace

MixList build_mix_list(const Palette& pal, const ConversionSettings& s) {
    MixList mix;
    auto& list = mix.entries;
    int& count = mix.count;
    bool seen[16][16] = {};
    for (int a = 0; a < 16; ++a) {
        for (int b = 0; b < 16; ++b) {
            if (a == b || seen[a][b]) continue;
            seen[b][a] = true;
            if (s.vertical_error_ratio == 8) {
                list[count++] = {blend(pal[a], 1, pal[b], 1, 1), a, b, 64, 64};
            } else {
                list[count++] = {blend(pal[b], 6, pal[a], 2, 3), a, b, 96, 32};
                list[count++] = {blend(pal[a], 4, pal[b], 4, 3), a, b, 64, 64};
                list[count++] = {blend(pal[a], 6, pal[b], 2, 3), a, b, 32, 96};
            }
        }
    }
    for (int n = 0; n < 16; ++n)
        list[count++] = {pal[n], n, n, 64, 64};
    for (int i = 0; i < count; ++i) {
        MixEntry& e = list[i];
        if (e.a != 0 || e.b == 0) continue;  // blends with black only
        if (s.dark_color) {
            e.weight_b /= 2;
        } else {
            e.weight_a *= 4;
            e.weight_b /= 32;
        }
    }
    return mix;
}

namespace {

// The mix list by field, padded to a multiple of 8 entries, for scoring many entries at once.
struct MixTable {
    static constexpr int capacity = (max_mix_entries + 7) / 8 * 8;
    int count = 0;
    alignas(32) std::array<std::int32_t, capacity> r{}, g{}, b{}, a{}, c{}, wa{}, wb{};
};

MixTable mix_table(const MixList& mix) {
    MixTable t;
    t.count = mix.count;
    for (int i = 0; i < MixTable::capacity; ++i) {
        const MixEntry& e = mix.entries[std::min(i, mix.count - 1)];
        t.r[i] = e.color.r;
        t.g[i] = e.color.g;
        t.b[i] = e.color.b;
        t.a[i] = e.a;
        t.c[i] = e.b;
        t.wa[i] = e.weight_a;
        t.wb[i] = e.weight_b;
    }
    return t;
}

}  // namespace

void reduce_colors(const ConversionSettings& s, const PaletteSet& palette, const PixelMaps& maps,
                   WorkImage& work, Workers& workers) {
    if (!s.col_reduction) return;
    const Palette& pal = palette.working;
    const bool brightness = s.brightness != 0;
    const MixList mix = build_mix_list(pal, s);
    const MixTable table = mix_table(mix);
    // The entries of the list, padded to the kernels' multiple of 8 with copies of the last one,
    // which never win over it: 136 of the 376 the table has room for at the ratio 8.
    const int scored = (table.count + 7) / 8 * 8;
    const std::int32_t weight[3] = {brightness ? 2 : 1, brightness ? 4 : 1, 1};
    // The palette by channel, for the distances to all 16 colours at once (color_distance's).
    std::array<std::int32_t, 16> pal_r, pal_g, pal_b;
    for (int k = 0; k < 16; ++k) {
        pal_r[k] = pal[k].r;
        pal_g[k] = pal[k].g;
        pal_b[k] = pal[k].b;
    }

    for_row_bands(workers, work.height, [&](int first, int end) {
        // Pictures repeat colours: remember the last winners by colour (each band its own).
        constexpr int cache_size = 4096;
        std::array<std::uint32_t, cache_size> cached_color;
        std::array<std::uint16_t, cache_size> cached_winner;
        cached_color.fill(0xFFFFFFFF);

        for (int y = first; y < end; ++y) {
            for (int x = 0; x < work.width; ++x) {
                Pixel& p = work[y * max_width + x];
                const auto key = static_cast<std::uint32_t>(p.r << 16 | p.g << 8 | p.b);
                const std::uint32_t slot = (key * 2654435761u) >> 20;
                int index;
                if (cached_color[slot] == key) {
                    index = cached_winner[slot];
                } else {
                    std::int32_t to_palette[16];
                    kernels::distances(pal_r.data(), pal_g.data(), pal_b.data(), weight, p.r, p.g,
                                       p.b, to_palette);
                    index = kernels::best_mix(table.r.data(), table.g.data(), table.b.data(),
                                              table.a.data(), table.c.data(), table.wa.data(),
                                              table.wb.data(), scored, weight, to_palette, p.r, p.g,
                                              p.b);
                    cached_color[slot] = key;
                    cached_winner[slot] = static_cast<std::uint16_t>(index);
                }
                const Rgb& winner = mix.entries[index].color;
                std::int32_t e = maps.edge[y * max_width + x];
                if (e < 255) e = 0;
                p.r = (p.r * e + (255 - e) * winner.r) / 255;
                p.g = (p.g * e + (255 - e) * winner.g) / 255;
                p.b = (p.b * e + (255 - e) * winner.b) / 255;
            }
        }
    });
}

}  // namespace lumaweave
