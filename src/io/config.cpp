#include "io/config.hpp"

#include <cstring>
#include <limits>

#include "io/file_io.hpp"

namespace lumaweave {

namespace {

bool is_digit(std::uint8_t c) {
    return c >= '0' && c <= '9';
}

// Scan start after a key: 8 bytes past the key's first byte. The rest of either key holds no
// digit and no "*", so it is passed over like any separator.
constexpr std::size_t key_skip = 8;

}  // namespace

ConfigRead read_config_numbers(const std::uint8_t* text, std::size_t length, const char* key,
                               std::int32_t* destination, int n) {
    const std::size_t key_length = std::strlen(key);
    std::size_t position = length;
    for (std::size_t i = 0; i < length; ++i) {
        std::size_t m = 0;
        // Bytes past the end read as zero, which never matches a key byte.
        while (m < key_length && i + m < length &&
               text[i + m] == static_cast<std::uint8_t>(key[m])) {
            ++m;
        }
        if (m == key_length) {
            position = i;
            break;
        }
    }
    if (position == length) return ConfigRead::key_missing;

    std::size_t scan = position + key_skip;
    constexpr std::int64_t limit = std::numeric_limits<std::int32_t>::max();
    for (int j = 0; j < n; ++j) {
        while (true) {
            if (scan >= length || text[scan] == '*') return ConfigRead::too_few;
            if (is_digit(text[scan])) break;
            ++scan;
        }
        std::int64_t value = 0;
        while (true) {
            const std::uint8_t c = text[scan++];
            if (!is_digit(c)) break;  // the byte that ends a number is consumed with it
            value = value * 10 + (c - '0');
            if (value > limit) value = limit;
            if (scan >= length) break;
        }
        destination[j] = static_cast<std::int32_t>(value);
    }
    return ConfigRead::complete;
}

Outcome load_palette_config(ScratchPool& pool, DefaultPalettes& palettes, const std::string& path) {
    const FileContents file = read_whole_file(pool, path, 4096);
    if (!file.outcome.ok()) return {};
    struct Item {
        const char* key;
        PaletteTable& table;
    };
    const Item items[] = {{msx1_palette_key, palettes.msx1}, {msx2_palette_key, palettes.msx2}};
    for (const Item& item : items) {
        const ConfigRead r =
            read_config_numbers(file.data, file.length, item.key, item.table.data(),
                                static_cast<int>(item.table.size()));
        if (r == ConfigRead::key_missing) {
            return failure(Status::config_item_not_found, path, item.key);
        }
        if (r == ConfigRead::too_few) return failure(Status::config_not_enough, path, item.key);
    }
    return {};
}

}  // namespace lumaweave
