// Running the block fitting on pictures prepared by hand or converted from BMP files, with the
// fast search and with the straightforward one that walks the candidate lists entry by entry.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "convert/convert.hpp"
#include "formats/vram.hpp"
#include "io/config.hpp"
#include "support/conversion_fixture.hpp"
#include "support/test_pictures.hpp"

namespace lumaweave::test {

// The MSX1 palette on the 0..255 scale (Hue 0), and its luminance 30 R + 59 G + 11 B:
//   0, 1 black 0       2 (109,182,109) 15207   3 (145,218,145) 18807   4 (109, 72,255) 10323
//   5 (145,109,255) 13586   6 (182,109, 72) 12683   7 (109,182,218) 16406   8 (218,109, 72) 13763
//   9 (218,145,109) 16294  10 (182,218,109) 19521  11 (218,218,145) 21000  12 ( 72,145, 36) 11111
//  13 (182,109,182) 13893  14 (182,182,182) 18200  15 (255,255,255) 25500
inline constexpr std::array<Color, 16> msx1 = {{{0, 0, 0},
                                                {0, 0, 0},
                                                {109, 182, 109},
                                                {145, 218, 145},
                                                {109, 72, 255},
                                                {145, 109, 255},
                                                {182, 109, 72},
                                                {109, 182, 218},
                                                {218, 109, 72},
                                                {218, 145, 109},
                                                {182, 218, 109},
                                                {218, 218, 145},
                                                {72, 145, 36},
                                                {182, 109, 182},
                                                {182, 182, 182},
                                                {255, 255, 255}}};

// The bytes the fitting wrote for the 8x2 block at (x, y).
struct BlockBytes {
    int upper_pattern, lower_pattern, upper_pair, lower_pair;
    bool operator==(const BlockBytes&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const BlockBytes& b) {
    auto hex = [&out](int v) {
        const char* digits = "0123456789ABCDEF";
        out << digits[(v >> 4) & 15] << digits[v & 15];
    };
    out << "patterns ";
    hex(b.upper_pattern);
    out << "/";
    hex(b.lower_pattern);
    out << ", pairs ";
    hex(b.upper_pair);
    out << "/";
    hex(b.lower_pair);
    return out;
}

inline BlockBytes block_bytes(const Conversion& conv, int x, int y) {
    return {conv.vram[vram::pattern_offset(x, y)], conv.vram[vram::pattern_offset(x, y + 1)],
            conv.vram[vram::colour_offset(x, y)], conv.vram[vram::colour_offset(x, y + 1)]};
}

// Pattern byte of one row of a block: bit 7 - j set where the pixel in column j shows `colour`.
inline int bits_where(const std::function<int(int)>& colour_at, int colour) {
    int bits = 0;
    for (int j = 0; j < 8; ++j) {
        if (colour_at(j) == colour) bits |= 0x80 >> j;
    }
    return bits;
}

inline std::int32_t luminance_of(const Rgb& c) {
    return 30 * c.r + 59 * c.g + 11 * c.b;
}

// Sets the working palette (and the display palette, as with Hue 0) and its luminance.
inline void set_working_palette(Conversion& conv, const Palette& palette) {
    conv.working = palette;
    conv.display = palette;
    for (int k = 0; k < 16; ++k)
        conv.luminance[k] = luminance_of(palette[k]);
}

// A conversion prepared by hand up to the fitting: picture, weights and error scales as given,
// the palette as given (MSX1 when none), and every fitting table built from them.
struct PreparedPicture {
    int width = 16, height = 16;
    std::function<Color(int, int)> color;
    ConversionSettings settings;
    std::function<std::int32_t(int, int)> weight = [](int, int) { return 256; };
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
            set_working_palette(*conv, *palette);
        } else {
            setup_palette(*conv, DefaultPalettes{}.msx1, std::nullopt);
        }
        build_distance_tables(*conv);
        build_fitting_tables(*conv);
        return conv;
    }

    // Runs the main pass and the refinement with the given search.
    std::unique_ptr<Conversion> fit(bool reference) const {
        auto conv = build();
        conv->reference_fitting = reference;
        fit_blocks(*conv);
        refine_blocks(*conv);
        return conv;
    }
};

// Fits the picture with both searches, expects the same bytes, and returns the straightforward
// search's conversion.
inline std::unique_ptr<Conversion> fit_both(const PreparedPicture& picture) {
    auto reference = picture.fit(true);
    auto fast = picture.fit(false);
    EXPECT_TRUE(reference->vram == fast->vram) << "the fast search chose other entries";
    return reference;
}

// Converts a BMP file (with an optional companion palette file) with the given settings and
// search.
inline std::unique_ptr<Conversion> convert_bmp(
    const std::vector<std::uint8_t>& bmp, const ConversionSettings& settings, bool reference,
    const DefaultPalettes& palettes = {}, const std::vector<std::uint8_t>* companion = nullptr) {
    ScratchDir dir;
    write_file(dir / "p.bmp", bmp);
    if (companion) write_file(dir / "p.s05", *companion);
    auto conv = make_conversion();
    conv->reference_fitting = reference;
    ScratchPool pool;
    const std::string message =
        convert_file(*conv, pool, (dir / "p.bmp").string(), settings, palettes);
    EXPECT_EQ(message, "");
    return conv;
}

// Converts with both searches, expects the same VRAM image and preview, and returns the
// straightforward search's conversion.
inline std::unique_ptr<Conversion> convert_both(const std::vector<std::uint8_t>& bmp,
                                                const ConversionSettings& settings,
                                                const DefaultPalettes& palettes = {}) {
    auto reference = convert_bmp(bmp, settings, true, palettes);
    auto fast = convert_bmp(bmp, settings, false, palettes);
    EXPECT_TRUE(reference->vram == fast->vram) << "the fast search chose other entries";
    EXPECT_TRUE(reference->preview == fast->preview);
    return reference;
}

}  // namespace lumaweave::test
