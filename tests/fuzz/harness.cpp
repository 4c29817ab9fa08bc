#include "fuzz/harness.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <tuple>
#include <vector>

#include "formats/bmp.hpp"
#include "formats/s05.hpp"
#include "formats/vram.hpp"
#include "io/config.hpp"
#include "io/file_io.hpp"

namespace lumaweave::fuzz {

namespace {

namespace fs = std::filesystem;

// Hands out the input's bytes in order; past the end it gives zeros.
struct Reader {
    Input bytes;
    std::size_t pos = 0;
    std::uint8_t byte() { return pos < bytes.size() ? bytes[pos++] : 0; }
};

// The status a conversion must end with, from the header checks in their order.
Status expected_status(Input file, int correction) {
    if (file.size() < bmp::header_size) return Status::format_not_convertible;  // empty too
    const std::int64_t offset = bmp::get_i32(&file[bmp::pixel_offset_at]);
    const std::int64_t width = bmp::get_i32(&file[bmp::width_at]);
    const std::int64_t height = bmp::get_i32(&file[bmp::height_at]);
    if (width % 8 != 0) return Status::width_not_multiple_of_8;
    if (width > (correction == 0 ? 256 : 264)) return Status::width_exceeds_256;
    if (height > 192) return Status::height_exceeds_192;
    if (width < 16 || height < 16) return Status::image_too_small;
    if (offset < 0 || static_cast<std::int64_t>(file.size()) < width * height * 3 + offset ||
        bmp::get_u16(&file[bmp::bits_per_pixel_at]) != 24 ||
        bmp::get_u32(&file[bmp::compression_at]) != 0)
        return Status::format_not_convertible;
    return Status::ok;
}

}  // namespace

// (The display colours are left to the palette tests.)
std::string check_converted(const Result& r, Input file, const ConversionSettings& s) {
    const int c = s.horizontal_position_correction;
    const int offset = bmp::get_i32(&file[bmp::pixel_offset_at]);
    const int file_width = bmp::get_i32(&file[bmp::width_at]);
    const int file_height = bmp::get_i32(&file[bmp::height_at]);
    const int width = file_width - (c != 0 ? 8 : 0), height = file_height - file_height % 8;
    if (r.width != width || r.height != height) return "converted size differs";
    const int top = file_height % 8 - file_height % 8 / 2;
    if (r.source.size() != std::size_t{3} * width * height) return "source size differs";
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = &file[offset + (file_height - 1 - top - y) * 3 * file_width];
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = row + 3 * (x + c);
            const std::uint8_t* q = &r.source[3 * (std::size_t{1} * y * width + x)];
            if (q[0] != p[2] || q[1] != p[1] || q[2] != p[0]) return "source pixel differs";
        }
    }
    // The "TEST_" picture: a standard 24-bit BMP of the preview at twice the converted size,
    // keeping the source's resolution fields.
    std::vector<std::uint8_t> expected = test::make_flat_bmp(2 * width, 2 * height, {});
    std::copy_n(&file[bmp::resolution_at], bmp::resolution_bytes, &expected[bmp::resolution_at]);
    for (int y = 0; y < max_height; ++y) {
        for (int x = 0; x < max_width; ++x) {
            const bool inside = x < width && y < height;
            const std::uint8_t pattern = r.vram[vram::pattern_offset(x, y)];
            const std::uint8_t pair = r.vram[vram::colour_offset(x, y)];
            if (!inside && (pattern != 0 || pair != 0)) return "VRAM written outside the picture";
            if (inside && pair >> 4 == (pair & 15)) return "colour byte with equal colours";
            if (inside && !s.color_no0 && (pair >> 4 == 0 || (pair & 15) == 0))
                return "colour 0 used while not allowed";
            // Drawn 2 x 2 in its display colour (the low 8 bits), black outside the picture.
            const Rgb d = inside ? r.display[pattern & (0x80 >> (x & 7)) ? pair >> 4 : pair & 15]
                                 : Rgb{0, 0, 0};
            const std::uint8_t want[3] = {std::uint8_t(d.r), std::uint8_t(d.g), std::uint8_t(d.b)};
            for (const int row : {2 * y, 2 * y + 1}) {
                const std::uint8_t* out = &r.preview[(std::size_t{1} * row * 512 + 2 * x) * 3];
                if (!std::equal(want, want + 3, out) || !std::equal(want, want + 3, out + 3))
                    return "preview differs from the VRAM image";
                for (int i = 0; inside && i < 6; ++i)  // bottom row first, blue, green, red
                    expected[54 + ((2 * height - 1 - row) * 2 * width + 2 * x) * 3 + i] =
                        out[i / 3 * 3 + 2 - i % 3];
            }
        }
    }
    return r.export_bmp == expected ? "" : "export picture wrong";
}

