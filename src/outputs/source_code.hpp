// The tables as source code for a homebrew program: a C header (NAME.h) and an assembler file
// (NAME.asm) of the same bytes, in the order chr, clr, nam (and pal).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "outputs/screen.hpp"

namespace lumaweave::outputs {

// The assembler whose forms the ".asm" file takes: pasmo's (db, equ, "label:"), which many Z80
// assemblers read, or that of sdcc's assembler sdasz80 (.db, "=", an area, and global labels
// with C's leading underscore, so that C code of sdcc sees cat_chr).
enum class AsmSyntax { pasmo, sdasz80 };

// The C identifier a file's name gives, the stem of its arrays and labels: the letters (in lower
// case), digits and underscores of the name's last part without its extension, each run of
// other characters one underscore; "pic_" before a leading digit, "picture" when nothing is
// left; at most 40 characters. "photos/Holiday photo.bmp" gives "holiday_photo".
std::string c_identifier(std::string_view file_name);

// What the source files hold, and what they say about it.
struct SourceTables {
    const ScreenTables& tables;
    // The V9938 palette, for a picture made for the MSX2 palette or a companion's.
    std::optional<std::array<std::uint8_t, palette_bytes>> palette;
    std::string identifier;  // c_identifier() of the source
    std::string source;      // the picture's file name, for the heading comment
    std::string file;        // this file's name ("cat.h"), for the heading comment
};

std::string c_header(const SourceTables& in);
std::string asm_source(const SourceTables& in, AsmSyntax syntax);

}  // namespace lumaweave::outputs
