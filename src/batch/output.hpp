// Output names and the double-size "TEST_" picture of a converted file.
#pragma once

#include <string>

#include "convert/conversion.hpp"

namespace lumaweave {

// Whether the batch converts this name: its last four characters, after trailing white space
// is removed, are ".bmp" in any letter case.
bool is_bmp_name(const std::string& name);

// The name without its last four characters (the ".bmp").
std::string base_name(const std::string& name);

// base + ".S02".
std::string vram_name(const std::string& name);

// The "TEST_" picture's name: "TEST_" before the file name part of the base, + ".bmp".
std::string export_name(const std::string& name);

// Fills conv.export_image with a standard 54-byte header and the preview's pixels at twice the
// converted size, bottom row first; returns the number of bytes to write.
std::size_t build_export_image(Conversion& conv);

}  // namespace lumaweave
