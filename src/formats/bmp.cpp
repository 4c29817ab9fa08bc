#include "formats/bmp.hpp"

namespace lumaweave::bmp {

void write_standard_header(std::uint8_t* header, std::int32_t width, std::int32_t height,
                           std::int32_t row_bytes) {
    const std::int32_t pixel_bytes = height * row_bytes;
    header[0] = 'B';
    header[1] = 'M';
    put_i32(header + 2, static_cast<std::int32_t>(header_size) + pixel_bytes);  // file size
    put_i32(header + 6, 0);                                                    // reserved
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
