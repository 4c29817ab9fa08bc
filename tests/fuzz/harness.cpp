#include "fuzz/harness.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <tuple>
#include <vector>

#include "formats/bmp.hpp"
#include "formats/bmp_reader.hpp"
#include "formats/s05.hpp"
#include "formats/vram.hpp"
#include "io/config.hpp"
#include "io/file_io.hpp"
#include "picture/codec_loader.hpp"
#include "picture/reader.hpp"
#include "picture/vips_codec.hpp"

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

std::string run_bmp(Workspace&, Input input) {
    bmp::classic_reader_takes(input);
    bmp::Layout layout;
    if (!bmp::read_layout(input, layout)) return {};
    const std::size_t pixels = std::size_t{static_cast<std::uint32_t>(layout.width)} *
                               static_cast<std::size_t>(layout.rows());
    if (pixels > max_bmp_pixels) return {};
    bmp::Decoded d;
    if (!bmp::decode(input, layout, d)) return {};
    if (d.width != layout.width || d.height != layout.rows() || d.rgba.size() != 4 * pixels)
        return "decoded size differs from the layout";
    bool opaque = true;
    for (std::size_t i = 3; i < d.rgba.size(); i += 4)
        opaque &= d.rgba[i] == 255;
    if (d.has_alpha == opaque) return "has_alpha says otherwise than the pixels";
    if (layout.indexed() && layout.compression == 0) {
        // Every pixel is a palette entry, or black for an index past the palette.
        if (!opaque) return "an indexed pixel is not opaque";
        std::vector<std::uint32_t> colours = {0};
        for (std::uint32_t k = 0; k < layout.palette_entries; ++k) {
            const std::uint8_t* e = &input[layout.palette_offset + k * layout.palette_entry_size];
            colours.push_back(std::uint32_t{e[2]} << 16 | std::uint32_t{e[1]} << 8 | e[0]);
        }
        std::sort(colours.begin(), colours.end());
        for (std::size_t i = 0; i < d.rgba.size(); i += 4) {
            const std::uint32_t c =
                std::uint32_t{d.rgba[i]} << 16 | std::uint32_t{d.rgba[i + 1]} << 8 | d.rgba[i + 2];
            if (!std::binary_search(colours.begin(), colours.end(), c))
                return "an indexed pixel is no palette colour";
        }
    }
    // Where the classic 24-bit reader takes the file too, both give the same pixels.
    bmp::Header header;
    if (bmp::read_header(input, header) && bmp::rows_readable(input, header) &&
        header.width == layout.width && header.height == layout.height) {
        std::vector<std::uint8_t> rgb(3 * pixels);
        bmp::decode_rows(input, header, rgb.data());
        for (std::size_t i = 0; i < pixels; ++i) {
            if (!std::equal(&rgb[3 * i], &rgb[3 * i + 3], &d.rgba[4 * i]) ||
                d.rgba[4 * i + 3] != 255)
                return "the classic reader reads other pixels";
        }
    }
    return {};
}

namespace {

// The stored pixel that EXIF orientation `o` shows at upright (x, y), for a stored w x h picture.
std::pair<int, int> stored_position(int o, int x, int y, int w, int h) {
    switch (o) {
        case 2:
            return {w - 1 - x, y};
        case 3:
            return {w - 1 - x, h - 1 - y};
        case 4:
            return {x, h - 1 - y};
        case 5:
            return {y, x};
        case 6:
            return {y, h - 1 - x};
        case 7:
            return {w - 1 - y, h - 1 - x};
        case 8:
            return {w - 1 - y, x};
        default:
            return {x, y};
    }
}

}  // namespace

