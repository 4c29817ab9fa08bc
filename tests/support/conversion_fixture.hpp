// Conversions prepared by hand, for tests that run one stage on numbers they choose.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "convert/convert.hpp"
#include "support/test_pictures.hpp"

namespace lumaweave::test {

// A conversion whose WorkImage holds color(x, y) in the picture area and zero elsewhere, as the
// source loading leaves it, with the given settings.
inline std::unique_ptr<Conversion> conversion_with(int width, int height,
                                                   const std::function<Color(int, int)>& color,
                                                   const ConversionSettings& settings = {}) {
    auto conv = make_conversion();
    conv->settings = settings;
    conv->width = width;
    conv->height = height;
    std::memset(conv->work.data(), 0, sizeof conv->work);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Color c = color(x, y);
            conv->work[y * max_width + x] = {c.r, c.g, c.b, 0};
            conv->source[y * max_width + x] = {c.r, c.g, c.b};
        }
    }
    return conv;
}

inline std::unique_ptr<Conversion> flat_conversion(int width, int height, Color c,
                                                   const ConversionSettings& settings = {}) {
    return conversion_with(
        width, height, [c](int, int) { return c; }, settings);
}

}  // namespace lumaweave::test
