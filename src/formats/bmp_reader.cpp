#include "formats/bmp_reader.hpp"

#include <algorithm>

#include "formats/bmp.hpp"

namespace lumaweave::bmp {

namespace {

constexpr std::uint32_t rle8 = 1, rle4 = 2, bit_fields = 3, alpha_bit_fields = 6;

bool has(std::span<const std::uint8_t> file, std::uint64_t at, std::uint64_t bytes) {
    return at + bytes <= file.size();
}

// A mask must be one run of bits (or none).
bool one_run(std::uint32_t mask) {
    if (mask == 0) return true;
    while ((mask & 1) == 0)
        mask >>= 1;
    return (mask & (mask + 1)) == 0;
}

// One channel of a direct-colour pixel, scaled to 0..255 (rounded).
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;

    explicit Channel(std::uint32_t m) : mask(m) {
        if (m == 0) return;
        while (((m >> shift) & 1) == 0)
            ++shift;
        max = m >> shift;
    }
    std::uint8_t operator()(std::uint32_t pixel) const {
        if (max == 0) return 0;
        const std::uint64_t v = (pixel & mask) >> shift;
        return static_cast<std::uint8_t>((v * 510 + max) / (2 * std::uint64_t{max}));
    }
};

struct Palette {
    std::uint8_t colours[256][4] = {};
    std::uint32_t entries = 0;

    Palette(std::span<const std::uint8_t> file, const Layout& layout) {
        entries = layout.palette_entries;
        for (std::uint32_t i = 0; i < entries; ++i) {
            const std::uint8_t* p =
                file.data() + layout.palette_offset + i * layout.palette_entry_size;
            colours[i][0] = p[2];
            colours[i][1] = p[1];
            colours[i][2] = p[0];
            colours[i][3] = 255;
        }
        // An index past the palette shows black.
        for (std::uint32_t i = entries; i < 256; ++i)
            colours[i][3] = 255;
    }
    void put(std::uint32_t index, std::uint8_t* out) const {
        std::copy_n(colours[index & 255], 4, out);
    }
};

std::uint64_t row_bytes(const Layout& layout) {
    return (std::uint64_t{static_cast<std::uint32_t>(layout.width)} * layout.bits_per_pixel + 31) /
           32 * 4;
}

void allocate(Decoded& out) {
    out.rgba.assign(
        std::size_t{4} * static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height),
        0);
}

bool decode_rows(std::span<const std::uint8_t> file, const Layout& layout, Decoded& out) {
    const std::uint64_t stride = row_bytes(layout);
    const std::uint64_t width = static_cast<std::uint32_t>(layout.width);
    const std::uint64_t last_row = (width * layout.bits_per_pixel + 7) / 8;
    // The last row needs no padding.
    if (!has(file, layout.pixel_offset + (std::uint64_t(layout.rows()) - 1) * stride, last_row))
        return false;
    allocate(out);
    const Palette palette = layout.indexed() ? Palette(file, layout) : Palette({}, Layout{});
    const Channel red(layout.masks[0]), green(layout.masks[1]), blue(layout.masks[2]),
        alpha(layout.masks[3]);
    bool any_alpha = false;
    for (int r = 0; r < layout.rows(); ++r) {
        const std::uint8_t* row = file.data() + layout.pixel_offset + std::uint64_t(r) * stride;
        const int y = layout.top_down() ? r : layout.rows() - 1 - r;
        std::uint8_t* o = out.rgba.data() + std::size_t{4} * width * static_cast<std::size_t>(y);
        for (std::uint64_t x = 0; x < width; ++x, o += 4) {
            switch (layout.bits_per_pixel) {
                case 1:
                case 4:
                case 8: {
                    const int bits = layout.bits_per_pixel;
                    const std::uint64_t bit = x * bits;
                    const int shift = 8 - bits - static_cast<int>(bit % 8);
                    palette.put((row[bit / 8] >> shift) & ((1u << bits) - 1), o);
                    break;
                }
                case 24:
                    o[0] = row[3 * x + 2];
                    o[1] = row[3 * x + 1];
                    o[2] = row[3 * x];
                    o[3] = 255;
                    break;
                default: {
                    const std::uint8_t* p = row + x * (layout.bits_per_pixel / 8);
                    std::uint32_t v = get_u16(p);
                    if (layout.bits_per_pixel == 32) v = get_u32(p);
                    o[0] = red(v);
                    o[1] = green(v);
                    o[2] = blue(v);
                    o[3] = alpha(v);
                    any_alpha |= o[3] != 0;
                }
            }
        }
    }
    if (layout.bits_per_pixel >= 16 && layout.bits_per_pixel != 24) {
        // Alpha zero everywhere is a file that does not use it: opaque.
        for (std::size_t i = 3; i < out.rgba.size(); i += 4) {
            if (!any_alpha) out.rgba[i] = 255;
            out.has_alpha |= out.rgba[i] != 255;
        }
    }
    return true;
}

