// The last steps of a conversion: the pixel-swap smoothing, the preview, the name table and
// the BSAVE header.
#include <cstdlib>

#include "convert/convert.hpp"
#include "formats/vram.hpp"

namespace lumaweave {

namespace {

// Every two of the four pixels differ by at most 4 in each channel.
bool flat_2x2(const Conversion& conv, int x, int y) {
    const Pixel* p[4] = {&conv.work[y * max_width + x], &conv.work[y * max_width + x + 1],
                         &conv.work[(y + 1) * max_width + x],
                         &conv.work[(y + 1) * max_width + x + 1]};
    for (int i = 0; i < 4; ++i) {
        for (int j = i + 1; j < 4; ++j) {
            if (std::abs(p[i]->r - p[j]->r) > 4 || std::abs(p[i]->g - p[j]->g) > 4 ||
                std::abs(p[i]->b - p[j]->b) > 4) {
                return false;
            }
        }
    }
    return true;
}

std::uint8_t swap_bits(std::uint8_t byte, std::uint8_t a, std::uint8_t b) {
    const std::uint8_t kept = byte & static_cast<std::uint8_t>(~(a | b));
    return kept | ((byte & a) ? b : 0) | ((byte & b) ? a : 0);
}

// In flat areas a lone foreground pixel of one row moves to the other pixel of its pair.
void smooth_block(Conversion& conv, int x0, int y) {
    std::uint8_t& upper = conv.vram[vram::pattern_offset(x0, y)];
    std::uint8_t& lower = conv.vram[vram::pattern_offset(x0, y + 1)];
    for (int t = 0; t < 8; t += 2) {
        if (!flat_2x2(conv, x0 + t, y)) continue;
        const std::uint8_t a = 0x80 >> t, b = 0x40 >> t;
        const int s0 = __builtin_popcount(upper & (a | b));
        const int s1 = __builtin_popcount(lower & (a | b));
        if (s0 == 1 && s1 == 1) continue;
        upper = swap_bits(upper, a, b);
        lower = swap_bits(lower, a, b);
    }
}

void render_block(Conversion& conv, int x0, int y) {
    for (int k = 0; k < 2; ++k) {
        const std::uint8_t pattern = conv.vram[vram::pattern_offset(x0, y + k)];
        const std::uint8_t pair = conv.vram[vram::colour_offset(x0, y + k)];
        for (int n = 0; n < 8; ++n) {
            const Rgb& c = conv.display[(pattern & (0x80 >> n)) ? pair >> 4 : pair & 15];
            for (int row = 2 * (y + k); row < 2 * (y + k) + 2; ++row) {
                for (int column = 2 * (x0 + n); column < 2 * (x0 + n) + 2; ++column) {
                    std::uint8_t* out =
                        conv.preview.data() + 54 + row * preview_row_bytes + column * 3;
                    out[0] = static_cast<std::uint8_t>(c.b);
                    out[1] = static_cast<std::uint8_t>(c.g);
                    out[2] = static_cast<std::uint8_t>(c.r);
                }
            }
        }
    }
}

}  // namespace

void render_output(Conversion& conv) {
    for (int y = 0; y < conv.height; y += 2) {
        for (int x0 = 0; x0 < conv.width; x0 += 8) {
            if (y % 4 == 2) smooth_block(conv, x0, y);
            render_block(conv, x0, y);
        }
    }
    vram::finish_image(conv.vram.data());
}

}  // namespace lumaweave
