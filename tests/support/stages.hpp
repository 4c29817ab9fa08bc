// The data of one conversion's stages prepared by hand, for tests that run a stage or the block
// fitting on numbers they choose.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "convert/fitting.hpp"
#include "convert/reference/reference.hpp"
#include "convert/stages.hpp"
#include "formats/vram.hpp"
#include "support/test_pictures.hpp"

namespace lumaweave::test {

using Vram = std::array<std::uint8_t, vram::file_size>;

// What the stages read and write (several megabytes: held on the heap).
struct Stages {
    ConversionSettings settings;
    WorkImage work;
    PixelMaps maps;
    DistanceMap distance;
    PaletteSet palette;
    FittingTables tables;
    Vram vram{};

    FitInput input() const { return {settings, work, maps, distance, palette, tables}; }
    VramImage vram_image() { return VramImage(vram); }
    Pixel& at(int x, int y) { return work[y * max_width + x]; }
};

// color(x, y) in a picture of the given size and zero beyond it, as start_work_image leaves it;
// weights, maps and distances zero; the MSX1 palette (Hue 0).
inline std::unique_ptr<Stages> stages_with(int width, int height,
                                           const std::function<Color(int, int)>& color,
                                           const ConversionSettings& settings = {}) {
    auto st = std::make_unique<Stages>();
    st->settings = settings;
    st->work.width = width;
    st->work.height = height;
    st->work.pixels.fill({0, 0, 0, 0});
    st->maps.edge.fill(0);
    st->maps.error_scale.fill(0);
    for (auto& d : st->distance)
        d.fill(0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Color c = color(x, y);
            st->at(x, y) = {c.r, c.g, c.b, 0};
        }
    }
    st->palette = setup_palette(settings, st->work, DefaultPalettes{}.msx1, std::nullopt);
    return st;
}

inline Color grey(int v) {
    return {std::uint8_t(v), std::uint8_t(v), std::uint8_t(v)};
}

// Column x of a row of MSX1 colour numbers given as hex digits, such as "F8F8F8F8".
inline Color msx1_at(const char* row, int x) {
    const int k = row[x] <= '9' ? row[x] - '0' : row[x] - 'A' + 10;
    const auto v = [k](int c) { return std::uint8_t(DefaultPalettes{}.msx1[3 * k + c] * 255 / 7); };
    return {v(0), v(1), v(2)};
}

// Colour `rest` but the colours given by number.
inline Palette palette_of(Rgb rest, std::initializer_list<std::pair<int, Rgb>> given) {
    Palette p;
    p.fill(rest);
    for (const auto& [k, c] : given)
        p[k] = c;
    return p;
}

// The 8x2 block at (x, y): upper and lower pattern, upper and lower pair.
using BlockBytes = std::array<int, 4>;
inline BlockBytes block_bytes(std::span<const std::uint8_t> vram, int x, int y) {
    return {vram[vram::pattern_offset(x, y)], vram[vram::pattern_offset(x, y + 1)],
            vram[vram::colour_offset(x, y)], vram[vram::colour_offset(x, y + 1)]};
}

// Picture, weights, error scales and palette (MSX1 when none) as given, distances and fitting
// tables built.
struct PreparedPicture {
    int width = 8, height = 2;
    std::function<Color(int, int)> color;
    ConversionSettings settings;
    std::function<std::int32_t(int, int)> weight = [](int, int) { return 1; };
    std::function<std::int32_t(int, int)> error_scale = [](int, int) { return 255; };
    std::optional<Palette> palette;

    std::unique_ptr<Stages> build() const {
        auto st = stages_with(width, height, color, settings);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                st->at(x, y).w = weight(x, y);
                st->maps.error_scale[y * max_width + x] = error_scale(x, y);
            }
        }
        if (palette) {
            st->palette.working = st->palette.display = *palette;
            for (int k = 0; const Rgb& c : *palette)
                st->palette.luminance[k++] = 30 * c.r + 59 * c.g + 11 * c.b;
        }
        build_distance_map(settings, st->palette, st->work, st->distance);
        build_fitting_tables(settings, st->palette, st->tables);
        return st;
    }

    // Main pass and refinement by both searches, which must agree; returns the VRAM image.
    Vram fit_both() const {
        auto st = build();
        const FitInput in = st->input();
        auto fast = std::make_unique<FitState>();
        auto ref = std::make_unique<reference::State>();
        auto scratch = std::make_unique<RefineScratch>();
        Vram by_reference{};
        fit_blocks(in, *fast, st->vram_image());
        refine_blocks(in, *fast, *scratch, st->vram_image());
        reference::fit_blocks(in, *ref, by_reference);
        reference::refine_blocks(in, *ref, *scratch, by_reference);
        EXPECT_TRUE(st->vram == by_reference) << "the fast search chose other entries";
        return by_reference;
    }
};

}  // namespace lumaweave::test
