#include "app/app_icon.hpp"

#include <algorithm>
#include <cmath>

#include "io/config.hpp"

namespace lumaweave::app {

namespace {

struct Rgb8 {
    unsigned char r, g, b;
};

// Colour n of the built-in MSX1 palette.
Rgb8 msx1(int n) {
    static const DefaultPalettes palettes;
    const auto& t = palettes.msx1;
    auto level = [](std::int32_t v) { return static_cast<unsigned char>(v * 255 / 7); };
    return {level(t[3 * n]), level(t[3 * n + 1]), level(t[3 * n + 2])};
}

// The scene on the screen as a pair of palette colours and the share of the second one, at
// u, v in 0..1: sky, sun, hills.
struct Blend {
    int first, second;
    double share;
};

Blend scene(double u, double v) {
    const double hill = 0.62 + 0.12 * std::sin(u * 5.5 + 0.6);
    if (v > hill) return {12, 2, std::min(1.0, (v - hill) * 3.0)};  // dark to medium green
    const double du = u - 0.72, dv = v - 0.30;
    if (du * du + dv * dv < 0.028) return {11, 10, std::sqrt(du * du + dv * dv) * 5.0};  // sun
    return {5, 4, v * 1.4};  // light blue sky darkening downwards
}

}  // namespace

wxImage draw_app_icon(int size) {
    wxImage image(size, size);
    image.InitAlpha();
    const double s = size;
    // Monitor body, screen inset and stand, in fractions of the icon.
    const double body_top = 0.06 * s, body_bottom = 0.80 * s, body_r = 0.10 * s;
    const double inset = std::max(1.0, 0.08 * s);
    // Runs of 4 pixels (2 on the smallest icon) carry two colours each, as SCREEN 2 does.
    const int run = size >= 32 ? 4 : 2;
    static const int bayer[2][2] = {{0, 2}, {3, 1}};
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            Rgb8 c{0, 0, 0};
            unsigned char alpha = 0;
            // Rounded body: inside the rectangle minus its rounded corners.
            const double cx = std::clamp(px, body_r, s - body_r);
            const double cy = std::clamp(py, body_top + body_r, body_bottom - body_r);
            const bool in_body = py >= body_top && py <= body_bottom &&
                                 (px - cx) * (px - cx) + (py - cy) * (py - cy) <= body_r * body_r;
            const bool in_stand =
                (py > body_bottom && py <= 0.90 * s && std::abs(px - s / 2) < 0.10 * s) ||
                (py > 0.90 * s && py <= 0.97 * s && std::abs(px - s / 2) < 0.30 * s);
            if (in_body || in_stand) {
                c = {48, 48, 56};
                alpha = 255;
            }
            const bool in_screen =
                px > inset && px < s - inset && py > body_top + inset && py < body_bottom - inset;
            if (in_screen) {
                const double u = (px - inset) / (s - 2 * inset);
                const double v = (py - body_top - inset) / (body_bottom - body_top - 2 * inset);
                // The run decides its pair from its middle; the pixels dither between the two.
                const int run_x = x / run * run + run / 2;
                const double ru = (run_x + 0.5 - inset) / (s - 2 * inset);
                const Blend pair = scene(ru, v);
                const double share = scene(u, v).first == pair.first ? scene(u, v).share : 1.0;
                const bool second = share * 4.0 > bayer[y & 1][x & 1] + 0.5;
                c = msx1(second ? pair.second : pair.first);
            }
            image.SetRGB(x, y, c.r, c.g, c.b);
            image.SetAlpha(x, y, alpha);
        }
    }
    return image;
}

wxIconBundle app_icon_bundle() {
    wxIconBundle bundle;
    for (int size : {16, 24, 32, 48, 64}) {
        wxIcon icon;
        icon.CopyFromBitmap(wxBitmap(draw_app_icon(size)));
        bundle.AddIcon(icon);
    }
    return bundle;
}

}  // namespace lumaweave::app
