#include "fuzz/harness.hpp"

#include <stdlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string_view>
#include <vector>

#include "batch/output.hpp"
#include "convert/convert.hpp"
#include "formats/bmp.hpp"
#include "formats/s05.hpp"
#include "io/config.hpp"
#include "io/file_io.hpp"
#include "io/messages.hpp"

namespace lumaweave::fuzz {

namespace {

namespace fs = std::filesystem;

// Hands out the input's bytes in order; past the end it gives zeros.
struct Reader {
    Input bytes;
    std::size_t pos = 0;
    std::uint8_t byte() { return pos < bytes.size() ? bytes[pos++] : 0; }
};

void write_bytes(const fs::path& path, Input bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

ConversionSettings read_settings(Reader& in) {
    ConversionSettings settings;
    for (const SettingField& f : setting_fields()) {
        std::vector<std::int32_t> values;
        if (f.kind == ControlKind::check_box) values.push_back(f.clear_value);
        for (const SettingControl& c : f.controls)
            values.push_back(c.value);
        settings.*(f.member) = values[in.byte() % values.size()];
    }
    return settings;
}

// The message loading must give, from the header checks in their order.
std::string expected_message(Input file, int correction) {
    if (file.empty()) return msg::memory_error;  // a zero-byte read asks the pool for nothing
    if (file.size() < bmp::header_size) return msg::format_not_convertible;
    const std::int64_t offset = bmp::get_i32(&file[bmp::pixel_offset_at]);
    const std::int64_t width = bmp::get_i32(&file[bmp::width_at]);
    const std::int64_t height = bmp::get_i32(&file[bmp::height_at]);
    if (width % 8 != 0) return msg::width_not_multiple_of_8;
    if (width > (correction == 0 ? 256 : 264)) return msg::width_exceeds_256;
    if (height > 192) return msg::height_exceeds_192;
    if (width < 16 || height < 16) return msg::image_too_small;
    if (offset < 0 || static_cast<std::int64_t>(file.size()) < width * height * 3 + offset ||
        bmp::get_u16(&file[bmp::bits_per_pixel_at]) != 24 ||
        bmp::get_u32(&file[bmp::compression_at]) != 0) {
        return msg::format_not_convertible;
    }
    return {};
}

// A successful conversion: its size, the decoded source, the VRAM image, a preview that shows
// exactly what the VRAM image holds, and the "TEST_" picture made from the preview.
std::string check_converted(Conversion& conv, Input source, const ConversionSettings& s) {
    const int src_width = bmp::get_i32(&source[bmp::width_at]);
    const int src_height = bmp::get_i32(&source[bmp::height_at]);
    const int width = src_width - (s.horizontal_position_correction != 0 ? 8 : 0);
    const int height = src_height - src_height % 8;
    if (conv.width != width || conv.height != height) return "working size differs";
    // Source columns from the correction on; of the rows beyond a multiple of 8, half are
    // dropped at the bottom (the file's first rows), the rest at the top.
    const std::uint8_t* pixels = &source[bmp::get_i32(&source[bmp::pixel_offset_at])];
    for (int y = 0; y < max_height; ++y) {
        for (int x = 0; x < max_width; ++x) {
            Rgb want{0, 0, 0};
            if (x < width && y < height) {
                const std::uint8_t* p = pixels +
                                        (height - 1 - y + src_height % 8 / 2) * 3 * src_width +
                                        3 * (s.horizontal_position_correction + x);
                want = {p[2], p[1], p[0]};
            }
            const Rgb& got = conv.source[y * max_width + x];
            if (got.r != want.r || got.g != want.g || got.b != want.b) {
                return "source pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                       ") decoded wrong";
            }
        }
    }

    const auto& v = conv.vram;
    const std::uint8_t bsave[7] = {0xFE, 0, 0, 0xFF, 0x37, 0, 0};
    if (!std::equal(bsave, bsave + 7, v.begin())) return "BSAVE header wrong";
    for (std::size_t n = 0; n < vram::name_table_bytes; ++n) {
        if (v[vram::bsave_header + vram::name_table + n] != n % 256) return "name table wrong";
    }
    for (int y = 0; y < max_height; ++y) {
        for (int x = 0; x < max_width; x += 8) {
            const std::uint8_t pattern = v[vram::pattern_offset(x, y)];
            const std::uint8_t pair = v[vram::colour_offset(x, y)];
            if (x >= width || y >= height) {
                if (pattern != 0 || pair != 0) return "VRAM written outside the picture";
            } else if (pair >> 4 == (pair & 15)) {
                return "colour byte with equal colours";
            } else if (!s.color_no0 && (pair >> 4 == 0 || (pair & 15) == 0)) {
                return "colour 0 used while not allowed";
            }
        }
    }
    for (const Rgb& c : conv.display) {
        for (const std::int32_t channel : {c.r, c.g, c.b}) {
            if (channel < 0 || channel > 255 || 255 * ((channel * 7 + 254) / 255) / 7 != channel)
                return "display colour off the 0..7 scale";
        }
    }
    // Each picture pixel drawn 2 x 2 in its display colour, black elsewhere.
    for (int row = 0; row < 2 * max_height; ++row) {
        for (int column = 0; column < 2 * max_width; ++column) {
            const int x = column / 2, y = row / 2;
            Rgb c{0, 0, 0};
            if (x < width && y < height) {
                const std::uint8_t pair = v[vram::colour_offset(x, y)];
                c = conv.display[v[vram::pattern_offset(x, y)] & (0x80 >> (x & 7)) ? pair >> 4
                                                                                   : pair & 15];
            }
            const std::uint8_t* out =
                &conv.preview[bmp::header_size + row * preview_row_bytes + 3 * column];
            if (out[0] != c.b || out[1] != c.g || out[2] != c.r) {
                return "preview differs from the VRAM image";
            }
        }
    }

    // The "TEST_" picture: a 24-bit BMP at twice the working size, the preview's rows bottom-up.
    const std::size_t size = build_export_image(conv), row_bytes = 6 * width;  // a multiple of 4
    const std::uint8_t* image = conv.export_image.data();
    if (size != bmp::header_size + row_bytes * 2 * height || image[0] != 'B' || image[1] != 'M' ||
        bmp::get_u32(image + 2) != size || bmp::get_i32(image + bmp::pixel_offset_at) != 54 ||
        bmp::get_i32(image + bmp::width_at) != 2 * width ||
        bmp::get_i32(image + bmp::height_at) != 2 * height ||
        bmp::get_u16(image + bmp::bits_per_pixel_at) != 24 ||
        bmp::get_u32(image + bmp::compression_at) != 0 ||
        bmp::get_u32(image + 34) != size - bmp::header_size) {
        return "export header wrong";
    }
    for (int j = 0; j < 2 * height; ++j) {
        if (std::memcmp(image + bmp::header_size + j * row_bytes,
                        &conv.preview[bmp::header_size + (2 * height - 1 - j) * preview_row_bytes],
                        row_bytes) != 0) {
            return "export pixels differ from the preview";
        }
    }
    return {};
}

// A plain reading of the configuration rules, to compare read_config_numbers against.
int plain_config_numbers(std::string_view text, std::string_view key, std::int32_t* destination,
                         int n) {
    const std::size_t position = text.find(key);
    if (position == std::string_view::npos) return 0;
    std::size_t scan = position + 8;
    auto digit = [&](std::size_t i) { return text[i] >= '0' && text[i] <= '9'; };
    for (int j = 0; j < n; ++j) {
        while (scan < text.size() && !digit(scan)) {
            if (text[scan] == '*') return 1;
            ++scan;
        }
        if (scan >= text.size()) return 1;
        std::int64_t value = 0;
        while (scan < text.size() && digit(scan)) {
            value = std::min<std::int64_t>(value * 10 + (text[scan] - '0'), INT32_MAX);
            ++scan;
        }
        if (scan < text.size()) ++scan;  // the byte that ends a number goes with it
        destination[j] = static_cast<std::int32_t>(value);
    }
    return 2;
}

}  // namespace

Workspace::Workspace() {
    std::string pattern = (fs::temp_directory_path() / "lumaweave-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    dir = pattern;
}

Workspace::~Workspace() {
    std::error_code ec;
    fs::remove_all(dir, ec);
}

ConversionSettings convert_settings(Input input) {
    Reader in{input};
    return read_settings(in);
}

std::string run_convert(Workspace& ws, Input input) {
    Reader in{input};
    const ConversionSettings settings = read_settings(in);
    const fs::path source_path = ws.dir / "p.bmp", companion_path = ws.dir / "p.s05";
    std::error_code ec;
    fs::remove_all(companion_path, ec);
    const std::uint8_t companion = in.byte();
    if ((companion & 3) == 1 || (companion & 3) == 2) {
        std::size_t length = s05::palette_offset + s05::palette_bytes;
        if ((companion & 3) == 2) {
            length = in.byte();
            length |= std::size_t{in.byte()} << 8;
        }
        std::vector<std::uint8_t> file(length, 0);
        const std::uint8_t bsave[7] = {0xFE, 0x00, 0x00, 0x9F, 0x76, 0x00, 0x00};
        std::copy_n(bsave, std::min<std::size_t>(7, length), file.begin());
        for (std::size_t i = 0; i < s05::palette_bytes; ++i) {
            const std::uint8_t b = in.byte();
            if (s05::palette_offset + i < length) file[s05::palette_offset + i] = b;
        }
        write_bytes(companion_path, file);
    } else if ((companion & 3) == 3) {
        fs::create_directory(companion_path);
    }
    DefaultPalettes palettes;
    if (companion & 4) {
        for (std::int32_t& value : settings.palette == 2 ? palettes.msx2 : palettes.msx1) {
            const std::uint8_t b = in.byte();
            value = b == 255 ? INT32_MAX : b;
        }
    }
    const Input source = input.subspan(in.pos);
    write_bytes(source_path, source);

    Conversion& conv = *ws.conversion;
    const auto vram_before = conv.vram;
    const std::string message =
        convert_file(conv, ws.pool, source_path.string(), settings, palettes);
    ws.pool.free_all();
    const std::string expected = expected_message(source, settings.horizontal_position_correction);
    if (message != expected) return "message \"" + message + "\", expected \"" + expected + "\"";
    if (!message.empty()) return conv.vram == vram_before ? "" : "a refused picture changed VRAM";
    return check_converted(conv, source, settings);
}

std::string run_s05(Workspace& ws, Input input) {
    const fs::path path = ws.dir / "p.s05";
    write_bytes(path, input);
    const FileContents file = read_whole_file(ws.pool, path.string(), s05::read_extra);
    std::string failure;
    if (!file.message.empty()) {
        failure = "reading failed: " + file.message;
    } else if (file.length != input.size() || !std::equal(input.begin(), input.end(), file.data) ||
               !std::all_of(file.data + file.length, file.data + file.length + s05::read_extra,
                            [](std::uint8_t b) { return b == 0; })) {
        failure = "file contents or padding wrong";
    } else {
        // Each value is its nibble, taken as 7 when larger; bytes past the end read as 0.
        const PaletteTable colours = s05::read_palette(file.data);
        auto at = [&](std::size_t i) { return i < input.size() ? input[i] : 0; };
        for (std::size_t k = 0; k < 16 && failure.empty(); ++k) {
            const int first = at(s05::palette_offset + 2 * k);
            const int second = at(s05::palette_offset + 2 * k + 1);
            const std::int32_t want[3] = {std::min(first >> 4, 7), std::min(second & 15, 7),
                                          std::min(first & 15, 7)};
            if (!std::equal(want, want + 3, colours.begin() + 3 * k))
                failure = "colour " + std::to_string(k) + " decoded wrong";
        }
    }
    ws.pool.free_all();
    return failure;
}

std::string run_config(Workspace& ws, Input input) {
    const int n = input.empty() ? 48 : input[0] % 49;
    const Input text = input.empty() ? input : input.subspan(1);
    // An exact-size copy: any read past the text is a sanitizer report.
    const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[text.size()]);
    std::copy(text.begin(), text.end(), exact.get());
    const std::string_view view(reinterpret_cast<const char*>(exact.get()), text.size());
    for (const char* key : {msx1_palette_key, msx2_palette_key}) {
        std::array<std::int32_t, 52> got, want;
        got.fill(-1);  // never read: numbers are unsigned
        want.fill(-1);
        const int r = read_config_numbers(exact.get(), text.size(), key, got.data(), n);
        if (r != plain_config_numbers(view, key, want.data(), n) || got != want)
            return "reading \"" + std::string(key) + "\" differs, result " + std::to_string(r);
    }

    const fs::path path = ws.dir / "config.txt";
    write_bytes(path, text);
    DefaultPalettes loaded, want;
    const std::string message = load_palette_config(ws.pool, loaded, path.string());
    ws.pool.free_all();
    // What loading must give: the MSX1 item first, the MSX2 item only after a complete MSX1.
    std::string want_message;
    for (const auto& [key, table] :
         {std::pair{msx1_palette_key, &want.msx1}, {msx2_palette_key, &want.msx2}}) {
        const int r = plain_config_numbers(view, key, table->data(), 48);
        if (r == 2) continue;
        want_message =
            std::string(r == 0 ? msg::config_item_not_found : msg::config_not_enough) + key;
        break;
    }
    if (message != want_message) return "load message \"" + message + "\"";
    if (loaded.msx1 != want.msx1 || loaded.msx2 != want.msx2) return "palette tables differ";
    return {};
}

int fuzz_one(const char* name, Input input) {
    static Workspace ws;
    const Target& target =
        *std::find_if(std::begin(targets), std::end(targets),
                      [&](const Target& t) { return !std::strcmp(t.name, name); });
    if (target.run == run_convert && input.size() > max_convert_input) return 0;  // too slow
    const std::string failure = target.run(ws, input);
    if (failure.empty()) return 0;
    std::fprintf(stderr, "fuzz_%s: %s\n", name, failure.c_str());
    std::abort();
}

}  // namespace lumaweave::fuzz
