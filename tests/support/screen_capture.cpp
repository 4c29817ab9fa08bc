// The screen read back from the X server, as a screenshot tool does: the toolkit's screen
// device context can give contents that are no longer shown.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <wx/image.h>
#include <wx/window.h>

namespace lumaweave::test {

// The window must be drawn and the drawing sent (the caller lets events run first).
wxImage screen_image(wxWindow& window, const wxRect& r) {
    // A connection of our own: the toolkit's has sent its drawing (it flushes after painting).
    static Display* display = XOpenDisplay(nullptr);
    const wxPoint at = window.ClientToScreen(r.GetTopLeft());
    wxImage image(r.width, r.height, /*clear=*/true);
    XImage* x = display ? XGetImage(display, DefaultRootWindow(display), at.x, at.y, r.width,
                                    r.height, AllPlanes, ZPixmap)
                        : nullptr;
    if (x == nullptr) return image;
    auto channel = [](unsigned long pixel, unsigned long mask) {
        return static_cast<unsigned char>((pixel & mask) / (mask & (~mask + 1)));
    };
    for (int row = 0; row < r.height; ++row) {
        for (int col = 0; col < r.width; ++col) {
            const unsigned long p = XGetPixel(x, col, row);
            image.SetRGB(col, row, channel(p, x->red_mask), channel(p, x->green_mask),
                         channel(p, x->blue_mask));
        }
    }
    XDestroyImage(x);
    return image;
}

}  // namespace lumaweave::test
