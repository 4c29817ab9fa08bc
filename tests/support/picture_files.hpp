// Picture files for the tests: BMP files of every kind and PNG files written here byte by byte
// (so that what they hold is known exactly), and WebP, TIFF and JPEG files written with libvips.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/test_pictures.hpp"

namespace lumaweave::test {

// Red, green, blue, alpha bytes, top row first.
struct RgbaPicture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;

    static RgbaPicture opaque(const RgbPicture& p) {
        RgbaPicture out{p.width, p.height, {}};
        for (std::size_t i = 0; i < p.rgb.size(); i += 3)
            out.rgba.insert(out.rgba.end(), {p.rgb[i], p.rgb[i + 1], p.rgb[i + 2], 255});
        return out;
    }
    const std::uint8_t* at(int x, int y) const {
        return &rgba[4 * (static_cast<std::size_t>(y) * width + x)];
    }
};

inline void put16(std::vector<std::uint8_t>& f, std::size_t at, std::uint32_t v) {
    f[at] = std::uint8_t(v), f[at + 1] = std::uint8_t(v >> 8);
}
inline void put32(std::vector<std::uint8_t>& f, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        f[at + i] = std::uint8_t(v >> (8 * i));
}

struct BmpKind {
    int bits = 24;
    int compression = 0;  // 0, 1 RLE8, 2 RLE4, 3 bit fields, 6 bit fields with alpha
    int header = 40;      // 12, 16, 40, 52, 56, 64, 108, 124
    bool top_down = false;
    std::array<std::uint32_t, 4> masks{};  // for compression 3 and 6
};

