// Small pictures, as pixels and as BMP files, and scratch folders for tests.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "lumaweave.hpp"

namespace lumaweave {

// A status shows as its text in a test's report.
inline void PrintTo(Status status, std::ostream* out) {
    *out << message_text(status);
}

}  // namespace lumaweave

namespace lumaweave::test {

inline std::string text(Status status) {
    return std::string(message_text(status));
}

struct Color {
    std::uint8_t r, g, b;
};

// A 24-bit bottom-up BMP; color(x, y) gives pixel (x, y), y = 0 at the top.
inline std::vector<std::uint8_t> make_bmp(int width, int height,
                                          const std::function<Color(int, int)>& color) {
    const int row = (3 * width + 3) & ~3;
    std::vector<std::uint8_t> file(54 + static_cast<std::size_t>(row) * height, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    file[0] = 'B';
    file[1] = 'M';
    const auto size = std::uint32_t(file.size()), w = std::uint32_t(width),
               h = std::uint32_t(height), image = std::uint32_t(row * height);
    const std::uint32_t fields[] = {size, 0,    54, 40, w, h, 0x180001 /* 24 bits, 1 plane */,
                                    0,    image};
    for (int i = 0; i < 9; ++i)
        put32(2 + 4 * i, fields[i]);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* p = file.data() + 54 + static_cast<std::size_t>(height - 1 - y) * row;
        for (int x = 0; x < width; ++x, p += 3) {
            const Color c = color(x, y);
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
        }
    }
    return file;
}

inline std::vector<std::uint8_t> make_flat_bmp(int width, int height, Color c) {
    return make_bmp(width, height, [c](int, int) { return c; });
}

// A small generator, so that "random" pictures repeat exactly.
struct Lcg {
    std::uint32_t state;
    std::uint32_t next() { return (state = state * 1664525u + 1013904223u) >> 8; }
    std::uint32_t below(std::uint32_t n) { return next() % n; }
};

// Pixels as a front end holds them: red, green, blue bytes, top row first.
struct RgbPicture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;

    PixelPicture pixels() const { return {width, height, rgb}; }
    Color at(int x, int y) const {
        const std::uint8_t* p = &rgb[3 * (static_cast<std::size_t>(y) * width + x)];
        return {p[0], p[1], p[2]};
    }
    std::vector<std::uint8_t> bmp() const {
        return make_bmp(width, height, [this](int x, int y) { return at(x, y); });
    }
};

// A picture of pseudo-random colours.
inline RgbPicture make_noise(int width, int height, std::uint32_t seed) {
    Lcg lcg{seed};
    RgbPicture p{width, height, std::vector<std::uint8_t>(3 * std::size_t(width) * height)};
    for (std::uint8_t& v : p.rgb)
        v = static_cast<std::uint8_t>(lcg.next());
    return p;
}

inline void write_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A fresh empty folder under the system's temporary folder, removed with the object.
class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumaweave-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

inline std::string put_noise(const std::filesystem::path& file, int width = 16, int height = 16,
                             std::uint32_t seed = 1) {
    write_file(file, make_noise(width, height, seed).bmp());
    return file.string();
}

// The result of converting a file (the tests that use it compare it with a program's output).
inline Result converted(const std::filesystem::path& source,
                        const ConversionSettings& settings = {},
                        const DefaultPalettes& palettes = {},
                        const Display& display = table_display()) {
    return Converter().convert_file(source.string(), settings, palettes, display);
}

}  // namespace lumaweave::test
