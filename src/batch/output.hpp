// What a batch writes for each converted picture, and under which names.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lumaweave.hpp"
#include "outputs/files.hpp"

namespace lumaweave {

// The extensions of the pictures a batch converts, in lower case; a name matches in any letter
// case.
inline constexpr std::string_view picture_extensions[] = {".bmp", ".png",  ".jpg", ".jpeg",
                                                          ".gif", ".webp", ".tif", ".tiff"};

// The picture extension a name ends in (after trailing white space is removed), any letter case;
// empty when it ends in none.
std::string_view picture_extension(const std::string& name);

// Whether the batch converts this name.
bool is_picture_name(const std::string& name);

// The name without its picture extension (as many characters as the extension has, counted
// from the very end: "cat.bmp " gives "cat.").
std::string base_name(const std::string& name);

// The companion palette beside a picture: base + ".s05" (for ".bmp", the core's companion_name).
std::string companion_palette_name(const std::string& name);

// base + ".S02".
std::string vram_name(const std::string& name);

// The "TEST_" picture's name: "TEST_" before the file name part of the base, + ".bmp".
std::string export_name(const std::string& name);

// `name` in `folder` ("" for the current one).
std::string joined(const std::string& folder, const std::string& name);

// Whether a name is taken (a dangling symbolic link too: writing would go through it).
bool output_taken(const std::string& path);

// How the outputs are made, where a choice is left: deduplication, the assembler's forms.
using OutputOptions = outputs::FileOptions;

// One kind of output file: its name beside the source, and its bytes.
struct OutputFormat {
    std::string (*file_name)(const std::string& source);
    std::vector<std::uint8_t> (*bytes)(const outputs::PictureFiles& files);
};

// The ".S02" file and the double-size "TEST_" picture.
extern const OutputFormat vram_output;
extern const OutputFormat test_picture_output;
// The tables apart, without headers: NAME.chr (pattern generator), NAME.clr (colours),
// NAME.nam (names).
extern const OutputFormat pattern_output;
extern const OutputFormat colour_output;
extern const OutputFormat name_output;
// The tables as C arrays (NAME.h) and assembler data (NAME.asm).
extern const OutputFormat c_output;
extern const OutputFormat asm_output;
// A 16 KiB MSX cartridge that shows the picture (NAME.rom).
extern const OutputFormat rom_output;
// The screen as an MSX shows it, 256 x 192 (NAME.screen.png).
extern const OutputFormat screen_output;
// The V9938 palette the picture was made for, 32 bytes (NAME.pal).
extern const OutputFormat palette_output;

// Every output format there is, whether a run writes it or not: a folder scan leaves out the
// pictures that any of them names beside another picture.
std::span<const OutputFormat* const> all_output_formats();

// What a name of --format writes (and the web page offers).
struct OutputKind {
    std::string_view name;   // "raw"
    std::string_view files;  // "NAME.chr, NAME.clr, NAME.nam"
    std::string_view description;
    std::vector<const OutputFormat*> formats;
};
std::span<const OutputKind> output_kinds();
const OutputKind* find_output_kind(std::string_view name);

// Where a batch writes and what: each format in turn, beside the source or, with a directory,
// in it under the same file name (in the source's subfolder, when it has one).
struct OutputPlan {
    std::string directory;  // empty: beside each source
    std::vector<const OutputFormat*> formats{&vram_output};
    // Source name -> its folder relative to `directory` ("a/b"), for the pictures a recursive
    // folder scan found; the others go straight into `directory`.
    std::unordered_map<std::string, std::string> subfolders;
    // An output that exists is not replaced; a file all of whose outputs exist is skipped.
    bool no_clobber = false;
    OutputOptions options;

    std::string path(const OutputFormat& format, const std::string& source) const;
    std::vector<std::string> paths(const std::string& source) const;
};

}  // namespace lumaweave
