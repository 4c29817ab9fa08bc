#include "picture/framing.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace lumaweave::picture {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return out;
}

struct NamedColour {
    std::string_view name;
    Colour colour;
};
// The basic colour names of the web, which most people know.
constexpr NamedColour named_colours[] = {
    {"black", {0, 0, 0}},      {"white", {255, 255, 255}},  {"gray", {128, 128, 128}},
    {"grey", {128, 128, 128}}, {"silver", {192, 192, 192}}, {"red", {255, 0, 0}},
    {"maroon", {128, 0, 0}},   {"yellow", {255, 255, 0}},   {"olive", {128, 128, 0}},
    {"lime", {0, 255, 0}},     {"green", {0, 128, 0}},      {"aqua", {0, 255, 255}},
    {"cyan", {0, 255, 255}},   {"teal", {0, 128, 128}},     {"blue", {0, 0, 255}},
    {"navy", {0, 0, 128}},     {"fuchsia", {255, 0, 255}},  {"magenta", {255, 0, 255}},
    {"purple", {128, 0, 128}},
};

constexpr std::string_view framing_names[] = {"none", "fit", "fill", "stretch", "pad"};

std::optional<double> parse_number(std::string_view text) {
    double v = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(v)) return std::nullopt;
    return v;
}

// A scale factor that is a whole number or the inverse of one: up / down, one of them 1.
struct Whole {
    int up = 1, down = 1;
    double value() const { return static_cast<double>(up) / down; }
};

// The whole factor closest to v (v > 0), measured as a ratio.
Whole snap(double v) {
    if (v >= 1) {
        const int n = static_cast<int>(std::floor(v));
        return v * v >= static_cast<double>(n) * (n + 1) ? Whole{n + 1, 1} : Whole{n, 1};
    }
    const int k = static_cast<int>(std::floor(1 / v));
    // Between 1/(k+1) and 1/k: the closer by ratio.
    return v * v >= 1.0 / (static_cast<double>(k) * (k + 1)) ? Whole{1, k} : Whole{1, k + 1};
}

int scaled(int size, Whole f) {
    return static_cast<int>(static_cast<long long>(size) * f.up / f.down);
}

// Whole factors for fit (the largest that fits) or fill (the smallest that covers): the vertical
// factor is searched, the horizontal one follows it through the pixel aspect.
bool whole_factors(int width, int height, double aspect, bool cover, Whole& fx, Whole& fy) {
    std::vector<Whole> candidates;  // ascending
    for (int k = std::max(width, height); k >= 2; --k)
        candidates.push_back({1, k});
    for (int n = 1; n <= 2 * std::max(screen_width, screen_height); ++n)
        candidates.push_back({n, 1});
    auto take = [&](const Whole& y) {
        const Whole x = snap(y.value() / aspect);
        const int w = scaled(width, x), h = scaled(height, y);
        if (w < 1 || h < 1) return false;
        const bool ok = cover ? w >= screen_width && h >= screen_height
                              : w <= screen_width && h <= screen_height;
        if (ok) fx = x, fy = y;
        return ok;
    };
    if (cover) return std::any_of(candidates.begin(), candidates.end(), take);
    return std::any_of(candidates.rbegin(), candidates.rend(), take);
}

int clamp_round(double v, int low, int high) {
    return std::clamp(static_cast<int>(std::lround(v)), low, high);
}

}  // namespace

std::string_view framing_name(Framing framing) {
    return framing_names[static_cast<int>(framing)];
}

std::optional<Framing> parse_framing(std::string_view name) {
    const std::string n = lower(name);
    for (int i = 0; i < 5; ++i) {
        if (framing_names[i] == n) return static_cast<Framing>(i);
    }
    return std::nullopt;
}

std::optional<Resample> parse_resample(std::string_view name) {
    const std::string n = lower(name);
    if (n == "smooth") return Resample::smooth;
    if (n == "nearest") return Resample::nearest;
    return std::nullopt;
}

std::optional<double> parse_pixel_aspect(std::string_view text) {
    std::optional<double> v;
    if (const std::size_t colon = text.find(':'); colon != std::string_view::npos) {
        const std::optional<double> w = parse_number(text.substr(0, colon));
        const std::optional<double> h = parse_number(text.substr(colon + 1));
        if (w && h && *h > 0) v = *w / *h;
    } else {
        v = parse_number(text);
    }
    if (!v || *v < 0.25 || *v > 4) return std::nullopt;
    return v;
}

