// What each fuzz target does with one input. The libFuzzer entry points and the regression
// test both call these, so a saved input replays exactly the run that found it.
//
// Every run checks the outcome against rules that any correct result obeys and returns a text
// naming the first rule broken (empty when all held); crashes and sanitizer reports are
// findings of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "convert/conversion.hpp"
#include "convert/settings.hpp"
#include "io/scratch_pool.hpp"

namespace lumaweave::fuzz {

// A private temporary folder for the files a run writes, and the long-lived objects of the
// program (one conversion object, one pool) reused by every run as the program reuses them.
class Workspace {
  public:
    Workspace();
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    const std::filesystem::path& dir() const { return dir_; }
    Conversion& conversion() { return *conversion_; }
    ScratchPool& pool() { return pool_; }

  private:
    std::filesystem::path dir_;
    std::unique_ptr<Conversion> conversion_;
    ScratchPool pool_;
};

// Layout of a convert input:
//   one byte per settings field, in record order: the field takes its allowed value number
//     (byte mod count), the values in dialog order (check boxes: clear, checked);
//   one companion byte: bits 0-1 pick the companion ".s05": 0 none, 1 a full SCREEN 5 file,
//     2 a file whose length follows as two little-endian bytes, 3 a folder of that name;
//     with 1 and 2 the 32 palette bytes follow (they land at the palette's offset when the
//     file reaches that far). Bit 2: 48 bytes follow that replace the default palette table
//     in use (each byte one number, as a configuration file could give it);
//   the rest: the source ".bmp" file, byte for byte.
// The fuzz target skips inputs longer than max_convert_input, to keep each run quick.
inline constexpr std::size_t settings_bytes = 23;
inline constexpr std::size_t max_convert_input = 16384;

std::string run_convert(Workspace& ws, std::span<const std::uint8_t> input);

// The settings a convert input asks for.
ConversionSettings convert_settings(std::span<const std::uint8_t> input);
// The companion byte of a convert input.
std::uint8_t convert_companion(std::span<const std::uint8_t> input);

// The input is a whole ".s05" file, read as the companion palette of a picture.
std::string run_s05(Workspace& ws, std::span<const std::uint8_t> input);

// The first byte gives n (byte mod 49) for direct reads of both palette keys; the rest is
// the text of a configuration file, read directly and through load_palette_config.
std::string run_config(Workspace& ws, std::span<const std::uint8_t> input);

}  // namespace lumaweave::fuzz