namespace {

// A plain reading of the configuration rules, to compare read_config_numbers against.
ConfigRead plain_config_numbers(std::string_view text, std::string_view key,
                                std::int32_t* destination, int n) {
    std::size_t scan = text.find(key);
    if (scan == std::string_view::npos) return ConfigRead::key_missing;
    scan += 8;
    auto digit = [&] { return text[scan] >= '0' && text[scan] <= '9'; };
    for (int j = 0; j < n; ++j) {
        for (; scan < text.size() && !digit(); ++scan)
            if (text[scan] == '*') return ConfigRead::too_few;
        if (scan >= text.size()) return ConfigRead::too_few;
        std::int64_t value = 0;
        for (; scan < text.size() && digit(); ++scan)
            value = std::min<std::int64_t>(value * 10 + (text[scan] - '0'), INT32_MAX);
        scan += scan < text.size();  // the byte that ends a number goes with it
        destination[j] = static_cast<std::int32_t>(value);
    }
    return ConfigRead::complete;
}

}  // namespace

bool empty_result(const Result& r) {
    return r.width == 0 && r.height == 0 && r.export_bmp.empty() && r.source.empty() &&
           std::ranges::count(r.vram, 0) == 14343 &&
           std::ranges::count(r.preview, 0) == 512 * 384 * 3;
}

ConversionSettings convert_settings(Input input) {
    Reader in{input};
    ConversionSettings settings;
    for (const SettingField& f : setting_fields()) {
        const std::vector<std::int32_t> values = f.values();
        settings.*(f.member) = values[in.byte() % values.size()];
    }
    return settings;
}

std::string run_convert(Workspace& ws, Input input) {
    const ConversionSettings settings = convert_settings(input);
    Reader in{input, std::min(input.size(), setting_fields().size())};  // after the settings
    const fs::path source_path = ws.dir / "p.bmp", companion_path = ws.dir / "p.s05";
    std::error_code ec;
    fs::remove_all(companion_path, ec);
    const int companion = in.byte();
    if ((companion & 3) == 1 || (companion & 3) == 2) {
        const std::size_t full = s05::palette_offset + s05::palette_bytes;
        std::size_t length = full;
        if ((companion & 3) == 2) length = in.byte(), length |= std::size_t{in.byte()} << 8;
        std::vector<std::uint8_t> file = {0xFE, 0x00, 0x00, 0x9F, 0x76, 0x00, 0x00};  // BSAVE
        file.resize(std::max(length, full));
        for (std::size_t i = s05::palette_offset; i < full; ++i)
            file[i] = in.byte();
        file.resize(length);
        test::write_file(companion_path, file);
    } else if ((companion & 3) == 3) {
        fs::create_directory(companion_path);
    }
    DefaultPalettes palettes;
    for (std::int32_t& value : settings.palette == 2 ? palettes.msx2 : palettes.msx1) {
        if (!(companion & 4)) break;
        const std::uint8_t b = in.byte();
        value = b == 255 ? INT32_MAX : b;
    }
    const Input source = input.subspan(in.pos);
    test::write_file(source_path, {source.begin(), source.end()});

    const Result& r = ws.converter.convert_file(source_path.string(), settings, palettes);
    const Status expected = expected_status(source, settings.horizontal_position_correction);
    if (r.outcome.status != expected) {
        return "status \"" + shown_text(r.outcome) + "\", expected \"" +
               std::string(message_text(expected)) + "\"";
    }
    if (!r.ok()) {
        if (r.outcome.file != source_path.string()) return "the failure names another file";
        return empty_result(r) ? "" : "a refused picture left images";
    }
    // A companion file is one; a folder, or none, is no companion.
    if (ws.converter.companion().has_value() != ((companion & 3) == 1 || (companion & 3) == 2))
        return "companion palette taken or missed";
    return check_converted(r, source, settings);
}

