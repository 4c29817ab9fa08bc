#include "formats/bmp.hpp"

namespace lumaweave::bmp {

namespace {

// Rows are padded to whole 4-byte words.
std::int64_t row_bytes(std::int32_t width) {
    return (3 * std::int64_t{width} + 3) & ~std::int64_t{3};
}

}  // namespace

bool read_header(std::span<const std::uint8_t> file, Header& header) {
    if (file.size() < header_size) return false;
    const std::uint8_t* h = file.data();
    header.offset = get_i32(h + pixel_offset_at);
    header.width = get_i32(h + width_at);
    header.height = get_i32(h + height_at);
    header.bits_per_pixel = get_u16(h + bits_per_pixel_at);
    header.compression = get_u32(h + compression_at);
    return true;
}

bool rows_readable(std::span<const std::uint8_t> file, const Header& header) {
    if (header.width <= 0 || header.height <= 0 || header.offset < 0) return false;
    // In 64 bits, so that no offset can overflow the sum. The last row needs no padding.
    const std::int64_t needed = (std::int64_t{header.height} - 1) * row_bytes(header.width) +
                                std::int64_t{header.width} * 3 + header.offset;
    return static_cast<std::int64_t>(file.size()) >= needed && header.bits_per_pixel == 24 &&
           header.compression == 0;
}

void decode_rows(std::span<const std::uint8_t> file, const Header& header, std::uint8_t* rgb) {
    const std::int64_t row_length = row_bytes(header.width);
    for (std::int32_t y = 0; y < header.height; ++y) {
        const std::uint8_t* p = file.data() + header.offset + (header.height - 1 - y) * row_length;
        for (std::int32_t x = 0; x < header.width; ++x, p += 3, rgb += 3) {
            rgb[0] = p[2];
            rgb[1] = p[1];
            rgb[2] = p[0];
        }
    }
}

void write_standard_header(std::uint8_t* header, std::int32_t width, std::int32_t height,
                           std::int32_t row_bytes) {
    const std::int32_t pixel_bytes = height * row_bytes;
    header[0] = 'B';
    header[1] = 'M';
    put_i32(header + 2, static_cast<std::int32_t>(header_size) + pixel_bytes);  // file size
    put_i32(header + 6, 0);                                                     // reserved
    put_i32(header + pixel_offset_at, static_cast<std::int32_t>(header_size));
    put_i32(header + 14, 40);  // BITMAPINFOHEADER
    put_i32(header + width_at, width);
    put_i32(header + height_at, height);
    put_u16(header + 26, 1);  // planes
    put_u16(header + bits_per_pixel_at, 24);
    put_i32(header + compression_at, 0);
    put_i32(header + 34, pixel_bytes);  // image size
    put_i32(header + 46, 0);            // colours used
    put_i32(header + 50, 0);            // important colours
}

}  // namespace lumaweave::bmp
