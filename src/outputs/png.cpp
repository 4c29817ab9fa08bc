#include "outputs/png.hpp"

#include <png.h>

#include <algorithm>
#include <new>

namespace lumaweave::outputs {

std::vector<std::uint8_t> indexed_png(int width, int height, std::span<const std::uint8_t> pixels,
                                      const Palette& palette) {
    // libpng's simplified interface: no setjmp, and every error is a return value.
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB_COLORMAP;
    image.colormap_entries = 16;
    std::uint8_t colormap[16 * 3];
    for (std::size_t c = 0; c < 16; ++c) {
        colormap[3 * c] = static_cast<std::uint8_t>(std::clamp(palette[c].r, 0, 255));
        colormap[3 * c + 1] = static_cast<std::uint8_t>(std::clamp(palette[c].g, 0, 255));
        colormap[3 * c + 2] = static_cast<std::uint8_t>(std::clamp(palette[c].b, 0, 255));
    }
    std::vector<std::uint8_t> indices(pixels.begin(), pixels.end());
    for (std::uint8_t& i : indices)
        i &= 15;
    png_alloc_size_t size = 0;
    if (indices.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) ||
        !png_image_write_get_memory_size(image, size, 0, indices.data(), 0, colormap)) {
        png_image_free(&image);
        throw std::bad_alloc();
    }
    std::vector<std::uint8_t> file(size);
    if (!png_image_write_to_memory(&image, file.data(), &size, 0, indices.data(), 0, colormap)) {
        png_image_free(&image);
        throw std::bad_alloc();
    }
    file.resize(size);
    return file;
}

}  // namespace lumaweave::outputs
