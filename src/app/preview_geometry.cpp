#include "app/preview_geometry.hpp"

#include <cstdlib>

namespace lumaweave::app {

PreviewFit snap_preview(int client_width, int client_height) {
    PreviewFit fit{client_width, client_height, 2};
    for (int i = 1; i <= 40; ++i) {
        if (std::abs(fit.width - 256 * i) <= 2 * i) {
            fit.width = 256 * i;
            fit.zoom = i;
        }
        if (std::abs(fit.height - 192 * i) <= 2 * i) {
            fit.height = 192 * i;
            fit.zoom = i;
        }
    }
    return fit;
}

std::array<char, 4> percent_text(int progress_percent) {
    // progress + 100 with its first digit dropped: always two digits.
    const int v = progress_percent + 100;
    return {static_cast<char>('0' + v / 10 % 10), static_cast<char>('0' + v % 10), '%', '\0'};
}

}  // namespace lumaweave::app
