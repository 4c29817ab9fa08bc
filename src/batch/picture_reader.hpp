// How the files of a batch become what the conversion takes. Without a reader a file is what
// the core reads itself (Converter::convert_file: a 24-bit BMP and its ".s05" palette); a front
// end that reads more pictures gives each converter a reader of its own (src/picture).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "lumaweave.hpp"

namespace lumaweave {

class PictureReader {
  public:
    struct Picture {
        enum class Kind {
            failed,     // `outcome` says why
            bmp_bytes,  // a BMP file for Converter::convert_bmp, as the core always read it
            pixels,     // decoded (and framed) pixels for Converter::convert
        } kind = Kind::failed;
        Outcome outcome;
        std::span<const std::uint8_t> bmp;  // kind bmp_bytes
        PixelPicture pixels;                // kind pixels
        std::optional<PaletteTable> companion;
    };

    virtual ~PictureReader() = default;
    // Reads file `name` for a conversion with `settings` (whose horizontal position correction
    // framing takes into account). What it returns stays valid until the next call.
    virtual const Picture& read(const std::string& name, const ConversionSettings& settings) = 0;
};

// A result that holds only a failure: black images, no sizes, as a refused conversion leaves.
Result failed_result(Outcome outcome);

// Converts file `name` with `converter`: as the core reads it when `reader` is null, else as the
// reader reads it. A file the reader cannot read gives `failure` its outcome and returns it. A
// failure after reading names no file (the batch names it).
const Result& convert_file_with(Converter& converter, PictureReader* reader, Result& failure,
                                const std::string& name, const ConversionSettings& settings,
                                const DefaultPalettes& palettes);

}  // namespace lumaweave