// RLE8 and RLE4: runs and literal groups of palette indices, with end-of-line, end-of-picture and
// move escapes. Pixels the stream never sets stay transparent.
bool decode_rle(std::span<const std::uint8_t> file, const Layout& layout, Decoded& out) {
    allocate(out);
    const Palette palette(file, layout);
    const bool four = layout.compression == rle4;
    const std::int64_t width = layout.width, rows = layout.rows();
    std::int64_t x = 0, y = 0;  // y counts rows from the bottom
    std::size_t at = layout.pixel_offset;
    auto put = [&](std::uint32_t index) {
        if (x < width && y < rows) {
            palette.put(index, out.rgba.data() + 4 * ((rows - 1 - y) * width + x));
        }
        ++x;
    };
    bool ended = false;
    while (y < rows && at + 2 <= file.size()) {
        const std::uint8_t count = file[at], value = file[at + 1];
        at += 2;
        const std::int64_t start = x;
        if (count > 0) {
            for (int i = 0; i < count && x < width; ++i)
                put(four ? (i % 2 == 0 ? value >> 4 : value & 15) : value);
            x = std::min<std::int64_t>(start + count, width);
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of picture
            ended = true;
            break;
        } else if (value == 2) {  // move right and up
            if (at + 2 > file.size()) break;
            x = std::min<std::int64_t>(x + file[at], width);
            y += file[at + 1];
            at += 2;
        } else {  // `value` indices as they are, padded to a whole 16-bit word
            const std::size_t bytes = four ? (value + 1u) / 2 : value;
            if (at + bytes > file.size()) break;
            for (int i = 0; i < value && x < width; ++i) {
                const std::uint8_t b = file[at + (four ? i / 2 : i)];
                put(four ? (i % 2 == 0 ? b >> 4 : b & 15) : b);
            }
            x = std::min<std::int64_t>(start + value, width);
            at += bytes + (bytes & 1);
        }
    }
    // A stream cut short may lack its end markers, not rows before the last.
    if (!ended && y < rows - 1) return false;
    for (std::size_t i = 3; i < out.rgba.size(); i += 4)
        out.has_alpha |= out.rgba[i] != 255;
    return true;
}

}  // namespace

bool classic_reader_takes(std::span<const std::uint8_t> file) {
    if (file.size() >= 18 && get_u32(file.data() + 14) == 12) return false;
    if (file.size() < header_size) return true;
    return get_u16(file.data() + bits_per_pixel_at) == 24 &&
           get_u32(file.data() + compression_at) == 0 && get_i32(file.data() + height_at) >= 0;
}

bool read_layout(std::span<const std::uint8_t> file, Layout& layout) {
    layout = {};
    if (!has(file, 0, 18) || file[0] != 'B' || file[1] != 'M') return false;
    const std::uint8_t* f = file.data();
    layout.pixel_offset = get_u32(f + pixel_offset_at);
    const std::uint32_t size = get_u32(f + 14);
    const bool os2 = size == 16 || size == 64;
    const bool info = size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
    if ((size != 12 && !os2 && !info) || !has(file, 14, size)) return false;
    std::uint32_t colours_used = 0;
    if (size == 12) {
        layout.width = get_u16(f + 18);
        layout.height = get_u16(f + 20);
        layout.bits_per_pixel = get_u16(f + 24);
        layout.palette_entry_size = 3;
    } else {
        layout.width = get_i32(f + width_at);
        layout.height = get_i32(f + height_at);
        layout.bits_per_pixel = get_u16(f + bits_per_pixel_at);
        if (size >= 20) layout.compression = get_u32(f + compression_at);
        if (size >= 36) colours_used = get_u32(f + 46);
    }
    const std::uint16_t bits = layout.bits_per_pixel;
    if (layout.width <= 0 || layout.width > max_side || layout.height == 0 ||
        layout.height < -max_side || layout.height > max_side) {
        return false;
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    const std::uint32_t c = layout.compression;
    const bool masked = c == bit_fields || c == alpha_bit_fields;
    const bool known = c == 0 || (c == rle8 && bits == 8) || (c == rle4 && bits == 4) ||
                       (masked && !os2 && (bits == 16 || bits == 32));
    // Runs are stored bottom-up only.
    if (!known || ((c == rle8 || c == rle4) && layout.top_down())) return false;

    std::uint64_t after_header = 14 + std::uint64_t{size};
    if (masked) {
        // A 40-byte header has its masks after it; the longer headers hold them.
        const int count = c == alpha_bit_fields ? 4 : 3;
        const std::uint64_t at = size == 40 ? after_header : 54;
        if (!has(file, at, 4 * count)) return false;
        for (int i = 0; i < count; ++i)
            layout.masks[i] = get_u32(f + at + 4 * i);
        if (size >= 56) layout.masks[3] = get_u32(f + 66);
        if (size == 40) after_header += 4 * count;
    } else if (bits == 16) {
        layout.masks[0] = 0x7C00, layout.masks[1] = 0x03E0, layout.masks[2] = 0x001F;
    } else if (bits == 32) {
        layout.masks[0] = 0xFF0000, layout.masks[1] = 0xFF00, layout.masks[2] = 0xFF;
        layout.masks[3] = 0xFF000000u;
    }
    if (bits == 16) {
        for (std::uint32_t& mask : layout.masks)
            mask &= 0xFFFF;
    }
    for (const std::uint32_t mask : layout.masks) {
        if (!one_run(mask)) return false;
    }
    if (layout.indexed()) {
        const std::uint32_t most = 1u << bits;
        layout.palette_offset = static_cast<std::uint32_t>(after_header);
        layout.palette_entries = colours_used == 0 || colours_used > most ? most : colours_used;
        // A palette that the file cuts short keeps the entries it holds; none is no palette.
        const std::uint64_t room = file.size() > after_header
                                       ? (file.size() - after_header) / layout.palette_entry_size
                                       : 0;
        layout.palette_entries =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(layout.palette_entries, room));
        if (layout.palette_entries == 0) return false;
    }
    return layout.pixel_offset < file.size();
}

bool decode(std::span<const std::uint8_t> file, const Layout& layout, Decoded& out) {
    out.width = layout.width;
    out.height = layout.rows();
    out.has_alpha = false;
    const bool rle = layout.compression == rle8 || layout.compression == rle4;
    return rle ? decode_rle(file, layout, out) : decode_rows(file, layout, out);
}

}  // namespace lumaweave::bmp
