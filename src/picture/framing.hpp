// Framing a picture of any size for the 256 x 192 screen: the options, and where the picture's
// pixels go (the plan that the libvips module carries out). No libvips here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumaweave::picture {

enum class Framing {
    none,     // the picture as it is: the conversion's size rules apply
    fit,      // scaled to the largest size that fits, centred, the rest background
    fill,     // scaled to cover the screen, the middle kept
    stretch,  // scaled to the screen's size, whatever its shape
    pad,      // unscaled, centred; the middle kept when it is larger
};

enum class Resample {
    smooth,   // a high-quality kernel in linear light
    nearest,  // nearest neighbour, by whole-number factors under fit and fill: no new colours
};

struct Colour {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Colour&) const = default;
};

struct FramingOptions {
    Framing framing = Framing::none;
    // Width over height of an MSX pixel as the screen shows it (8:7 on a 60 Hz screen); fit and
    // fill narrow the picture by it so that it looks right there.
    double pixel_aspect = 1.0;
    Colour background;  // padding, and what transparent pixels are laid over
    Resample resample = Resample::smooth;
};

// The names the command line and the dialog use.
std::string_view framing_name(Framing framing);
std::optional<Framing> parse_framing(std::string_view name);
std::optional<Resample> parse_resample(std::string_view name);
// "8:7", "1.143": a ratio from 0.25 to 4.
std::optional<double> parse_pixel_aspect(std::string_view text);
// "#rrggbb", "#rgb" or one of the names of colour_names().
std::optional<Colour> parse_colour(std::string_view text);
std::vector<std::string_view> colour_names();
std::string colour_text(Colour colour);  // "#rrggbb"

// The screen a framed picture fills.
inline constexpr int screen_width = 256, screen_height = 192;

// Where an upright source of width x height goes: its part crop_* (in source pixels) is scaled
// to scaled_* and put with its top-left corner at (left, top) of a canvas_width x canvas_height
// picture; whatever falls outside the canvas is cut off and the canvas around it is background.
struct FramePlan {
    int crop_x = 0, crop_y = 0, crop_width = 0, crop_height = 0;
    int scaled_width = 0, scaled_height = 0;
    int left = 0, top = 0;
    int canvas_width = screen_width, canvas_height = screen_height;
    bool nearest = false;
    // With nearest under fit and fill: scaled = crop * up / down on each axis exactly (up or
    // down is 1).
    bool whole_factors = false;
    int up_x = 1, up_y = 1, down_x = 1, down_y = 1;

    // Nothing to do: the source is the canvas.
    bool identity(int width, int height) const;
};

// The plan for a source of width x height (both at least 1) under a framing other than none.
// A horizontal position correction widens the canvas by 8 columns, 4 on each side, so that the
// correction shifts the framed picture rather than cutting it.
FramePlan plan_frame(int width, int height, const FramingOptions& options, int correction = 0);

// Red, green, blue, alpha bytes laid over the background: red, green, blue bytes.
void flatten(const std::uint8_t* rgba, std::size_t pixels, Colour background, std::uint8_t* rgb);

}  // namespace lumaweave::picture
