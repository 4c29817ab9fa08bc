#include "formats/vram.hpp"

namespace lumaweave::vram {

void finish_image(std::uint8_t* image) {
    for (std::size_t n = 0; n < name_table_bytes; ++n) {
        image[bsave_header + name_table + n] = static_cast<std::uint8_t>(n % 256);
    }
    image[0] = 0xFE;
    image[3] = static_cast<std::uint8_t>(end_address & 0xFF);
    image[4] = static_cast<std::uint8_t>(end_address >> 8);
}

}  // namespace lumaweave::vram
