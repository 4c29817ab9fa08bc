#include "outputs/screen.hpp"

#include <algorithm>
#include <map>

#include "formats/vram.hpp"

namespace lumaweave::outputs {

namespace {

// Where the bytes of tile `tile` of third `third` start in the tables' pattern and colour
// arrays.
std::size_t tile_offset(const ScreenTables& tables, int third, int tile) {
    int before = 0;
    for (int t = 0; t < third; ++t)
        before += tables.tiles[static_cast<std::size_t>(t)];
    return static_cast<std::size_t>(before + tile) * tile_bytes;
}

}  // namespace

ScreenTables screen_tables(std::span<const std::uint8_t> memory) {
    ScreenTables tables;
    const auto part = [&](std::size_t at, std::size_t n) { return memory.subspan(at, n); };
    const auto patterns = part(vram::pattern_table, table_bytes);
    const auto colours = part(vram::colour_table, table_bytes);
    const auto names = part(vram::name_table, name_bytes);
    tables.patterns.assign(patterns.begin(), patterns.end());
    tables.colours.assign(colours.begin(), colours.end());
    std::copy(names.begin(), names.end(), tables.names.begin());
    return tables;
}

ScreenTables deduplicated(const ScreenTables& tables) {
    ScreenTables out;
    out.deduplicated = true;
    for (int third = 0; third < thirds; ++third) {
        // A tile's 8 pattern bytes and 8 colour bytes -> its number in the new table.
        std::map<std::array<std::uint8_t, 2 * tile_bytes>, std::uint8_t> stored;
        for (std::size_t n = 0; n < tiles_per_third; ++n) {
            std::uint8_t& name = out.names[third * tiles_per_third + n];
            const std::size_t at =
                tile_offset(tables, third, tables.names[third * tiles_per_third + n]);
            std::array<std::uint8_t, 2 * tile_bytes> key;
            std::copy_n(tables.patterns.begin() + static_cast<std::ptrdiff_t>(at), tile_bytes,
                        key.begin());
            std::copy_n(tables.colours.begin() + static_cast<std::ptrdiff_t>(at), tile_bytes,
                        key.begin() + tile_bytes);
            const auto [tile, added] =
                stored.emplace(key, static_cast<std::uint8_t>(stored.size()));
            name = tile->second;
            if (!added) continue;
            out.patterns.insert(out.patterns.end(), key.begin(), key.begin() + tile_bytes);
            out.colours.insert(out.colours.end(), key.begin() + tile_bytes, key.end());
        }
        out.tiles[static_cast<std::size_t>(third)] = static_cast<int>(stored.size());
    }
    return out;
}

std::vector<std::uint8_t> video_memory(const ScreenTables& tables) {
    std::vector<std::uint8_t> memory(vram::vram_bytes, 0);
    for (int third = 0; third < thirds; ++third) {
        const std::size_t from = tile_offset(tables, third, 0);
        const std::size_t n =
            static_cast<std::size_t>(tables.tiles[static_cast<std::size_t>(third)]) * tile_bytes;
        const std::size_t to = static_cast<std::size_t>(third) * third_bytes;
        std::copy_n(tables.patterns.begin() + static_cast<std::ptrdiff_t>(from), n,
                    memory.begin() + static_cast<std::ptrdiff_t>(vram::pattern_table + to));
        std::copy_n(tables.colours.begin() + static_cast<std::ptrdiff_t>(from), n,
                    memory.begin() + static_cast<std::ptrdiff_t>(vram::colour_table + to));
    }
    std::copy(tables.names.begin(), tables.names.end(),
              memory.begin() + static_cast<std::ptrdiff_t>(vram::name_table));
    return memory;
}

std::vector<std::uint8_t> bsave_file(const ScreenTables& tables) {
    std::vector<std::uint8_t> file(vram::file_size, 0);
    vram::finish_image(file.data());
    const std::vector<std::uint8_t> memory = video_memory(tables);
    std::copy(memory.begin(), memory.end(), file.begin() + vram::bsave_header);
    return file;
}

std::vector<std::uint8_t> screen_colours(std::span<const std::uint8_t> memory) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(screen_width) * screen_height);
    for (int y = 0; y < screen_height; ++y) {
        for (int x = 0; x < screen_width; ++x) {
            const std::size_t name =
                memory[vram::name_table + static_cast<std::size_t>(y / 8 * 32 + x / 8)];
            const std::size_t at = static_cast<std::size_t>(y / 64) * third_bytes +
                                   name * tile_bytes + static_cast<std::size_t>(y % 8);
            const std::uint8_t pattern = memory[vram::pattern_table + at];
            const std::uint8_t colour = memory[vram::colour_table + at];
            const bool foreground = (pattern >> (7 - x % 8)) & 1;
            out[static_cast<std::size_t>(y) * screen_width + static_cast<std::size_t>(x)] =
                static_cast<std::uint8_t>(foreground ? colour >> 4 : colour & 15);
        }
    }
    return out;
}

std::vector<std::uint8_t> screen_rgb(std::span<const std::uint8_t> colours,
                                     const Palette& palette) {
    std::vector<std::uint8_t> out;
    out.reserve(colours.size() * 3);
    for (const std::uint8_t c : colours) {
        const Rgb& rgb = palette[c & 15];
        out.push_back(static_cast<std::uint8_t>(rgb.r));
        out.push_back(static_cast<std::uint8_t>(rgb.g));
        out.push_back(static_cast<std::uint8_t>(rgb.b));
    }
    return out;
}

std::array<std::uint8_t, palette_bytes> v9938_palette(const PaletteTable& palette) {
    std::array<std::uint8_t, palette_bytes> out{};
    const auto level = [&](int colour, int channel) {
        return static_cast<std::uint8_t>(
            std::clamp(palette[static_cast<std::size_t>(3 * colour + channel)], 0, 7));
    };
    for (int c = 0; c < 16; ++c) {
        out[static_cast<std::size_t>(2 * c)] =
            static_cast<std::uint8_t>(level(c, 0) << 4 | level(c, 2));
        out[static_cast<std::size_t>(2 * c + 1)] = level(c, 1);
    }
    return out;
}

}  // namespace lumaweave::outputs
