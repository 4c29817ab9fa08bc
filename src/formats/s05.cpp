#include "formats/s05.hpp"

#include <algorithm>

namespace lumaweave::s05 {

std::array<std::int32_t, 48> read_palette(const std::uint8_t* file) {
    std::array<std::int32_t, 48> colours{};
    const std::uint8_t* p = file + palette_offset;
    for (int k = 0; k < 16; ++k) {
        const std::uint8_t first = p[2 * k];
        const std::uint8_t second = p[2 * k + 1];
        colours[3 * k + 0] = std::min(first >> 4, 7);
        colours[3 * k + 1] = std::min(second & 0x0F, 7);
        colours[3 * k + 2] = std::min(first & 0x0F, 7);
    }
    return colours;
}

}  // namespace lumaweave::s05
