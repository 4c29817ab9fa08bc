// What a batch writes for each converted picture, and under which names.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "lumaweave.hpp"

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

// One kind of output file: its name beside the source, and its bytes from the result.
struct OutputFormat {
    std::string (*file_name)(const std::string& source);
    std::span<const std::uint8_t> (*bytes)(const Result& result);
};

// The ".S02" file and the double-size "TEST_" picture.
extern const OutputFormat vram_output;
extern const OutputFormat test_picture_output;

// Where a batch writes and what: each format in turn, beside the source or, with a directory,
// in it under the same file name.
struct OutputPlan {
    std::string directory;  // empty: beside each source
    std::vector<const OutputFormat*> formats{&vram_output};

    std::string path(const OutputFormat& format, const std::string& source) const;
    std::vector<std::string> paths(const std::string& source) const;
};

}  // namespace lumaweave