// A BMP file of the picture. Indexed kinds take the picture's colours as their palette (there
// must be few enough); 16-bit kinds keep the bits the masks hold; alpha goes into 32-bit files
// only when their masks (or, without compression, the fourth byte) hold it.
inline std::vector<std::uint8_t> write_bmp(const RgbaPicture& p, const BmpKind& kind) {
    const int w = p.width, h = p.height, bits = kind.bits;
    std::vector<std::array<std::uint8_t, 3>> palette;
    std::map<std::array<std::uint8_t, 3>, int> index;
    if (bits <= 8) {
        for (std::size_t i = 0; i < p.rgba.size(); i += 4) {
            const std::array<std::uint8_t, 3> c{p.rgba[i], p.rgba[i + 1], p.rgba[i + 2]};
            if (index.emplace(c, int(palette.size())).second) palette.push_back(c);
        }
        if (palette.size() > (1u << bits)) throw std::runtime_error("too many colours");
    }
    auto pixel_index = [&](int x, int y) {
        const std::uint8_t* c = p.at(x, y);
        return index.at({c[0], c[1], c[2]});
    };
    const bool fields = kind.compression == 3 || kind.compression == 6;
    const std::size_t mask_bytes =
        fields && kind.header == 40 ? (kind.compression == 6 ? 16 : 12) : 0;
    const std::size_t entry = kind.header == 12 ? 3 : 4;
    const std::size_t offset = 14 + kind.header + mask_bytes + palette.size() * entry;
    std::vector<std::uint8_t> data;
    if (kind.compression == 1 || kind.compression == 2) {
        const bool four = kind.compression == 2;
        for (int r = 0; r < h; ++r) {
            const int y = h - 1 - r;
            for (int x = 0; x < w;) {
                int run = 1;
                while (x + run < w && run < 255 && pixel_index(x + run, y) == pixel_index(x, y))
                    ++run;
                if (run >= 2 || w - x < 3) {
                    const int v = pixel_index(x, y);
                    data.insert(data.end(),
                                {std::uint8_t(run), std::uint8_t(four ? v << 4 | v : v)});
                    x += run;
                    continue;
                }
                // A literal group up to the next run of two (at least three pixels).
                int n = 3;
                while (x + n < w && n < 255 &&
                       !(x + n + 1 < w && pixel_index(x + n, y) == pixel_index(x + n + 1, y)))
                    ++n;
                data.insert(data.end(), {0, std::uint8_t(n)});
                std::vector<std::uint8_t> group;
                for (int i = 0; i < n; ++i) {
                    const int v = pixel_index(x + i, y);
                    if (!four)
                        group.push_back(std::uint8_t(v));
                    else if (i % 2 == 0)
                        group.push_back(std::uint8_t(v << 4));
                    else
                        group.back() |= std::uint8_t(v);
                }
                if (group.size() % 2) group.push_back(0);
                data.insert(data.end(), group.begin(), group.end());
                x += n;
            }
            data.insert(data.end(), {0, 0});
        }
        data.insert(data.end(), {0, 1});
    } else {
        const std::size_t stride = (std::size_t(w) * bits + 31) / 32 * 4;
        data.assign(stride * h, 0);
        for (int r = 0; r < h; ++r) {
            const int y = kind.top_down ? r : h - 1 - r;
            std::uint8_t* row = data.data() + stride * r;
            for (int x = 0; x < w; ++x) {
                const std::uint8_t* c = p.at(x, y);
                if (bits <= 8) {
                    const std::size_t bit = std::size_t(x) * bits;
                    row[bit / 8] |= std::uint8_t(pixel_index(x, y) << (8 - bits - bit % 8));
                } else if (bits == 24) {
                    row[3 * x] = c[2], row[3 * x + 1] = c[1], row[3 * x + 2] = c[0];
                } else {
                    std::array<std::uint32_t, 4> m = kind.masks;
                    if (!fields)
                        m = bits == 16
                                ? std::array<std::uint32_t, 4>{0x7C00, 0x3E0, 0x1F, 0}
                                : std::array<std::uint32_t, 4>{0xFF0000, 0xFF00, 0xFF, 0xFF000000};
                    std::uint32_t v = 0;
                    for (int k = 0; k < 4; ++k) {
                        if (m[k] == 0) continue;
                        int shift = 0;
                        while (!(m[k] >> shift & 1))
                            ++shift;
                        const std::uint32_t max = m[k] >> shift;
                        v |= ((c[k] * max + 127) / 255) << shift;
                    }
                    for (int i = 0; i < bits / 8; ++i)
                        row[x * bits / 8 + i] = std::uint8_t(v >> (8 * i));
                }
            }
        }
    }
    std::vector<std::uint8_t> f(offset, 0);
    f[0] = 'B', f[1] = 'M';
    put32(f, 10, std::uint32_t(offset));
    put32(f, 14, std::uint32_t(kind.header));
    if (kind.header == 12) {
        put16(f, 18, std::uint32_t(w)), put16(f, 20, std::uint32_t(h)), put16(f, 22, 1);
        put16(f, 24, std::uint32_t(bits));
    } else {
        put32(f, 18, std::uint32_t(w)), put32(f, 22, std::uint32_t(kind.top_down ? -h : h));
        put16(f, 26, 1), put16(f, 28, std::uint32_t(bits));
        if (kind.header >= 20) put32(f, 30, std::uint32_t(kind.compression));
        if (kind.header >= 40) put32(f, 34, std::uint32_t(data.size()));
        if (kind.header >= 40) put32(f, 46, std::uint32_t(palette.size()));
        const std::size_t masks_at = kind.header == 40 ? 54 : kind.header >= 52 ? 54 : 0;
        for (int k = 0; fields && masks_at && k < (kind.header == 52 ? 3 : 4); ++k) {
            if (kind.header == 40 && k == 3 && kind.compression != 6) break;
            put32(f, masks_at + 4 * k, kind.masks[k]);
        }
    }
    for (std::size_t i = 0; i < palette.size(); ++i) {
        std::uint8_t* e = &f[14 + kind.header + mask_bytes + i * entry];
        e[0] = palette[i][2], e[1] = palette[i][1], e[2] = palette[i][0];
    }
    f.insert(f.end(), data.begin(), data.end());
    put32(f, 2, std::uint32_t(f.size()));
    return f;
}

// PNG, written here with stored (uncompressed) deflate blocks.
inline std::uint32_t crc32(const std::uint8_t* p, std::size_t n, std::uint32_t crc = 0) {
    crc = ~crc;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

inline void png_chunk(std::vector<std::uint8_t>& f, const char* type,
                      const std::vector<std::uint8_t>& body) {
    const std::uint32_t n = std::uint32_t(body.size());
    f.insert(f.end(),
             {std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)});
    const std::size_t start = f.size();
    f.insert(f.end(), type, type + 4);
    f.insert(f.end(), body.begin(), body.end());
    const std::uint32_t crc = crc32(&f[start], f.size() - start);
    f.insert(f.end(), {std::uint8_t(crc >> 24), std::uint8_t(crc >> 16), std::uint8_t(crc >> 8),
                       std::uint8_t(crc)});
}

