// The palette stored in a SCREEN 5 BSAVE image (".s05"), the companion file of a picture.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace lumaweave::s05 {

// 7-byte BSAVE header + VRAM address 0x7680.
inline constexpr std::size_t palette_offset = 7 + 0x7680;
inline constexpr std::size_t palette_bytes = 32;
// The companion is read with this many zero bytes after its end, so the palette can always be
// read and lies as zeros beyond a short file.
inline constexpr std::size_t read_extra = 32768;
static_assert(palette_offset + palette_bytes <= read_extra);

// Decodes the 16 colours (red, green, blue on the 0..7 scale, colour 0 first) from the
// palette bytes of a companion buffer (at least palette_offset + palette_bytes long). Values
// 8..15 of a malformed file are taken as 7.
std::array<std::int32_t, 48> read_palette(const std::uint8_t* file);

}  // namespace lumaweave::s05
