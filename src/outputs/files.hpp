// Every file made from one converted picture, for MSX programs and for a look at the result:
// what the command line's --format writes and the web page offers, each made once here.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lumaweave.hpp"
#include "outputs/screen.hpp"
#include "outputs/source_code.hpp"

namespace lumaweave::outputs {

// How the files are made, where a choice is left.
struct FileOptions {
    bool dedupe = false;  // identical tiles of a third stored once
    AsmSyntax asm_syntax = AsmSyntax::pasmo;
};

// The files of a successful result, for the picture named `source`. The result must outlive the
// object.
class PictureFiles {
  public:
    PictureFiles(const Result& result, std::string source, const FileOptions& options = {});

    const Result& result() const { return result_; }
    const std::string& source() const { return source_; }
    const ScreenTables& tables() const { return tables_; }

    // The ".S02": the converter's own file, or with deduplicated tiles the same layout holding
    // them.
    std::vector<std::uint8_t> s02() const;
    // The raw tables: NAME.chr, NAME.clr, NAME.nam.
    std::vector<std::uint8_t> patterns() const { return tables_.patterns; }
    std::vector<std::uint8_t> colours() const { return tables_.colours; }
    std::vector<std::uint8_t> names() const;
    // NAME.h and NAME.asm, `file_name` being the file's own name ("cat.h").
    std::string c_header(std::string_view file_name) const;
    std::string asm_source(std::string_view file_name) const;
    // NAME.rom: the cartridge, which sets the palette on an MSX2 when the picture was made for
    // an MSX2 palette.
    std::vector<std::uint8_t> cartridge() const;
    // NAME.pal: the palette the picture was made for, in the V9938's form.
    std::array<std::uint8_t, palette_bytes> palette() const;
    // The colour number each of the screen's 256 x 192 pixels shows (NAME.screen.png draws
    // them in the result's display colours).
    std::vector<std::uint8_t> screen() const { return screen_colours(memory_); }

  private:
    SourceTables source_tables(std::string_view file_name) const;

    const Result& result_;
    std::string source_;
    FileOptions options_;
    ScreenTables tables_;
    std::vector<std::uint8_t> memory_;  // video memory 0x0000-0x37FF of the tables
};

}  // namespace lumaweave::outputs
