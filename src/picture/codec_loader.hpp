// Loads the libvips module (lumaweave-vips.so) on first need: beside the program, or where the
// package installs it. Runs that read only BMP files never load it.
#pragma once

#include <string>

#include "picture/codec.hpp"

namespace lumaweave::picture {

// The codec, the module loaded on the first call; nullptr with the reason when it cannot be
// loaded. Safe to call from several threads.
Codec* load_codec(std::string& error);

// The module to load instead of looking for it (a test program, which lives elsewhere), or a
// codec to use without any module (a program that links libvips itself). Call before any use.
void use_codec_module(const std::string& path);
void use_codec(Codec* codec);

}  // namespace lumaweave::picture
