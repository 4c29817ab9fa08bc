// What the libvips module does for the program: open picture files of the formats it reads,
// decode them, and scale and place pixels as a frame plan says. The module (lumaweave-vips.so)
// links libvips; the program loads it only when a picture needs it (codec_loader.hpp), so that
// runs that read BMP files alone never load libvips and its hundred libraries.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "picture/framing.hpp"

namespace lumaweave::picture {

// 8-bit sRGB red, green, blue, alpha, top row first.
struct RgbaImage {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;  // width * height * 4 bytes
};

// One picture: a file whose header has been read, or pixels in memory.
class Source {
  public:
    virtual ~Source() = default;
    // Its size once turned upright (a picture whose orientation tag says it lies on its side
    // has width and height exchanged).
    virtual int width() const = 0;
    virtual int height() const = 0;
    // The whole picture, upright, in sRGB (a colour profile other than sRGB is converted; an
    // sRGB one leaves the values as they are). False with the reason when it cannot be read.
    virtual bool decode(RgbaImage& out, std::string& error) = 0;
    // The upright picture cropped, scaled and placed as the plan says, on a transparent canvas.
    virtual bool frame(const FramePlan& plan, RgbaImage& out, std::string& error) = 0;
};

class Codec {
  public:
    virtual ~Codec() = default;
    // Reads the header of a PNG, JPEG, GIF, WebP or TIFF file (by its contents, whatever its
    // name). nullptr with the reason when it is none of these or cannot be read; `recognised`
    // tells the two apart. `format` is set to the format's name.
    virtual std::unique_ptr<Source> open_file(const std::string& path, std::string& format,
                                              bool& recognised, std::string& error) = 0;
    // Pixels in memory (copied), with an orientation tag 1..8 as EXIF numbers them.
    virtual std::unique_ptr<Source> open_pixels(const RgbaImage& picture, int orientation,
                                                std::string& error) = 0;
};

}  // namespace lumaweave::picture

// The module's one exported function: its codec, made on the first call. The version guards
// against a module of another build.
extern "C" lumaweave::picture::Codec* lumaweave_picture_codec(int interface_version);

namespace lumaweave::picture {
inline constexpr int codec_interface_version = 1;
}
