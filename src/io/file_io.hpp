// Whole-file input and output, reporting failure as a status with the file and the system's
// reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "io/scratch_pool.hpp"
#include "io/status.hpp"

namespace lumaweave {

struct FileContents {
    Outcome outcome;
    std::uint8_t* data = nullptr;  // scratch block of length + extra bytes, or nullptr
    std::size_t length = 0;        // bytes of the file

    std::span<const std::uint8_t> bytes() const { return {data, length}; }
};

// Reads the whole file into one block of the pool and sets the `extra` bytes after the data to
// zero. Only regular files are read (a pipe or a folder cannot be a picture, and a pipe could
// hang the program).
FileContents read_whole_file(ScratchPool& pool, const std::string& path, std::size_t extra);

// Replaces the file with the given bytes. The bytes go to a temporary file beside the target
// first and take its place only when complete, so a failure never leaves a half-written file
// nor loses the one that was there.
Outcome write_whole_file(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace lumaweave
