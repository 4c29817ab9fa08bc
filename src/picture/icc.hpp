// Telling an sRGB colour profile from others, so that a picture that says it is sRGB keeps its
// values exactly: a round trip through a colour engine can move them by one.
#pragma once

#include <cstdint>
#include <span>

namespace lumaweave::picture {

// An ICC profile whose description names sRGB, or whose colorants and tone curves are sRGB's.
bool is_srgb_profile(std::span<const std::uint8_t> profile);

}  // namespace lumaweave::picture
