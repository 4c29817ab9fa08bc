// Pictures prepared by hand up to the block fitting, fitted with the fast search and with the
// straightforward one, which must write the same bytes.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <utility>

#include "convert/convert.hpp"
#include "formats/vram.hpp"
#include "support/conversion_fixture.hpp"

namespace lumaweave::test {

// The MSX1 palette as the fitting sees it (0..255, Hue 0).
// clang-format off
inline constexpr std::array<Color, 16> msx1 = {{
    {0, 0, 0}, {0, 0, 0}, {109, 182, 109}, {145, 218, 145}, {109, 72, 255}, {145, 109, 255},
    {182, 109, 72}, {109, 182, 218}, {218, 109, 72}, {218, 145, 109}, {182, 218, 109},
    {218, 218, 145}, {72, 145, 36}, {182, 109, 182}, {182, 182, 182}, {255, 255, 255}}};
// clang-format on

// Column x of a row of MSX1 colour numbers given as hex digits, such as "F8F8F8F8".
inline Color msx1_at(const char* row, int x) {
    return msx1[row[x] <= '9' ? row[x] - '0' : row[x] - 'A' + 10];
}

inline Color grey(int v) {
    const auto c = static_cast<std::uint8_t>(v);
    return {c, c, c};
}

// Colour `rest` but the colours given by number.
inline Palette palette_of(Rgb rest, std::initializer_list<std::pair<int, Rgb>> given) {
    Palette p;
    p.fill(rest);
    for (const auto& [k, c] : given)
        p[k] = c;
    return p;
}

// The bytes written for the 8x2 block at (x, y): upper and lower pattern, upper and lower pair.
using BlockBytes = std::array<int, 4>;

inline BlockBytes block_bytes(const Conversion& conv, int x, int y) {
    return {conv.vram[vram::pattern_offset(x, y)], conv.vram[vram::pattern_offset(x, y + 1)],
            conv.vram[vram::colour_offset(x, y)], conv.vram[vram::colour_offset(x, y + 1)]};
}

// A conversion prepared up to the fitting: picture, weights and error scales as given, the
// palette as given (MSX1 when none), and every fitting table built from them.
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

    // The main pass and the refinement with both searches; returns the straightforward one's.
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
