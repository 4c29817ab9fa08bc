// Reading picture files for the conversion, for the command line and the dialog: BMP files of
// every kind with the project's own reader (the 24-bit ones the core reads as it always did),
// PNG, JPEG, GIF, WebP and TIFF through the libvips module, and framing for the screen.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "batch/picture_reader.hpp"
#include "io/scratch_pool.hpp"
#include "picture/codec.hpp"
#include "picture/framing.hpp"

namespace lumaweave::picture {

// Pictures declaring more than this are refused before anything is decoded.
inline constexpr int max_side = 16384;
inline constexpr std::int64_t max_pixels = 100'000'000;

// The refusal of a picture too large to read, or an ok outcome.
Outcome check_limits(int width, int height);

// Whether a failure is one of the conversion's size rules, which framing would have met: the
// front ends then say so.
bool framing_would_help(Status status);

// Frames decoded pixels, with an orientation tag 1..8 (as EXIF numbers them) applied first, into
// `framed` (still with its alpha): the glue between decoded pixels and the codec's scaling.
Outcome frame_pixels(const RgbaImage& picture, int orientation, const FramingOptions& options,
                     int correction, RgbaImage& framed);

class FileReader final : public PictureReader {
  public:
    explicit FileReader(const FramingOptions& options = {});
    const Picture& read(const std::string& name, const ConversionSettings& settings) override;
    // For the files read from now on.
    void set_options(const FramingOptions& options) { options_ = options; }
    const FramingOptions& options() const { return options_; }

  private:
    const Picture& fail(Status status, std::string detail = {});
    const Picture& fail(const Outcome& outcome);
    // The pixels of rgba_ laid over the background.
    const Picture& flattened();
    const Picture& read_bmp(std::span<const std::uint8_t> file, bool bmp_name, int correction);
    const Picture& read_other(const std::string& name, int correction);
    // Frames rgba_ (read from a BMP file) into rgba_.
    const Picture& framed_bmp(int correction);

    FramingOptions options_;
    ScratchPool pool_;
    Picture picture_;
    RgbaImage rgba_, framed_;
    std::vector<std::uint8_t> rgb_;
};

}  // namespace lumaweave::picture
