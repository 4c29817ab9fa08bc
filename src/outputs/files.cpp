#include "outputs/files.hpp"

#include <algorithm>
#include <optional>

#include "formats/vram.hpp"
#include "outputs/rom.hpp"

namespace lumaweave::outputs {

namespace {

std::optional<std::array<std::uint8_t, palette_bytes>> msx2_palette(const Result& result) {
    if (!result.msx2_palette) return std::nullopt;
    return v9938_palette(result.palette);
}

std::string_view file_part(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

PictureFiles::PictureFiles(const Result& result, std::string source, const FileOptions& options)
    : result_(result), source_(std::move(source)), options_(options) {
    // Zeros where a result holds nothing (a failed one).
    std::vector<std::uint8_t> memory(vram::vram_bytes, 0);
    if (result.vram.size() == vram::file_size) {
        std::copy(result.vram.begin() + vram::bsave_header, result.vram.end(), memory.begin());
    }
    tables_ = screen_tables(memory);
    if (options.dedupe) tables_ = deduplicated(tables_);
    memory_ = options.dedupe ? video_memory(tables_) : std::move(memory);
}

std::vector<std::uint8_t> PictureFiles::s02() const {
    return tables_.deduplicated ? bsave_file(tables_) : result_.vram;
}

std::vector<std::uint8_t> PictureFiles::names() const {
    return {tables_.names.begin(), tables_.names.end()};
}

SourceTables PictureFiles::source_tables(std::string_view file_name) const {
    return {tables_, msx2_palette(result_), c_identifier(file_part(source_)),
            std::string(file_part(source_)), std::string(file_part(file_name))};
}

std::string PictureFiles::c_header(std::string_view file_name) const {
    return outputs::c_header(source_tables(file_name));
}

std::string PictureFiles::asm_source(std::string_view file_name) const {
    return outputs::asm_source(source_tables(file_name), options_.asm_syntax);
}

std::vector<std::uint8_t> PictureFiles::cartridge() const {
    return outputs::cartridge(memory_, msx2_palette(result_));
}

std::array<std::uint8_t, palette_bytes> PictureFiles::palette() const {
    return v9938_palette(result_.palette);
}

}  // namespace lumaweave::outputs
