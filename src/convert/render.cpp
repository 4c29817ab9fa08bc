// The last steps of a conversion: the pixel-swap smoothing, the preview, the name table and
// the BSAVE header.
#include <algorithm>
#include <cstdlib>

#include "convert/stages.hpp"
#include "formats/bmp.hpp"
#include "formats/vram.hpp"

namespace lumaweave {

namespace {

// Every two of the four pixels differ by at most 4 in each channel.
bool flat_2x2(const WorkImage& work, int x, int y) {
    const Pixel* p[4] = {&work[y * max_width + x], &work[y * max_width + x + 1],
                         &work[(y + 1) * max_width + x], &work[(y + 1) * max_width + x + 1]};
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
void smooth_block(const WorkImage& work, VramImage vram, int x0, int y) {
    std::uint8_t& upper = vram[vram::pattern_offset(x0, y)];
    std::uint8_t& lower = vram[vram::pattern_offset(x0, y + 1)];
    for (int t = 0; t < 8; t += 2) {
        if (!flat_2x2(work, x0 + t, y)) continue;
        const std::uint8_t a = 0x80 >> t, b = 0x40 >> t;
        const int s0 = __builtin_popcount(upper & (a | b));
        const int s1 = __builtin_popcount(lower & (a | b));
        if (s0 == 1 && s1 == 1) continue;
        upper = swap_bits(upper, a, b);
        lower = swap_bits(lower, a, b);
    }
}

constexpr std::size_t preview_row_bytes = std::size_t{preview_width} * 3;

// Each pixel of the two rows as a 2 x 2 square of its display colour (the low 8 bits of it).
void render_block(const Palette& display, const VramImage& vram, PreviewImage preview, int x0,
                  int y) {
    for (int k = 0; k < 2; ++k) {
        const std::uint8_t pattern = vram[vram::pattern_offset(x0, y + k)];
        const std::uint8_t pair = vram[vram::colour_offset(x0, y + k)];
        for (int n = 0; n < 8; ++n) {
            const Rgb& c = display[(pattern & (0x80 >> n)) ? pair >> 4 : pair & 15];
            for (int row = 2 * (y + k); row < 2 * (y + k) + 2; ++row) {
                for (int column = 2 * (x0 + n); column < 2 * (x0 + n) + 2; ++column) {
                    std::uint8_t* out = preview.data() +
                                        static_cast<std::size_t>(row) * preview_row_bytes +
                                        static_cast<std::size_t>(column) * 3;
                    out[0] = static_cast<std::uint8_t>(c.r);
                    out[1] = static_cast<std::uint8_t>(c.g);
                    out[2] = static_cast<std::uint8_t>(c.b);
                }
            }
        }
    }
}

// The smoothing and, with a preview, the preview, block by block.
void smooth_and_render(const PaletteSet* palette, const WorkImage& work, VramImage vram,
                       std::uint8_t* preview, Workers& workers) {
    for_row_bands(workers, (work.height + 1) / 2, [&](int first, int end) {
        for (int y = 2 * first; y < 2 * end; y += 2) {
            for (int x0 = 0; x0 < work.width; x0 += 8) {
                if (y % 4 == 2) smooth_block(work, vram, x0, y);
                if (preview != nullptr) {
                    render_block(palette->display, vram, PreviewImage(preview, preview_bytes), x0,
                                 y);
                }
            }
        }
    });
    vram::finish_image(vram.data());
}

}  // namespace

void render_output(const PaletteSet& palette, const WorkImage& work, VramImage vram,
                   PreviewImage preview, Workers& workers) {
    smooth_and_render(&palette, work, vram, preview.data(), workers);
}

void finish_video_memory(const WorkImage& work, VramImage vram, Workers& workers) {
    smooth_and_render(nullptr, work, vram, nullptr, workers);
}

std::size_t build_export_bmp(const PreviewImage& preview, int width, int height, std::uint8_t* out,
                             Workers& workers) {
    const int w = 2 * width, h = 2 * height;
    const std::size_t row_bytes = (static_cast<std::size_t>(w) * 3 + 3) & ~std::size_t{3};
    bmp::write_standard_header(out, w, h, static_cast<std::int32_t>(row_bytes));
    // Resolution fields: none given.
    std::fill_n(out + bmp::resolution_at, bmp::resolution_bytes, std::uint8_t{0});
    for_row_bands(workers, h, [&](int first, int end) {
        for (int j = first; j < end; ++j) {
            // BMP rows run bottom-up, each pixel blue, green, red.
            const std::uint8_t* src =
                preview.data() + static_cast<std::size_t>(h - 1 - j) * preview_row_bytes;
            std::uint8_t* dst = out + bmp::header_size + static_cast<std::size_t>(j) * row_bytes;
            for (int x = 0; x < w; ++x, src += 3, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
            }
            std::fill(dst, out + bmp::header_size + static_cast<std::size_t>(j + 1) * row_bytes,
                      std::uint8_t{0});
        }
    });
    return bmp::header_size + static_cast<std::size_t>(h) * row_bytes;
}

}  // namespace lumaweave
