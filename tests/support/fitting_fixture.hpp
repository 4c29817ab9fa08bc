// Pictures prepared by hand up to the block fitting.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>

#include "formats/vram.hpp"
#include "support/conversion_fixture.hpp"

namespace lumaweave::test {

// Colour k of a 0..7 palette table on the 0..255 scale (Hue 0).
inline Color table_color(const PaletteTable& t, int k) {
    auto v = [&](int i) { return static_cast<std::uint8_t>(t[3 * k + i] * 255 / 7); };
    return {v(0), v(1), v(2)};
}

// Column x of a row of MSX1 colour numbers given as hex digits, such as "F8F8F8F8".
inline Color msx1_at(const char* row, int x) {
    return table_color(DefaultPalettes{}.msx1, row[x] <= '9' ? row[x] - '0' : row[x] - 'A' + 10);
}

inline Color grey(int v) {
    return {std::uint8_t(v), std::uint8_t(v), std::uint8_t(v)};
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

inline BlockBytes block_bytes(const Conversion& conv, int x, int y) {
    return {conv.vram[vram::pattern_offset(x, y)], conv.vram[vram::pattern_offset(x, y + 1)],
            conv.vram[vram::colour_offset(x, y)], conv.vram[vram::colour_offset(x, y + 1)]};
}

// Picture, weights, error scales and palette (MSX1 when none) as given, fitting tables built.
struct PreparedPicture {
    int width = 8, height = 2;
    std::function<Color(int, int)> color;
    ConversionSettings settings;
    std::function<std::int32_t(int, int)> weight = [](int, int) { return 1; };
    std::function<std::int32_t(int, int)> error_scale = [](int, int) { return 255; };
    std::optional<Palette> palette;

    std::unique_ptr<Conversion> build() const {
        auto conv = conversion_with(width, height, color, settings);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                conv->work[y * max_width + x].w = weight(x, y);
                conv->error_scale[y * max_width + x] = error_scale(x, y);
            }
        }
        if (palette) {
            conv->working = conv->display = *palette;
            for (int k = 0; const Rgb& c : *palette)
                conv->luminance[k++] = 30 * c.r + 59 * c.g + 11 * c.b;
        } else {
            setup_palette(*conv, DefaultPalettes{}.msx1, std::nullopt);
        }
        build_distance_tables(*conv);
        build_fitting_tables(*conv);
        return conv;
    }

    // Main pass and refinement by both searches; returns the straightforward one's conversion.
    std::unique_ptr<Conversion> fit_both() const {
        std::unique_ptr<Conversion> conv[2];
        for (bool reference : {false, true}) {
            conv[reference] = build();
            conv[reference]->reference_fitting = reference;
            fit_blocks(*conv[reference]);
            refine_blocks(*conv[reference]);
        }
        EXPECT_TRUE(conv[0]->vram == conv[1]->vram) << "the fast search chose other entries";
        return std::move(conv[1]);
    }
};

}  // namespace lumaweave::test
