// Every kind of BMP file: 1, 4, 8, 16, 24 and 32 bits per pixel, indexed or direct, with or without
// bit-field masks, RLE4 and RLE8, bottom-up or top-down, with any of the header sizes in use (12,
// 16, 40, 52, 56, 64, 108, 124 bytes). The classic 24-bit reader (bmp.hpp) stays what the
// conversion of a 24-bit bottom-up file goes through; this one turns any other file into pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace lumaweave::bmp {

struct Layout {
    std::int32_t width = 0, height = 0;  // height as stored: negative for top-down rows
    std::uint16_t bits_per_pixel = 0;
    std::uint32_t compression = 0;  // 0 none, 1 RLE8, 2 RLE4, 3 bit fields, 6 bit fields + alpha
    std::uint32_t pixel_offset = 0;
    std::uint32_t masks[4] = {};  // red, green, blue, alpha (direct colour)
    std::uint32_t palette_offset = 0, palette_entries = 0, palette_entry_size = 4;

    int rows() const { return height < 0 ? -height : height; }
    bool top_down() const { return height < 0; }
    bool indexed() const { return bits_per_pixel <= 8; }
};

// The picture sizes the reader accepts at all; the caller applies its own, tighter limits.
inline constexpr std::int32_t max_side = 1 << 20;

// Whether the classic reader is the one for this file, as it always was: anything at least 54
// bytes long that states 24 bits per pixel, no compression and rows stored bottom-up (whatever
// else it holds, the classic checks decide), and anything shorter (it refuses those), unless the
// file has the 12-byte header of the oldest layout, whose fields lie elsewhere.
bool classic_reader_takes(std::span<const std::uint8_t> file);

// Reads the headers. False when the file is no BMP this reader decodes: no "BM" signature, an
// unknown header size, bits per pixel or compression, a size of zero or beyond max_side, or a
// palette or pixel offset outside the file.
bool read_layout(std::span<const std::uint8_t> file, Layout& layout);

struct Decoded {
    int width = 0, height = 0;
    // Red, green, blue, alpha bytes, top row first.
    std::vector<std::uint8_t> rgba;
    // Some pixel is not fully opaque: a 32-bit or bit-field picture whose alpha is not zero
    // everywhere (all zero means the file has no alpha), or pixels an RLE stream skipped.
    bool has_alpha = false;
};

// Decodes the pixels the layout describes. False when the file ends before them (an RLE stream
// may end early only once every row is done), or when a bit-field mask is not one run of bits.
bool decode(std::span<const std::uint8_t> file, const Layout& layout, Decoded& out);

}  // namespace lumaweave::bmp
