#include "fuzz/harness.hpp"

#include <stdlib.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <fstream>
#include <string_view>
#include <vector>

#include "batch/output.hpp"
#include "convert/convert.hpp"
#include "convert/settings.hpp"
#include "formats/bmp.hpp"
#include "formats/s05.hpp"
#include "formats/vram.hpp"
#include "io/config.hpp"
#include "io/file_io.hpp"
#include "io/messages.hpp"

namespace lumaweave::fuzz {

namespace {

namespace fs = std::filesystem;

// Hands out the input's bytes in order; past the end it gives zeros.
class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint8_t byte() { return pos_ < bytes_.size() ? bytes_[pos_++] : 0; }
    std::span<const std::uint8_t> rest() const {
        return bytes_.subspan(std::min(pos_, bytes_.size()));
    }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

void write_bytes(const fs::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void remove_any(const fs::path& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
}

bool all_zero(const std::uint8_t* p, std::size_t n) {
    return std::all_of(p, p + n, [](std::uint8_t b) { return b == 0; });
}

std::vector<std::int32_t> allowed_values(const SettingField& f) {
    std::vector<std::int32_t> values;
    if (f.kind == ControlKind::check_box) values.push_back(f.clear_value);
    for (const SettingControl& c : f.controls)
        values.push_back(c.value);
    return values;
}

// The message loading must give for this source file, from the header checks in their order.
std::string expected_load_message(std::span<const std::uint8_t> file, int correction) {
    if (file.empty()) return msg::memory_error;  // a zero-byte read asks the pool for nothing
    if (file.size() < bmp::header_size) return msg::format_not_convertible;
    const std::int64_t offset = bmp::get_i32(file.data() + bmp::pixel_offset_at);
    const std::int64_t width = bmp::get_i32(file.data() + bmp::width_at);
    const std::int64_t height = bmp::get_i32(file.data() + bmp::height_at);
    if (width % 8 != 0) return msg::width_not_multiple_of_8;
    if (width > (correction == 0 ? 256 : 264)) return msg::width_exceeds_256;
    if (height > 192) return msg::height_exceeds_192;
    if (width < 16 || height < 16) return msg::image_too_small;
    if (offset < 0 || static_cast<std::int64_t>(file.size()) < width * height * 3 + offset ||
        bmp::get_u16(file.data() + bmp::bits_per_pixel_at) != 24 ||
        bmp::get_u32(file.data() + bmp::compression_at) != 0) {
        return msg::format_not_convertible;
    }
    return {};
}

// The checks of a successful conversion: sizes, headers, the VRAM layout, and a preview that
// shows exactly what the VRAM image holds.
std::string check_converted(const Conversion& conv, std::span<const std::uint8_t> source,
                            const ConversionSettings& s) {
    const std::int32_t src_width = bmp::get_i32(source.data() + bmp::width_at);
    const std::int32_t src_height = bmp::get_i32(source.data() + bmp::height_at);
    const int width = src_width - (s.horizontal_position_correction != 0 ? 8 : 0);
    const int height = src_height - src_height % 8;
    if (conv.width != width || conv.height != height) return "working size differs";

    // The decoded picture: source columns c .. c + width - 1 of the kept rows, the rows of an
    // odd height dropped half at the bottom (the first rows of the file), the rest at the top.
    const std::int64_t offset = bmp::get_i32(source.data() + bmp::pixel_offset_at);
    const std::int64_t row_length = 3 * std::int64_t{src_width};
    const int bottom_dropped = src_height % 8 / 2;
    for (int y = 0; y < max_height; ++y) {
        for (int x = 0; x < max_width; ++x) {
            const Rgb& got = conv.source[y * max_width + x];
            Rgb want{0, 0, 0};
            if (x < width && y < height) {
                const std::uint8_t* p = source.data() + offset +
                                        (height - 1 - y + bottom_dropped) * row_length +
                                        3 * (s.horizontal_position_correction + x);
                want = {p[2], p[1], p[0]};
            }
            if (got.r != want.r || got.g != want.g || got.b != want.b) {
                return "source pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                       ") decoded wrong";
            }
        }
    }

    std::uint8_t header[bmp::header_size];
    std::memcpy(header, source.data(), bmp::header_size);
    bmp::put_i32(header + bmp::width_at, width);
    bmp::put_i32(header + bmp::height_at, height);
    std::uint8_t expected[bmp::header_size];
    std::memcpy(expected, header, bmp::header_size);
    bmp::put_i32(expected + bmp::pixel_offset_at, bmp::header_size);
    if (std::memcmp(conv.export_image.data(), expected, bmp::header_size) != 0) {
        return "export header differs";
    }
    std::memcpy(expected, header, bmp::header_size);
    bmp::put_i32(expected + bmp::width_at, 512);
    bmp::put_i32(expected + bmp::height_at, 384);
    if (std::memcmp(conv.preview.data(), expected, bmp::header_size) != 0) {
        return "preview header differs";
    }
    if (!all_zero(conv.export_image.data() + bmp::header_size,
                  conv.export_image.size() - bmp::header_size)) {
        return "export pixels not cleared";
    }

    const auto& v = conv.vram;
    if (v[0] != 0xFE || v[1] != 0 || v[2] != 0 || v[3] != 0xFF || v[4] != 0x37 || v[5] != 0 ||
        v[6] != 0) {
        return "BSAVE header wrong";
    }
    for (std::size_t n = 0; n < vram::name_table_bytes; ++n) {
        if (v[vram::bsave_header + vram::name_table + n] != n % 256) return "name table wrong";
    }
    for (int y = 0; y < max_height; ++y) {
        for (int x = 0; x < max_width; x += 8) {
            const std::uint8_t pattern = v[vram::pattern_offset(x, y)];
            const std::uint8_t pair = v[vram::colour_offset(x, y)];
            if (x >= width || y >= height) {
                if (pattern != 0 || pair != 0) return "VRAM written outside the picture";
                continue;
            }
            if (pair >> 4 == (pair & 15)) return "colour byte with equal colours";
            if (!s.color_no0 && (pair >> 4 == 0 || (pair & 15) == 0)) {
                return "colour 0 used while not allowed";
            }
        }
    }

    // Preview: each picture pixel drawn 2 x 2 in its display colour, black elsewhere.
    for (int row = 0; row < 384; ++row) {
        const std::uint8_t* line = conv.preview.data() + bmp::header_size + row * preview_row_bytes;
        const int drawn = row < 2 * height ? 2 * width : 0;
        for (int column = 0; column < drawn; ++column) {
            const int x = column / 2, y = row / 2;
            const std::uint8_t pattern = v[vram::pattern_offset(x, y)];
            const std::uint8_t pair = v[vram::colour_offset(x, y)];
            const int k = (pattern & (0x80 >> (x & 7))) ? pair >> 4 : pair & 15;
            const Rgb& c = conv.display[k];
            const std::uint8_t* out = line + 3 * column;
            if (out[0] != c.b || out[1] != c.g || out[2] != c.r) {
                return "preview differs from the VRAM image";
            }
        }
        if (!all_zero(line + 3 * drawn, static_cast<std::size_t>(preview_row_bytes - 3 * drawn))) {
            return "preview drawn outside the picture";
        }
    }
    for (const Rgb& c : conv.display) {
        for (std::int32_t channel : {c.r, c.g, c.b}) {
            const std::int32_t step = (channel * 7 + 254) / 255;  // the 0..7 value it shows
            if (channel < 0 || channel > 255 || 255 * step / 7 != channel) {
                return "display colour off the 0..7 scale";
            }
        }
    }
    return {};
}

// The "TEST_" picture the batch writes from a conversion: a 24-bit BMP at twice the working
// size whose header agrees with the bytes written, holding the preview's rows bottom-up.
std::string check_export(Conversion& conv) {
    const std::size_t size = build_export_image(conv);
    const std::uint8_t* image = conv.export_image.data();
    const std::int32_t width = 2 * conv.width, height = 2 * conv.height;
    const std::size_t row_bytes = static_cast<std::size_t>(width) * 3;  // a multiple of 4 here
    if (size > conv.export_image.size() ||
        size != bmp::header_size + row_bytes * static_cast<std::size_t>(height)) {
        return "export size wrong";
    }
    if (image[0] != 'B' || image[1] != 'M' || bmp::get_u32(image + 2) != size ||
        bmp::get_i32(image + bmp::pixel_offset_at) != bmp::header_size ||
        bmp::get_i32(image + bmp::width_at) != width ||
        bmp::get_i32(image + bmp::height_at) != height ||
        bmp::get_u16(image + bmp::bits_per_pixel_at) != 24 ||
        bmp::get_u32(image + bmp::compression_at) != 0 ||
        bmp::get_u32(image + 34) != size - bmp::header_size) {
        return "export header wrong";
    }
    for (int j = 0; j < height; ++j) {
        const std::uint8_t* row = image + bmp::header_size + j * row_bytes;
        const std::uint8_t* shown =
            conv.preview.data() + bmp::header_size + (height - 1 - j) * preview_row_bytes;
        if (std::memcmp(row, shown, row_bytes) != 0) return "export pixels differ from preview";
    }
    return {};
}

// A plain reading of the configuration rules, to compare read_config_numbers against.
int reference_config_numbers(std::string_view text, std::string_view key, std::int32_t* destination,
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

ConversionSettings read_settings(Reader& in) {
    ConversionSettings settings;
    for (const SettingField& f : setting_fields()) {
        const std::vector<std::int32_t> values = allowed_values(f);
        settings.*(f.member) = values[in.byte() % values.size()];
    }
    return settings;
}

}  // namespace

Workspace::Workspace() : conversion_(make_conversion()) {
    std::string pattern = (fs::temp_directory_path() / "lumaweave-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_ = pattern;
}

Workspace::~Workspace() {
    remove_any(dir_);
}

ConversionSettings convert_settings(std::span<const std::uint8_t> input) {
    Reader in(input);
    return read_settings(in);
}

std::uint8_t convert_companion(std::span<const std::uint8_t> input) {
    return input.size() > settings_bytes ? input[settings_bytes] : 0;
}

std::string run_convert(Workspace& ws, std::span<const std::uint8_t> input) {
    Reader in(input);
    const ConversionSettings settings = read_settings(in);

    const fs::path source_path = ws.dir() / "p.bmp";
    const fs::path companion_path = ws.dir() / "p.s05";
    remove_any(companion_path);
    const std::uint8_t companion = in.byte();
    const int companion_kind = companion & 3;
    if (companion_kind == 1 || companion_kind == 2) {
        std::size_t length = s05::palette_offset + s05::palette_bytes;
        if (companion_kind == 2) {
            const std::size_t low = in.byte();
            length = low | std::size_t{in.byte()} << 8;
        }
        std::vector<std::uint8_t> file(length, 0);
        const std::uint8_t bsave[7] = {0xFE, 0x00, 0x00, 0x9F, 0x76, 0x00, 0x00};
        std::copy_n(bsave, std::min<std::size_t>(7, length), file.begin());
        for (std::size_t i = 0; i < s05::palette_bytes; ++i) {
            const std::uint8_t b = in.byte();
            if (s05::palette_offset + i < length) file[s05::palette_offset + i] = b;
        }
        write_bytes(companion_path, file);
    } else if (companion_kind == 3) {
        fs::create_directory(companion_path);
    }
    DefaultPalettes palettes;
    if (companion & 4) {
        PaletteTable& table = settings.palette == 2 ? palettes.msx2 : palettes.msx1;
        for (std::int32_t& value : table) {
            const std::uint8_t b = in.byte();
            value = b == 255 ? INT32_MAX : b;
        }
    }

    const std::span<const std::uint8_t> source = in.rest();
    write_bytes(source_path, source);

    Conversion& conv = ws.conversion();
    const auto vram_before = conv.vram;
    const std::string message =
        convert_file(conv, ws.pool(), source_path.string(), settings, palettes);
    ws.pool().free_all();

    const std::string expected =
        expected_load_message(source, settings.horizontal_position_correction);
    if (message != expected) return "message \"" + message + "\", expected \"" + expected + "\"";
    if (!message.empty()) {
        return conv.vram == vram_before ? std::string{} : "a refused picture changed the VRAM";
    }
    const std::string failure = check_converted(conv, source, settings);
    return failure.empty() ? check_export(conv) : failure;
}

std::string run_s05(Workspace& ws, std::span<const std::uint8_t> input) {
    const fs::path path = ws.dir() / "p.s05";
    write_bytes(path, input);
    const FileContents file = read_whole_file(ws.pool(), path.string(), s05::read_extra);
    std::string failure;
    if (!file.message.empty()) {
        failure = "reading failed: " + file.message;
    } else if (file.length != input.size() || !std::equal(input.begin(), input.end(), file.data) ||
               !all_zero(file.data + file.length, s05::read_extra)) {
        failure = "file contents or padding wrong";
    } else {
        const PaletteTable colours = s05::read_palette(file.data);
        for (int k = 0; k < 16 && failure.empty(); ++k) {
            // Each value is its nibble, taken as 7 when larger; bytes past the end read as 0.
            const std::size_t at = s05::palette_offset + 2 * k;
            const std::uint8_t first = at < input.size() ? input[at] : 0;
            const std::uint8_t second = at + 1 < input.size() ? input[at + 1] : 0;
            const std::int32_t want[3] = {std::min(first >> 4, 7), std::min(second & 15, 7),
                                          std::min(first & 15, 7)};
            if (!std::equal(want, want + 3, colours.begin() + 3 * k)) {
                failure = "colour " + std::to_string(k) + " decoded wrong";
            }
        }
    }
    ws.pool().free_all();
    return failure;
}

std::string run_config(Workspace& ws, std::span<const std::uint8_t> input) {
    const int n = input.empty() ? 48 : input[0] % 49;
    const std::span<const std::uint8_t> text = input.empty() ? input : input.subspan(1);
    // An exact-size copy: any read past the text is a sanitizer report.
    const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[text.size()]);
    std::copy(text.begin(), text.end(), exact.get());
    const std::string_view view(reinterpret_cast<const char*>(exact.get()), text.size());

    constexpr std::int32_t untouched = -12345;  // never read: numbers are unsigned
    const char* const keys[] = {msx1_palette_key, msx2_palette_key};
    for (const char* key : keys) {
        std::array<std::int32_t, 52> got, want;
        got.fill(untouched);
        want.fill(untouched);
        const int r = read_config_numbers(exact.get(), text.size(), key, got.data(), n);
        const int r_want = reference_config_numbers(view, key, want.data(), n);
        if (r != r_want) {
            return std::string("result ") + std::to_string(r) + " for " + key + ", expected " +
                   std::to_string(r_want);
        }
        if (got != want) return std::string("numbers differ for ") + key;
    }

    const fs::path path = ws.dir() / "config.txt";
    write_bytes(path, text);
    DefaultPalettes loaded;
    const std::string message = load_palette_config(ws.pool(), loaded, path.string());
    ws.pool().free_all();

    // What loading must give: the MSX1 item first, the MSX2 item only after a complete MSX1.
    DefaultPalettes want;
    std::string want_message;
    const int r1 = reference_config_numbers(view, msx1_palette_key, want.msx1.data(), 48);
    if (r1 == 0) want_message = std::string(msg::config_item_not_found) + msx1_palette_key;
    if (r1 == 1) want_message = std::string(msg::config_not_enough) + msx1_palette_key;
    if (r1 == 2) {
        const int r2 = reference_config_numbers(view, msx2_palette_key, want.msx2.data(), 48);
        if (r2 == 0) want_message = std::string(msg::config_item_not_found) + msx2_palette_key;
        if (r2 == 1) want_message = std::string(msg::config_not_enough) + msx2_palette_key;
    }
    if (message != want_message) return "load message \"" + message + "\"";
    if (loaded.msx1 != want.msx1 || loaded.msx2 != want.msx2) return "palette tables differ";
    return {};
}

}  // namespace lumaweave::fuzz
