#include "convert/convert.hpp"

namespace lumaweave {

std::unique_ptr<Conversion> make_conversion() {
    return std::make_unique<Conversion>();
}

std::string companion_name(const std::string& source_path) {
    const std::size_t keep = source_path.size() >= 4 ? source_path.size() - 4 : 0;
    return source_path.substr(0, keep) + ".s05";
}

std::string convert_file(Conversion& conv, ScratchPool& pool, const std::string& source_path,
                         const ConversionSettings& settings, const DefaultPalettes& palettes) {
    std::optional<PaletteTable> companion;
    return convert_file(conv, pool, source_path, settings, palettes, companion);
}

std::string convert_file(Conversion& conv, ScratchPool& pool, const std::string& source_path,
                         const ConversionSettings& settings, const DefaultPalettes& palettes,
                         std::optional<PaletteTable>& companion) {
    conv.settings = settings;
    conv.evaluations = 0;
    companion.reset();
    std::string message = load_source(conv, pool, source_path, companion);
    if (!message.empty()) return message;
    convert_loaded(conv, palettes, companion);
    return {};
}

void convert_loaded(Conversion& conv, const DefaultPalettes& palettes,
                    const std::optional<PaletteTable>& companion) {
    measure_edges(conv);
    adjust_gamma(conv);
    adjust_index(conv);
    adjust_color_d(conv);
    setup_palette(conv, conv.settings.palette == 2 ? palettes.msx2 : palettes.msx1, companion);
    reduce_colors(conv);
    // Before sharpening: the distances describe the unsharpened picture.
    build_distance_tables(conv);
    emphasize_edges(conv);
    build_fitting_tables(conv);
    fit_blocks(conv);
    refine_blocks(conv);
    render_output(conv);
}

}  // namespace lumaweave