std::string run_frame(Workspace&, Input input) {
    static const bool linked = (picture::use_codec(&picture::vips_codec()), true);
    (void)linked;
    Reader in{input};
    picture::RgbaImage stored;
    stored.width = 1 + in.byte() % 64;
    stored.height = 1 + in.byte() % 64;
    const int orientation = 1 + in.byte() % 8;
    picture::FramingOptions options;
    options.framing = static_cast<picture::Framing>(1 + in.byte() % 4);
    const std::uint8_t mode = in.byte();
    options.resample = mode & 1 ? picture::Resample::nearest : picture::Resample::smooth;
    const int alpha = (mode >> 1) & 3;
    const int correction = mode & 8 ? 3 : 0;
    options.pixel_aspect = 0.5 + in.byte() / 128.0;
    options.background = {in.byte(), in.byte(), in.byte()};
    const Input rest = input.subspan(std::min(input.size(), in.pos));
    const std::size_t pixels = std::size_t(stored.width) * std::size_t(stored.height);
    stored.pixels.resize(4 * pixels);
    for (std::size_t i = 0; i < 4 * pixels; ++i) {
        const std::uint8_t b = rest.empty() ? std::uint8_t(i * 37) : rest[i % rest.size()];
        stored.pixels[i] = i % 4 != 3 ? b : alpha == 0 ? 255 : alpha == 1 ? (b & 1 ? 255 : 0) : b;
    }
    // The same pixels turned upright here.
    const bool swap = orientation >= 5;
    picture::RgbaImage upright{
        swap ? stored.height : stored.width, swap ? stored.width : stored.height, {}};
    for (int y = 0; y < upright.height; ++y) {
        for (int x = 0; x < upright.width; ++x) {
            const auto [sx, sy] = stored_position(orientation, x, y, stored.width, stored.height);
            const std::uint8_t* p = &stored.pixels[4 * (std::size_t(sy) * stored.width + sx)];
            upright.pixels.insert(upright.pixels.end(), p, p + 4);
        }
    }
    picture::RgbaImage framed, reference;
    const Outcome outcome = picture::frame_pixels(stored, orientation, options, correction, framed);
    if (!outcome.ok()) return "framing failed: " + shown_text(outcome);
    if (!picture::frame_pixels(upright, 1, options, correction, reference).ok())
        return "framing the upright pixels failed";
    if (framed.pixels != reference.pixels) return "the orientation is not applied as it says";
    const picture::FramePlan plan =
        picture::plan_frame(upright.width, upright.height, options, correction);
    if (framed.width != plan.canvas_width || framed.height != plan.canvas_height)
        return "framed size differs from the canvas";
    std::vector<std::uint8_t> rgb(3 * std::size_t(framed.width) * framed.height);
    picture::flatten(framed.pixels.data(), rgb.size() / 3, options.background, rgb.data());
    std::vector<std::uint32_t> colours;
    for (std::size_t i = 0; i < upright.pixels.size(); i += 4)
        colours.push_back(std::uint32_t{upright.pixels[i]} << 16 |
                          std::uint32_t{upright.pixels[i + 1]} << 8 | upright.pixels[i + 2]);
    std::sort(colours.begin(), colours.end());
    const bool exact = options.resample == picture::Resample::nearest ||
                       options.framing == picture::Framing::pad ||
                       plan.identity(upright.width, upright.height);
    for (int y = 0; y < framed.height; ++y) {
        for (int x = 0; x < framed.width; ++x) {
            const std::size_t i = std::size_t(y) * framed.width + x;
            const std::uint8_t* f = &framed.pixels[4 * i];
            const bool inside = x >= plan.left && x < plan.left + plan.scaled_width &&
                                y >= plan.top && y < plan.top + plan.scaled_height;
            if (!inside) {
                const picture::Colour& bg = options.background;
                if (f[3] != 0 || rgb[3 * i] != bg.r || rgb[3 * i + 1] != bg.g ||
                    rgb[3 * i + 2] != bg.b)
                    return "the padding is not the background";
                continue;
            }
            if (alpha == 0 && f[3] < 254) return "an opaque picture became transparent";
            // Nearest neighbour and 1:1 make no new colours.
            const std::uint32_t c = std::uint32_t{f[0]} << 16 | std::uint32_t{f[1]} << 8 | f[2];
            if (exact && f[3] != 0 && !std::binary_search(colours.begin(), colours.end(), c))
                return "a new colour appeared without resampling";
        }
    }
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
