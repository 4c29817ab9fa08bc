#include "outputs/rom.hpp"

#include <algorithm>

#include "formats/vram.hpp"
#include "outputs/rom/show_code.hpp"

namespace lumaweave::outputs {

namespace {

static_assert(rom_code::has_palette - rom_code::origin == sizeof rom_code::code);
static_assert(rom_code::palette == rom_code::has_palette + 1);
static_assert(rom_code::names == rom_code::palette + palette_bytes);
static_assert(rom_code::patterns == rom_code::names + name_bytes);
static_assert(rom_code::colours == rom_code::patterns + table_bytes);
static_assert(rom_code::colours + table_bytes - rom_code::origin <= rom_code::size);

void put(std::vector<std::uint8_t>& image, std::uint16_t address,
         std::span<const std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(),
              image.begin() + static_cast<std::ptrdiff_t>(address - rom_code::origin));
}

}  // namespace

std::vector<std::uint8_t> cartridge(
    std::span<const std::uint8_t> memory,
    const std::optional<std::array<std::uint8_t, palette_bytes>>& palette) {
    std::vector<std::uint8_t> image(rom_code::size, 0);
    std::copy(std::begin(rom_code::code), std::end(rom_code::code), image.begin());
    if (palette) {
        image[rom_code::has_palette - rom_code::origin] = 1;
        put(image, rom_code::palette, *palette);
    }
    put(image, rom_code::names, memory.subspan(vram::name_table, name_bytes));
    put(image, rom_code::patterns, memory.subspan(vram::pattern_table, table_bytes));
    put(image, rom_code::colours, memory.subspan(vram::colour_table, table_bytes));
    return image;
}

}  // namespace lumaweave::outputs