std::string run_s05(Workspace& ws, Input input) {
    test::write_file(ws.dir / "p.s05", {input.begin(), input.end()});
    const FileContents file =
        read_whole_file(ws.pool, (ws.dir / "p.s05").string(), s05::read_extra);
    std::string failure = file.outcome.ok() ? "" : shown_text(file.outcome);
    // Colour k: red the high and blue the low nibble of byte 2k, green the low nibble of byte
    // 2k + 1, each taken as 7 when larger; bytes past the end (the read's padding) read as 0.
    const PaletteTable colours = failure.empty() ? s05::read_palette(file.data) : PaletteTable{};
    for (std::size_t i = 0; i < colours.size() && failure.empty(); ++i) {
        const std::size_t at = s05::palette_offset + i / 3 * 2 + (i % 3 == 1);
        const int nibble = at >= input.size() ? 0 : i % 3 == 0 ? input[at] >> 4 : input[at] & 15;
        if (colours[i] != std::min(nibble, 7)) failure = "palette value " + std::to_string(i);
    }
    ws.pool.free_all();
    return failure;
}

std::string run_config(Workspace& ws, Input input) {
    const int n = input.empty() ? 48 : input[0] % 49;
    const Input text = input.subspan(!input.empty());
    // An exact-size copy: any read past the text is a sanitizer report.
    const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[text.size()]);
    std::copy(text.begin(), text.end(), exact.get());
    const std::string_view view(reinterpret_cast<const char*>(exact.get()), text.size());
    for (const char* key : {msx1_palette_key, msx2_palette_key}) {
        std::vector<std::int32_t> got(52, -1), want(52, -1);  // -1: never read, all unsigned
        const ConfigRead r = read_config_numbers(exact.get(), text.size(), key, got.data(), n);
        if (r != plain_config_numbers(view, key, want.data(), n) || got != want)
            return "reading \"" + std::string(key) + "\" differs, result " +
                   std::to_string(static_cast<int>(r));
    }

    const fs::path path = ws.dir / "config.txt";
    test::write_file(path, {text.begin(), text.end()});
    DefaultPalettes loaded, want;
    const Outcome outcome = load_palette_config(ws.pool, loaded, path.string());
    ws.pool.free_all();
    // What loading must give: the MSX1 item first, the MSX2 item only after a complete MSX1;
    // a failure names the file and the key.
    Outcome want_outcome;
    for (const auto& [key, table] :
         {std::pair{msx1_palette_key, &want.msx1}, {msx2_palette_key, &want.msx2}}) {
        const ConfigRead r = plain_config_numbers(view, key, table->data(), 48);
        if (r == ConfigRead::complete) continue;
        want_outcome = failure(r == ConfigRead::key_missing ? Status::config_item_not_found
                                                            : Status::config_not_enough,
                               path.string(), key);
        break;
    }
    if (std::tie(outcome.status, outcome.file, outcome.detail) !=
        std::tie(want_outcome.status, want_outcome.file, want_outcome.detail))
        return "load outcome \"" + shown_text(outcome) + "\"";
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
