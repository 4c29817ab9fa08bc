// The conversion of one picture, stage by stage, with every buffer it needs allocated once. The
// Converter of the public interface runs it whole; tests run its steps one by one to put the
// straightforward fitting in place of the fast one.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>

#include "convert/fitting.hpp"
#include "convert/images.hpp"
#include "convert/large_memory.hpp"
#include "convert/settings.hpp"
#include "io/config.hpp"
#include "io/scratch_pool.hpp"
#include "lumaweave.hpp"

namespace lumaweave {

class Pipeline {
  public:
    explicit Pipeline(Workers& workers = serial_workers());

    // Megabytes of buffers, all touched by the first conversion.
    static void* operator new(std::size_t size) { return allocate_large(size); }
    static void operator delete(void* p, std::size_t size) { release_large(p, size); }

    const Result& convert_pixels(const PixelPicture& picture, const ConversionSettings& settings,
                                 const DefaultPalettes& palettes,
                                 const std::optional<PaletteTable>& companion, bool prepared,
                                 const Display& display = table_display());
    const Result& convert_bmp(std::span<const std::uint8_t> file,
                              const ConversionSettings& settings, const DefaultPalettes& palettes,
                              const std::optional<PaletteTable>& companion,
                              const Display& display = table_display());
    const Result& convert_file(const std::string& path, const ConversionSettings& settings,
                               const DefaultPalettes& palettes,
                               const Display& display = table_display());

    // --- the steps, for tests ---

    // Takes the picture as the source (the checks, crop and shift, unless it is `prepared`).
    // The settings are those of the conversion that follows.
    Status load_pixels(const PixelPicture& picture, const ConversionSettings& settings,
                       bool prepared);
    // Every stage from the source up to the fitting tables.
    void prepare(const DefaultPalettes& palettes, const std::optional<PaletteTable>& companion,
                 const Display& display = table_display());
    // The fast main pass and refinement.
    void fit();
    // Smoothing, preview, name table and header; fills the result.
    void finish();

    FitInput fit_input() const { return {settings_, work_, maps_, distance_, palette_, tables_}; }
    RefineScratch& refine_scratch() { return refine_; }
    VramImage vram() { return VramImage(result_.vram.data(), vram::file_size); }

    void set_products(const Products& products) { products_ = products; }
    const Result& result() const { return result_; }
    const std::optional<PaletteTable>& companion() const { return companion_; }

  private:
    const Result& fail(Outcome outcome);

    Workers& workers_;
    ConversionSettings settings_;
    Products products_;
    Result result_;
    std::optional<PaletteTable> companion_;
    ScratchPool pool_;
    // Resolution fields of a BMP source, carried into the "TEST_" picture's header.
    std::array<std::uint8_t, 8> resolution_{};
    // A BMP's rows, decoded before the crop and shift (at most 264 x 192 pass the checks).
    std::array<std::uint8_t, (max_width + 8) * max_height * 3> decoded_;

    SourceImage source_;
    WorkImage work_;
    PixelMaps maps_;
    DistanceMap distance_;
    PaletteSet palette_;
    FittingTables tables_;
    FitState fit_;
    RefineScratch refine_;
};

}  // namespace lumaweave