std::optional<Colour> parse_colour(std::string_view text) {
    const std::string t = lower(text);
    for (const NamedColour& named : named_colours) {
        if (named.name == t) return named.colour;
    }
    if (t.size() != 4 && t.size() != 7) return std::nullopt;
    if (t[0] != '#') return std::nullopt;
    unsigned v[6];
    for (std::size_t i = 1; i < t.size(); ++i) {
        const char c = t[i];
        if (c >= '0' && c <= '9') {
            v[i - 1] = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            v[i - 1] = static_cast<unsigned>(c - 'a' + 10);
        } else {
            return std::nullopt;
        }
    }
    auto byte = [](unsigned hi, unsigned lo) { return static_cast<std::uint8_t>(hi << 4 | lo); };
    if (t.size() == 4) return Colour{byte(v[0], v[0]), byte(v[1], v[1]), byte(v[2], v[2])};
    return Colour{byte(v[0], v[1]), byte(v[2], v[3]), byte(v[4], v[5])};
}

std::vector<std::string_view> colour_names() {
    std::vector<std::string_view> names;
    for (const NamedColour& named : named_colours)
        names.push_back(named.name);
    return names;
}

std::string colour_text(Colour colour) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out = "#";
    for (const std::uint8_t v : {colour.r, colour.g, colour.b}) {
        out += digits[v >> 4];
        out += digits[v & 15];
    }
    return out;
}

bool FramePlan::identity(int width, int height) const {
    return crop_x == 0 && crop_y == 0 && crop_width == width && crop_height == height &&
           scaled_width == width && scaled_height == height && left == 0 && top == 0 &&
           canvas_width == width && canvas_height == height;
}

FramePlan plan_frame(int width, int height, const FramingOptions& options, int correction) {
    FramePlan p;
    p.crop_width = width;
    p.crop_height = height;
    p.nearest = options.resample == Resample::nearest;
    const double aspect = options.pixel_aspect;
    // The source's width in screen pixels, which are `aspect` times as wide as they are high.
    const double shown_width = width / aspect;
    Whole fx, fy;
    switch (options.framing) {
        case Framing::none:
        case Framing::stretch:
            p.scaled_width = screen_width;
            p.scaled_height = screen_height;
            break;
        case Framing::fit:
            if (p.nearest && whole_factors(width, height, aspect, false, fx, fy)) {
                p.whole_factors = true;
                p.scaled_width = scaled(width, fx);
                p.scaled_height = scaled(height, fy);
            } else {
                const double s = std::min(screen_width / shown_width,
                                          static_cast<double>(screen_height) / height);
                p.scaled_width = clamp_round(shown_width * s, 1, screen_width);
                p.scaled_height = clamp_round(height * s, 1, screen_height);
            }
            break;
        case Framing::fill:
            if (p.nearest && whole_factors(width, height, aspect, true, fx, fy)) {
                // Only the columns and rows that reach the screen are scaled.
                p.whole_factors = true;
                p.crop_width = std::min(width, (screen_width * fx.down + fx.up - 1) / fx.up);
                p.crop_height = std::min(height, (screen_height * fy.down + fy.up - 1) / fy.up);
                p.scaled_width = scaled(p.crop_width, fx);
                p.scaled_height = scaled(p.crop_height, fy);
            } else {
                // The middle part whose shape on the screen is the screen's.
                const double screen_shape = screen_width * aspect / screen_height;
                if (static_cast<double>(width) / height >= screen_shape) {
                    p.crop_width = clamp_round(height * screen_shape, 1, width);
                } else {
                    p.crop_height = clamp_round(width / screen_shape, 1, height);
                }
                p.scaled_width = screen_width;
                p.scaled_height = screen_height;
            }
            break;
        case Framing::pad:
            p.crop_width = std::min(width, screen_width);
            p.crop_height = std::min(height, screen_height);
            p.scaled_width = p.crop_width;
            p.scaled_height = p.crop_height;
            break;
    }
    if (p.whole_factors) {
        p.up_x = fx.up, p.down_x = fx.down, p.up_y = fy.up, p.down_y = fy.down;
    }
    p.crop_x = (width - p.crop_width) / 2;
    p.crop_y = (height - p.crop_height) / 2;
    // Centred; a picture larger than the screen loses as much on each side.
    p.left = (screen_width - p.scaled_width) / 2;
    p.top = (screen_height - p.scaled_height) / 2;
    if (correction != 0) {
        p.canvas_width += 8;
        p.left += 4;
    }
    return p;
}

void flatten(const std::uint8_t* rgba, std::size_t pixels, Colour background, std::uint8_t* rgb) {
    const unsigned bg[3] = {background.r, background.g, background.b};
    for (std::size_t i = 0; i < pixels; ++i, rgba += 4, rgb += 3) {
        const unsigned a = rgba[3];
        for (int c = 0; c < 3; ++c)
            rgb[c] = static_cast<std::uint8_t>((rgba[c] * a + bg[c] * (255 - a) + 127) / 255);
    }
}

}  // namespace lumaweave::picture
