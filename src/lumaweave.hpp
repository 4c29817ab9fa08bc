// lumaweave's conversion core, the one header a front end includes: a picture in, an MSX SCREEN 2
// result out.
//
//     lumaweave::PixelPicture picture{width, height, rgb_bytes};
//     const lumaweave::Result result = lumaweave::convert(picture, settings);
//     if (result.ok()) save(result.vram);
//
// A front end that converts many pictures keeps one Converter per thread: its buffers are
// allocated once and reused by every conversion.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "convert/display.hpp"
#include "convert/settings.hpp"
#include "convert/types.hpp"
#include "convert/workers.hpp"
#include "io/config.hpp"
#include "io/status.hpp"

namespace lumaweave {

// The outcome of one conversion. On failure the images are black (all bytes zero) and the sizes
// zero.
struct Result {
    Outcome outcome;
    int width = 0, height = 0;  // the converted size: multiples of 8, at most 256 x 192

    // The ".S02" file: a 7-byte BSAVE header and the SCREEN 2 video memory 0x0000-0x37FF
    // (14343 bytes), which `BLOAD "NAME.S02",S` loads.
    std::vector<std::uint8_t> vram;
    // The result as the screen shows it, at twice its size: 512 x 384 red, green, blue bytes,
    // top row first, black outside 2 * width x 2 * height.
    std::vector<std::uint8_t> preview;
    // The "TEST_" picture: a BMP file of the preview's 2 * width x 2 * height pixels.
    std::vector<std::uint8_t> export_bmp;
    // The source as the conversion took it (cropped to whole 8-row bands and shifted by the
    // position correction, before any adjustment): width x height red, green, blue bytes.
    std::vector<std::uint8_t> source;
    // The colours the preview shows colour numbers 0..15 with: the display's own, or with the
    // `table` display the palette's.
    Palette display{};
    // The palette the result was made for, red, green, blue on the MSX scale 0..7, colour 0
    // first: the chosen default palette or the companion's.
    PaletteTable palette{};
    // Whether that is a palette an MSX2 is to set (the MSX2 palette or a companion's) rather
    // than the MSX1's fixed colours.
    bool msx2_palette = false;
    // Candidates the block search evaluated (a measure of its work, for the benchmark).
    std::uint64_t candidates_evaluated = 0;

    bool ok() const { return outcome.ok(); }
};

// What a conversion makes besides the video memory and the palettes. A caller that needs less
// says so, and the conversion takes that much less time; what is left out stays empty.
struct Products {
    bool preview = true;     // Result::preview
    bool export_bmp = true;  // Result::export_bmp (made from the preview)
    bool source = true;      // Result::source
};

class Pipeline;

class Converter {
  public:
    // `workers` runs the parts of a conversion that can run at once (the block search of one
    // picture); by default the calling thread alone. The results are the same either way.
    explicit Converter(Workers& workers = serial_workers());
    ~Converter();
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts a picture. It must be 16 to 256 pixels wide (264 with a horizontal position
    // correction, which drops 8 columns), a multiple of 8, and 16 to 192 rows high; the height
    // is rounded down to a multiple of 8, dropping the rows over half at the bottom and half at
    // the top. `companion` is a palette that replaces the chosen default palette. `display` is
    // the screen the picture is made for: with a display of colours of its own, the fitting
    // matches against them and the preview shows them (the palette choice and the companion
    // then have no effect); `table`, the initial one, is the palette's own colours.
    const Result& convert(const PixelPicture& picture, const ConversionSettings& settings = {},
                          const DefaultPalettes& palettes = {},
                          const std::optional<PaletteTable>& companion = std::nullopt,
                          const Display& display = table_display());

    // The same for the bytes of a 24-bit uncompressed BMP file.
    const Result& convert_bmp(std::span<const std::uint8_t> file,
                              const ConversionSettings& settings = {},
                              const DefaultPalettes& palettes = {},
                              const std::optional<PaletteTable>& companion = std::nullopt,
                              const Display& display = table_display());

    // The same for a BMP file on disk; a SCREEN 5 file beside it, named as the picture with
    // ".s05" in place of its last four characters, supplies the companion palette.
    const Result& convert_file(const std::string& path, const ConversionSettings& settings = {},
                               const DefaultPalettes& palettes = {},
                               const Display& display = table_display());

    // A picture that is already what the checks, crop and shift make of a source (as
    // Result::source holds it): width and height multiples of 8 from 8 to 256 and 192. It is
    // converted as it is; the position correction is not applied again. For trial conversions
    // of a picture, or of some of its rows.
    const Result& convert_cropped(const PixelPicture& picture, const ConversionSettings& settings,
                                  const DefaultPalettes& palettes = {},
                                  const std::optional<PaletteTable>& companion = std::nullopt,
                                  const Display& display = table_display());

    // What the conversions from now on make (initially everything).
    void set_products(const Products& products);

    // The last conversion's result, and the companion palette convert_file found for it.
    const Result& result() const;
    const std::optional<PaletteTable>& companion() const;

  private:
    std::unique_ptr<Pipeline> pipeline_;
};

// One conversion with a converter of its own.
Result convert(const PixelPicture& picture, const ConversionSettings& settings = {},
               const DefaultPalettes& palettes = {},
               const std::optional<PaletteTable>& companion = std::nullopt,
               const Display& display = table_display());

// The companion palette file of a picture: its name without the last four characters, + ".s05".
std::string companion_name(const std::string& picture_path);

}  // namespace lumaweave
