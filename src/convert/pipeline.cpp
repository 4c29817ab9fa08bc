#include "convert/pipeline.hpp"

#include <algorithm>

#include "convert/stages.hpp"
#include "formats/bmp.hpp"
#include "formats/s05.hpp"
#include "io/file_io.hpp"

namespace lumaweave {

namespace {

constexpr std::size_t export_capacity = bmp::header_size + preview_bytes;

}  // namespace

Pipeline::Pipeline(Workers& workers) : workers_(workers) {
    // The other buffers take their room when a conversion first makes them.
    result_.vram.assign(vram::file_size, 0);
}

const Result& Pipeline::fail(Outcome outcome) {
    result_.outcome = std::move(outcome);
    result_.width = result_.height = 0;
    std::fill(result_.vram.begin(), result_.vram.end(), std::uint8_t{0});
    result_.preview.assign(products_.preview ? preview_bytes : 0, std::uint8_t{0});
    result_.export_bmp.clear();
    result_.source.clear();
    result_.display = {};
    result_.palette = {};
    result_.msx2_palette = false;
    result_.candidates_evaluated = 0;
    companion_.reset();
    return result_;
}

Status Pipeline::load_pixels(const PixelPicture& picture, const ConversionSettings& settings,
                             bool prepared) {
    settings_ = settings;
    if (!settings_valid(settings)) return Status::invalid_settings;
    return prepared ? take_prepared(picture, source_)
                    : prepare_source(picture, settings.horizontal_position_correction, source_);
}

void Pipeline::prepare(const DefaultPalettes& palettes,
                       const std::optional<PaletteTable>& companion, const Display& display) {
    companion_ = companion;
    std::fill(result_.vram.begin(), result_.vram.end(), std::uint8_t{0});
    result_.preview.assign(products_.preview ? preview_bytes : 0, std::uint8_t{0});
    start_work_image(source_, work_);
    measure_edges(settings_, work_, maps_, workers_);
    adjust_gamma(settings_, work_);
    adjust_index(settings_, work_);
    adjust_color_d(settings_, work_);
    const PaletteTable& table = settings_.palette == 2 ? palettes.msx2 : palettes.msx1;
    if (display.colours) {
        palette_ = setup_display_palette(settings_, work_, *display.colours);
        // The palette a program sets for the result: none for a chip's own colours (an MSX1's
        // colour numbers, the table's); a display of any other colours is what an MSX2 shows
        // with them set, as closely as its 0..7 steps come.
        if (display.chip) {
            for (std::size_t i = 0; i < table.size(); ++i)
                result_.palette[i] = std::clamp(palettes.msx1[i], 0, 7);
        } else {
            for (std::size_t i = 0; i < table.size(); ++i) {
                const Rgb& c = (*display.colours)[i / 3];
                const std::int32_t v = i % 3 == 0 ? c.r : i % 3 == 1 ? c.g : c.b;
                result_.palette[i] = (v * 7 + 127) / 255;
            }
            result_.msx2_palette = true;
        }
    } else {
        palette_ = setup_palette(settings_, work_, table, companion);
        for (std::size_t i = 0; i < table.size(); ++i)
            result_.palette[i] = std::clamp(companion ? (*companion)[i] : table[i], 0, 7);
        result_.msx2_palette = companion.has_value() || settings_.palette == 2;
    }
    reduce_colors(settings_, palette_, maps_, work_, workers_);
    // Before sharpening: the distances describe the unsharpened picture.
    build_distance_map(settings_, palette_, work_, distance_, workers_);
    emphasize_edges(settings_, work_);
    build_fitting_tables(settings_, palette_, tables_);
}

void Pipeline::fit() {
    const FitInput in = fit_input();
    fit_blocks(in, fit_, vram(), workers_);
    refine_blocks(in, fit_, refine_, vram(), workers_);
    result_.candidates_evaluated = fit_.evaluations;
}

void Pipeline::finish() {
    result_.outcome = {};
    result_.width = work_.width;
    result_.height = work_.height;
    result_.display = palette_.display;

    result_.export_bmp.clear();
    if (products_.preview || products_.export_bmp) {
        // The "TEST_" picture is made from the preview.
        result_.preview.resize(preview_bytes);
        render_output(palette_, work_, vram(),
                      PreviewImage(result_.preview.data(), result_.preview.size()), workers_);
    } else {
        finish_video_memory(work_, vram(), workers_);
    }
    if (products_.export_bmp) {
        result_.export_bmp.resize(export_capacity);
        const std::size_t size =
            build_export_bmp(PreviewImage(result_.preview.data(), result_.preview.size()),
                             work_.width, work_.height, result_.export_bmp.data(), workers_);
        std::copy(resolution_.begin(), resolution_.end(),
                  result_.export_bmp.begin() + bmp::resolution_at);
        result_.export_bmp.resize(size);
    }
    if (!products_.preview) result_.preview.clear();

    result_.source.clear();
    if (!products_.source) return;
    result_.source.resize(std::size_t{3} * static_cast<std::size_t>(source_.width) *
                          static_cast<std::size_t>(source_.height));
    std::uint8_t* out = result_.source.data();
    for (int y = 0; y < source_.height; ++y) {
        for (int x = 0; x < source_.width; ++x, out += 3) {
            const Rgb& c = source_.pixels[static_cast<std::size_t>(y * max_width + x)];
            out[0] = static_cast<std::uint8_t>(c.r);
            out[1] = static_cast<std::uint8_t>(c.g);
            out[2] = static_cast<std::uint8_t>(c.b);
        }
    }
}

const Result& Pipeline::convert_pixels(const PixelPicture& picture,
                                       const ConversionSettings& settings,
                                       const DefaultPalettes& palettes,
                                       const std::optional<PaletteTable>& companion, bool prepared,
                                       const Display& display) {
    resolution_.fill(0);
    const Status status = load_pixels(picture, settings, prepared);
    if (status != Status::ok) return fail(failure(status));
    prepare(palettes, companion, display);
    fit();
    finish();
    return result_;
}

const Result& Pipeline::convert_bmp(std::span<const std::uint8_t> file,
                                    const ConversionSettings& settings,
                                    const DefaultPalettes& palettes,
                                    const std::optional<PaletteTable>& companion,
                                    const Display& display) {
    // The settings first, as for pixels, so that both refuse a picture with the same status.
    if (!settings_valid(settings)) return fail(failure(Status::invalid_settings));
    bmp::Header header;
    if (!bmp::read_header(file, header)) return fail(failure(Status::format_not_convertible));
    // The size rules come first, as for pixels; then whether the rows are there to be read.
    const Status size =
        check_picture_size(header.width, header.height, settings.horizontal_position_correction);
    if (size != Status::ok) return fail(failure(size));
    if (!bmp::rows_readable(file, header)) return fail(failure(Status::format_not_convertible));
    bmp::decode_rows(file, header, decoded_.data());
    const PixelPicture picture{header.width, header.height,
                               std::span<const std::uint8_t>(
                                   decoded_.data(), std::size_t{3} * header.width *
                                                        static_cast<std::size_t>(header.height))};
    const Status status = load_pixels(picture, settings, false);
    if (status != Status::ok) return fail(failure(status));
    std::copy_n(file.begin() + bmp::resolution_at, bmp::resolution_bytes, resolution_.begin());
    prepare(palettes, companion, display);
    fit();
    finish();
    return result_;
}

const Result& Pipeline::convert_file(const std::string& path, const ConversionSettings& settings,
                                     const DefaultPalettes& palettes, const Display& display) {
    pool_.free_all();
    companion_.reset();
    const FileContents source = read_whole_file(pool_, path, 0);
    if (!source.outcome.ok()) {
        pool_.free_all();
        return fail(source.outcome);
    }
    std::optional<PaletteTable> companion;
    const FileContents pal = read_whole_file(pool_, companion_name(path), s05::read_extra);
    if (pal.outcome.ok()) companion = s05::read_palette(pal.data);
    convert_bmp(source.bytes(), settings, palettes, companion, display);
    pool_.free_all();
    if (!result_.ok()) result_.outcome.file = path;
    return result_;
}

std::string companion_name(const std::string& picture_path) {
    const std::size_t keep = picture_path.size() >= 4 ? picture_path.size() - 4 : 0;
    return picture_path.substr(0, keep) + ".s05";
}

Converter::Converter(Workers& workers) : pipeline_(std::make_unique<Pipeline>(workers)) {}
Converter::~Converter() = default;

const Result& Converter::convert(const PixelPicture& picture, const ConversionSettings& settings,
                                 const DefaultPalettes& palettes,
                                 const std::optional<PaletteTable>& companion,
                                 const Display& display) {
    return pipeline_->convert_pixels(picture, settings, palettes, companion, false, display);
}

const Result& Converter::convert_bmp(std::span<const std::uint8_t> file,
                                     const ConversionSettings& settings,
                                     const DefaultPalettes& palettes,
                                     const std::optional<PaletteTable>& companion,
                                     const Display& display) {
    return pipeline_->convert_bmp(file, settings, palettes, companion, display);
}

const Result& Converter::convert_file(const std::string& path, const ConversionSettings& settings,
                                      const DefaultPalettes& palettes, const Display& display) {
    return pipeline_->convert_file(path, settings, palettes, display);
}

const Result& Converter::convert_cropped(const PixelPicture& picture,
                                         const ConversionSettings& settings,
                                         const DefaultPalettes& palettes,
                                         const std::optional<PaletteTable>& companion,
                                         const Display& display) {
    return pipeline_->convert_pixels(picture, settings, palettes, companion, true, display);
}

void Converter::set_products(const Products& products) {
    pipeline_->set_products(products);
}

const Result& Converter::result() const {
    return pipeline_->result();
}

const std::optional<PaletteTable>& Converter::companion() const {
    return pipeline_->companion();
}

Result convert(const PixelPicture& picture, const ConversionSettings& settings,
               const DefaultPalettes& palettes, const std::optional<PaletteTable>& companion,
               const Display& display) {
    Converter converter;
    return converter.convert(picture, settings, palettes, companion, display);
}

}  // namespace lumaweave
