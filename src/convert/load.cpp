// Reading, validating, cropping and decoding the source picture.
#include <cstring>

#include "convert/convert.hpp"
#include "formats/bmp.hpp"
#include "formats/s05.hpp"
#include "io/file_io.hpp"
#include "io/messages.hpp"

namespace lumaweave {

std::string load_source(Conversion& conv, ScratchPool& pool, const std::string& source_path,
                        std::optional<PaletteTable>& companion) {
    const FileContents src = read_whole_file(pool, source_path, 0);
    if (!src.message.empty()) return src.message;

    const FileContents pal = read_whole_file(pool, companion_name(source_path), s05::read_extra);
    if (pal.message.empty()) companion = s05::read_palette(pal.data);

    // A file too short to hold the header cannot be a picture we convert.
    if (src.length < bmp::header_size) return msg::format_not_convertible;
    std::uint8_t header[bmp::header_size];
    std::memcpy(header, src.data, bmp::header_size);
    const std::int32_t offset = bmp::get_i32(header + bmp::pixel_offset_at);
    std::int32_t width = bmp::get_i32(header + bmp::width_at);
    std::int32_t height = bmp::get_i32(header + bmp::height_at);
    const int correction = conv.settings.horizontal_position_correction;

    if (width % 8 != 0) return msg::width_not_multiple_of_8;
    if ((correction == 0 && width > 256) || (correction > 0 && width > 264)) {
        return msg::width_exceeds_256;
    }
    if (height > 192) return msg::height_exceeds_192;
    if (width < 16 || height < 16) return msg::image_too_small;
    // In 64 bits, so that no offset can overflow the sum; a negative offset is refused too.
    const std::int64_t needed = std::int64_t{width} * height * 3 + offset;
    if (offset < 0 || static_cast<std::int64_t>(src.length) < needed ||
        bmp::get_u16(header + bmp::bits_per_pixel_at) != 24 ||
        bmp::get_u32(header + bmp::compression_at) != 0) {
        return msg::format_not_convertible;
    }

    // Crop to a multiple of 8 rows, dropping the odd rows half at the bottom, half at the top.
    const int r = height % 8;
    height -= r;
    bmp::put_i32(header + bmp::height_at, height);
    const std::int64_t row_length = (3 * std::int64_t{width} + 3) & ~std::int64_t{3};
    if (correction != 0) {
        width -= 8;
        bmp::put_i32(header + bmp::width_at, width);
    }
    conv.width = width;
    conv.height = height;

    std::memset(conv.work.data(), 0, sizeof conv.work);
    std::memset(conv.source.data(), 0, sizeof conv.source);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* p =
            src.data + offset + (height - 1 - y + r / 2) * row_length + 3 * correction;
        for (int x = 0; x < width; ++x, p += 3) {
            Pixel& px = conv.work[y * max_width + x];
            px.b = p[0];
            px.g = p[1];
            px.r = p[2];
            conv.source[y * max_width + x] = {px.r, px.g, px.b};
        }
    }

    conv.vram.fill(0);
    conv.preview.fill(0);
    conv.export_image.fill(0);
    std::memcpy(conv.preview.data(), header, bmp::header_size);
    std::memcpy(conv.export_image.data(), header, bmp::header_size);
    bmp::put_i32(conv.export_image.data() + bmp::pixel_offset_at, bmp::header_size);
    bmp::put_i32(conv.preview.data() + bmp::width_at, 512);
    bmp::put_i32(conv.preview.data() + bmp::height_at, 384);
    return {};
}

}  // namespace lumaweave
