// NAME.rom: a 16 KiB MSX cartridge that shows the picture (the code is rom/show.asm).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "outputs/screen.hpp"

namespace lumaweave::outputs {

// The cartridge showing SCREEN 2 video memory (0x0000-0x37FF: its pattern, name and colour
// tables); with a palette, it sets that palette when it runs on an MSX2 or later.
std::vector<std::uint8_t> cartridge(
    std::span<const std::uint8_t> video_memory,
    const std::optional<std::array<std::uint8_t, palette_bytes>>& palette);

}  // namespace lumaweave::outputs
