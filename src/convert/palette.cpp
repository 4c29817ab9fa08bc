// The working palette, the display palette and the palette luminance, with the hue search.
#include <algorithm>
#include <cstring>

#include "convert/stages.hpp"

namespace lumaweave {

namespace {

using Trial = std::array<std::array<std::int32_t, 3>, 16>;

// Offset index 13 is (0, 0, 0): a position whose every candidate duplicates another colour,
// met before any offset was chosen, keeps its colour.
constexpr int unchanged_offset = 13;

std::array<std::int32_t, 3> offset_of(int k) {
    return {k / 9 - 1, (k / 3) % 3 - 1, k % 3 - 1};
}

std::int32_t pow6(std::int32_t d) {
    const std::int32_t d3 = d * d * d;
    return d3 * d3;
}

std::int64_t hue_score(const Trial& trial, const std::array<std::uint32_t, 512>& histogram) {
    std::int64_t score = 0;
    for (int m = 0; m < 512; ++m) {
        if (histogram[m] == 0) continue;  // adds nothing
        const std::int32_t br = m / 64, bg = (m / 8) % 8, bb = m % 8;
        std::int32_t max_d = -1;
        for (const auto& t : trial) {
            const std::int32_t d = 8 * pow6(t[0] - br) + 64 * pow6(t[1] - bg) + pow6(t[2] - bb);
            max_d = std::max(max_d, d);
        }
        score += std::int64_t{max_d} * histogram[m];
    }
    return score;
}

// Moves every searchable colour by -1, 0 or +1 per channel to the offset that maximises the
// spread score over the picture's colour histogram, until the palette stops changing.
void hue_search(const ConversionSettings& s, const WorkImage& work, Trial& working,
                bool from_companion) {
    std::array<std::uint32_t, 512> histogram{};
    for (int y = 0; y < work.height; ++y) {
        for (int x = 0; x < work.width; ++x) {
            const Pixel& p = work[y * max_width + x];
            ++histogram[(p.r / 32) * 64 + (p.g / 32) * 8 + p.b / 32];
        }
    }
    Trial trial = working;
    Trial previous = working;
    int k = unchanged_offset;
    for (int iteration = 0; iteration < 64; ++iteration) {
        for (int p = 2 - (from_companion ? 1 : 0); p <= 14; ++p) {
            std::int64_t best = -1;
            if (s.index_0) {
                k = 0;
            } else {
                for (int kk = 0; kk < 27; ++kk) {
                    const auto off = offset_of(kk);
                    for (int c = 0; c < 3; ++c)
                        trial[p][c] = std::clamp(working[p][c] + off[c], 0, 7);
                    bool duplicate = false;
                    for (int i = 0; i < 16 && !duplicate; ++i) {
                        duplicate = i != p && trial[i] == trial[p];
                    }
                    if (duplicate) continue;
                    const std::int64_t score = hue_score(trial, histogram);
                    if (score > best) {
                        best = score;
                        k = kk;
                    }
                }
            }
            const auto off = offset_of(k);
            for (int c = 0; c < 3; ++c)
                trial[p][c] = working[p][c] + off[c];
        }
        if (trial == previous) break;
        previous = trial;
    }
    working = trial;
}

}  // namespace

PaletteSet setup_palette(const ConversionSettings& s, const WorkImage& work,
                         const PaletteTable& table, const std::optional<PaletteTable>& companion) {
    PaletteSet out;
    Trial working;
    for (int i = 0; i < 16; ++i) {
        for (int c = 0; c < 3; ++c)
            working[i][c] = std::clamp(table[3 * i + c], 0, 7);
    }
    if (companion) {
        for (int i = 0; i < 16; ++i) {
            for (int c = 0; c < 3; ++c)
                working[i][c] = (*companion)[3 * i + c];
        }
    }
    const Trial display = working;
    const int hue = s.hue;
    if (hue != 0) hue_search(s, work, working, companion.has_value());

    const std::int32_t g = hue > 0 ? 2 * hue : hue;
    for (int i = 0; i < 16; ++i) {
        std::int32_t w[3], d[3];
        for (int c = 0; c < 3; ++c) {
            const std::int32_t s = working[i][c], o = display[i][c];
            w[c] = (255 * g * s + 255 * (8 - g) * o) / 56;
            d[c] = 255 * o / 7;
        }
        out.working[i] = {w[0], w[1], w[2]};
        out.display[i] = {d[0], d[1], d[2]};
        out.luminance[i] = 30 * w[0] + 59 * w[1] + 11 * w[2];
    }
    return out;
}

PaletteSet setup_display_palette(const ConversionSettings& s, const WorkImage& work,
                                 const Palette& colours) {
    // The hue search moves colours by steps of the MSX scale: it runs on the display's colours
    // rounded to that scale, and the working palette moves from the true colours by the same
    // share of a step as the table's does (hue 0 leaves it on them exactly).
    Trial levels;
    for (int i = 0; i < 16; ++i) {
        const std::int32_t c[3] = {colours[i].r, colours[i].g, colours[i].b};
        for (int k = 0; k < 3; ++k)
            levels[i][k] = std::clamp((7 * c[k] + 127) / 255, 0, 7);
    }
    Trial working = levels;
    if (s.hue != 0) hue_search(s, work, working, false);
    const std::int32_t g = s.hue > 0 ? 2 * s.hue : s.hue;
    PaletteSet out;
    for (int i = 0; i < 16; ++i) {
        const std::int32_t c[3] = {colours[i].r, colours[i].g, colours[i].b};
        std::int32_t w[3];
        for (int k = 0; k < 3; ++k)
            w[k] = c[k] + 255 * g * (working[i][k] - levels[i][k]) / 56;
        out.working[i] = {w[0], w[1], w[2]};
        out.display[i] = colours[i];
        out.luminance[i] = 30 * w[0] + 59 * w[1] + 11 * w[2];
    }
    return out;
}

}  // namespace lumaweave
