#include "support/screen_capture.hpp"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace lumaweave::test {

namespace {

// The lowest bit of a colour mask and the mask shifted down to it.
int shift_of(unsigned long mask) {
    int shift = 0;
    while (mask != 0 && (mask & 1) == 0) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

}  // namespace

std::vector<std::uint8_t> capture_screen(int x, int y, int width, int height) {
    // A connection of our own: the toolkit's has already sent its drawing (it flushes after
    // painting), and the root window's image includes every window shown on it.
    static Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return {};
    XImage* image =
        XGetImage(display, DefaultRootWindow(display), x, y, static_cast<unsigned>(width),
                  static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr) return {};
    const int rs = shift_of(image->red_mask), gs = shift_of(image->green_mask),
              bs = shift_of(image->blue_mask);
    std::vector<std::uint8_t> rgb;
    rgb.reserve(static_cast<std::size_t>(width) * height * 3);
    for (int row = 0; row < height; ++row) {
        for (int col = 0; col < width; ++col) {
            const unsigned long p = XGetPixel(image, col, row);
            rgb.push_back(static_cast<std::uint8_t>((p & image->red_mask) >> rs));
            rgb.push_back(static_cast<std::uint8_t>((p & image->green_mask) >> gs));
            rgb.push_back(static_cast<std::uint8_t>((p & image->blue_mask) >> bs));
        }
    }
    XDestroyImage(image);
    return rgb;
}

}  // namespace lumaweave::test
