// The codec that libvips provides, for the module that exports it and for the fuzz target and
// tests that link it directly.
#pragma once

#include "picture/codec.hpp"

namespace lumaweave::picture {

Codec& vips_codec();

}  // namespace lumaweave::picture