enum class PngKind { rgb8, rgba8, rgb16, grey8, palette8 };

// `declared_width`, `declared_height` > 0 put another size in the header than the data holds.
inline std::vector<std::uint8_t> write_png(const RgbaPicture& p, PngKind kind,
                                           const std::vector<std::uint8_t>& extra_chunk = {},
                                           const char* extra_type = nullptr, int declared_width = 0,
                                           int declared_height = 0) {
    std::vector<std::array<std::uint8_t, 3>> palette;
    std::map<std::array<std::uint8_t, 3>, int> index;
    std::vector<std::uint8_t> raw;
    for (int y = 0; y < p.height; ++y) {
        raw.push_back(0);  // no filter
        for (int x = 0; x < p.width; ++x) {
            const std::uint8_t* c = p.at(x, y);
            switch (kind) {
                case PngKind::rgb8:
                    raw.insert(raw.end(), c, c + 3);
                    break;
                case PngKind::rgba8:
                    raw.insert(raw.end(), c, c + 4);
                    break;
                case PngKind::rgb16:
                    for (int k = 0; k < 3; ++k)
                        raw.insert(raw.end(), {c[k], c[k]});  // v * 257
                    break;
                case PngKind::grey8:
                    raw.push_back(c[0]);
                    break;
                case PngKind::palette8: {
                    const std::array<std::uint8_t, 3> key{c[0], c[1], c[2]};
                    if (index.emplace(key, int(palette.size())).second) palette.push_back(key);
                    raw.push_back(std::uint8_t(index.at(key)));
                }
            }
        }
    }
    std::vector<std::uint8_t> f = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> ihdr(13, 0);
    const std::uint32_t w = std::uint32_t(declared_width ? declared_width : p.width);
    const std::uint32_t h = std::uint32_t(declared_height ? declared_height : p.height);
    for (int i = 0; i < 4; ++i)
        ihdr[i] = std::uint8_t(w >> (24 - 8 * i)), ihdr[4 + i] = std::uint8_t(h >> (24 - 8 * i));
    ihdr[8] = kind == PngKind::rgb16 ? 16 : 8;
    ihdr[9] = kind == PngKind::grey8      ? 0
              : kind == PngKind::palette8 ? 3
              : kind == PngKind::rgba8    ? 6
                                          : 2;
    png_chunk(f, "IHDR", ihdr);
    if (extra_type) png_chunk(f, extra_type, extra_chunk);
    if (kind == PngKind::palette8) {
        std::vector<std::uint8_t> plte;
        for (const auto& c : palette)
            plte.insert(plte.end(), c.begin(), c.end());
        png_chunk(f, "PLTE", plte);
    }
    std::vector<std::uint8_t> z = {0x78, 0x01};
    std::uint32_t a = 1, b = 0;
    for (const std::uint8_t v : raw)
        a = (a + v) % 65521, b = (b + a) % 65521;
    for (std::size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
        const bool last = at + n >= raw.size();
        z.insert(z.end(), {std::uint8_t(last), std::uint8_t(n), std::uint8_t(n >> 8),
                           std::uint8_t(~n), std::uint8_t(~n >> 8)});
        z.insert(z.end(), raw.begin() + std::ptrdiff_t(at), raw.begin() + std::ptrdiff_t(at + n));
        if (last) break;
    }
    const std::uint32_t adler = b << 16 | a;
    z.insert(z.end(), {std::uint8_t(adler >> 24), std::uint8_t(adler >> 16),
                       std::uint8_t(adler >> 8), std::uint8_t(adler)});
    png_chunk(f, "IDAT", z);
    png_chunk(f, "IEND", {});
    return f;
}

// WebP (lossless), TIFF (uncompressed) and JPEG (quality 95, with an orientation tag when
// `orientation` > 1) through libvips.
void write_with_vips(const std::filesystem::path& path, const RgbaPicture& p, bool alpha,
                     int orientation = 1);
// A large JPEG of a smooth gradient, made a strip at a time.
void write_gradient_jpeg(const std::filesystem::path& path, int width, int height);

}  // namespace lumaweave::test
