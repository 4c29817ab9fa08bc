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

// A small deterministic generator, so that "random" pictures and mutations repeat exactly.
class Lcg {
  public:
    explicit Lcg(std::uint32_t seed) : state_(seed) {}
    std::uint32_t next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    std::uint32_t below(std::uint32_t n) { return next() % n; }

  private:
    std::uint32_t state_;
};

// A picture of pseudo-random colours.
inline std::vector<std::uint8_t> make_noise_bmp(int width, int height, std::uint32_t seed) {
    Lcg lcg(seed);
    return make_bmp(width, height, [&lcg](int, int) {
        return Color{static_cast<std::uint8_t>(lcg.next()), static_cast<std::uint8_t>(lcg.next()),
                     static_cast<std::uint8_t>(lcg.next())};
    });
}

}  // namespace lumaweave::test
