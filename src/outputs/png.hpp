// NAME.screen.png: a picture as a PNG file, written with libpng. Apart from the standard C++
// outputs, so that the WebAssembly build of the core needs no libpng (the web page makes its
// PNG with the browser's own encoder).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "convert/types.hpp"

namespace lumaweave::outputs {

// A PNG file of width x height pixels, each a colour number (0..15) of `palette`: an indexed
// PNG, 4 bits a pixel. Throws std::bad_alloc when libpng cannot make it.
std::vector<std::uint8_t> indexed_png(int width, int height, std::span<const std::uint8_t> pixels,
                                      const Palette& palette);

}  // namespace lumaweave::outputs
