// The data of one conversion's stages, prepared by hand, for tests that run a stage on numbers
// they choose; and whole conversions of files.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "convert/fitting.hpp"
#include "convert/stages.hpp"
#include "lumaweave.hpp"
#include "support/test_pictures.hpp"

namespace lumaweave::test {

// What the stages read and write, allocated once on the heap (several megabytes).
struct Stages {
    ConversionSettings settings;
    WorkImage work;
    PixelMaps maps;
    DistanceMap distance;
    PaletteSet palette;
    FittingTables tables;
    std::array<std::uint8_t, vram::file_size> vram{};

    FitInput input() const { return {settings, work, maps, distance, palette, tables}; }
    VramImage vram_image() { return VramImage(vram); }
    Pixel& at(int x, int y) { return work[y * max_width + x]; }
    // The palette the conversion would set up from the MSX1 table for the picture as it is.
    void msx1_palette() {
        palette = setup_palette(settings, work, DefaultPalettes{}.msx1, std::nullopt);
    }
};

// A WorkImage holding color(x, y) in the picture area (any size, e.g. one 8x2 block) and zero
// elsewhere, as start_work_image leaves it; maps and distances zero.
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
    return st;
}

inline std::unique_ptr<Stages> flat_stages(int width, int height, Color c,
                                           const ConversionSettings& settings = {}) {
    return stages_with(
        width, height, [c](int, int) { return c; }, settings);
}

// The result of converting a file, which must convert.
inline Result converted(const std::filesystem::path& source,
                        const ConversionSettings& settings = {},
                        const DefaultPalettes& palettes = {}) {
    Converter converter;
    const Result& r = converter.convert_file(source.string(), settings, palettes);
    EXPECT_TRUE(r.ok()) << source << ": " << shown_text(r.outcome);
    return r;
}

inline std::vector<std::uint8_t> converted_vram(const std::filesystem::path& source,
                                                const ConversionSettings& settings = {},
                                                const DefaultPalettes& palettes = {}) {
    return converted(source, settings, palettes).vram;
}

}  // namespace lumaweave::test
