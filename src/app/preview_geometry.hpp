// Where and how large the preview is drawn, and the progress text beside it. Pure functions,
// so the painting code only copies and the rules can be checked without a display.
#pragma once

#include <array>

namespace lumaweave::app {

// The PreviewImage is 512 x 384 pixels: twice the largest converted picture.
inline constexpr int preview_width = 512;
inline constexpr int preview_height = 384;

struct PreviewFit {
    int width, height;  // the rectangle the whole PreviewImage is stretched onto
    int zoom;           // the multiple of 256 x 192 it snapped to (2 when none)
    bool operator==(const PreviewFit&) const = default;
};

// A control size near a whole multiple i of 256 x 192 (within 2i pixels, each axis on its
// own) is drawn at exactly that multiple, so the picture is not blurred by a stretch of a
// pixel or two; the largest multiple that held gives the zoom.
PreviewFit snap_preview(int client_width, int client_height);

// "NN%": the progress (0..99) as two digits, and the terminating zero.
std::array<char, 4> percent_text(int progress_percent);

// The progress text stands this far right of the picture control's right edge.
inline int percent_gap(const PreviewFit& fit) {
    return 4 * fit.zoom;
}

}  // namespace lumaweave::app
