// The fields of a BMP header that lumaweave reads and writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace lumaweave::bmp {

inline constexpr std::size_t header_size = 54;  // file header + BITMAPINFOHEADER
inline constexpr std::size_t pixel_offset_at = 10;
inline constexpr std::size_t width_at = 18;
inline constexpr std::size_t height_at = 22;
inline constexpr std::size_t bits_per_pixel_at = 28;
inline constexpr std::size_t compression_at = 30;
inline constexpr std::size_t resolution_at = 38;  // horizontal and vertical pixels per metre
inline constexpr std::size_t resolution_bytes = 8;

inline std::int32_t get_i32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
        static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint32_t get_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(get_i32(p));
}
inline std::uint16_t get_u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline void put_i32(std::uint8_t* p, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    p[0] = static_cast<std::uint8_t>(u);
    p[1] = static_cast<std::uint8_t>(u >> 8);
    p[2] = static_cast<std::uint8_t>(u >> 16);
    p[3] = static_cast<std::uint8_t>(u >> 24);
}
inline void put_u16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

// The header fields a 24-bit picture is read with.
struct Header {
    std::int32_t offset = 0;  // of the pixel rows
    std::int32_t width = 0, height = 0;
    std::uint16_t bits_per_pixel = 0;
    std::uint32_t compression = 0;
};

// The header of a file, or false when the file is too short to hold one.
bool read_header(std::span<const std::uint8_t> file, Header& header);

// Whether the file holds the rows of the header's picture as 24-bit uncompressed bottom-up rows.
bool rows_readable(std::span<const std::uint8_t> file, const Header& header);

// The picture's pixels as red, green, blue bytes, top row first, into `rgb` (width * height * 3
// bytes). The rows must be readable.
void decode_rows(std::span<const std::uint8_t> file, const Header& header, std::uint8_t* rgb);

// Writes a complete standard header for a bottom-up 24-bit uncompressed picture of
// width x height whose rows take row_bytes each. The resolution fields are left as they are.
void write_standard_header(std::uint8_t* header, std::int32_t width, std::int32_t height,
                           std::int32_t row_bytes);

}  // namespace lumaweave::bmp
