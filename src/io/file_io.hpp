// Whole-file input and output that report failure as one of the program's messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "io/scratch_pool.hpp"

namespace lumaweave {

struct FileContents {
    std::string message;          // empty on success
    std::uint8_t* data = nullptr;  // scratch block of length + extra bytes, or nullptr
    std::size_t length = 0;       // bytes of the file
};

// Reads the whole file into one block of the pool and sets the `extra` bytes after the data to
// zero. A file of zero bytes read with extra 0 asks the pool for nothing, which empties it and
// reports the memory message.
FileContents read_whole_file(ScratchPool& pool, const std::string& path, std::size_t extra);

// Replaces the file with the given bytes. The bytes go to a temporary file beside the target
// first and take its place only when complete, so a failure never leaves a half-written file
// nor loses the one that was there.
std::string write_whole_file(const std::string& path, const std::uint8_t* bytes, std::size_t size);

}  // namespace lumaweave
