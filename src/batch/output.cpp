#include "batch/output.hpp"

#include <cctype>
#include <filesystem>

#include "outputs/png.hpp"

namespace lumaweave {

std::string_view picture_extension(const std::string& name) {
    std::size_t end = name.size();
    while (end > 0 && std::isspace(static_cast<unsigned char>(name[end - 1])))
        --end;
    for (const std::string_view extension : picture_extensions) {
        if (end < extension.size()) continue;
        std::string tail = name.substr(end - extension.size(), extension.size());
        for (char& c : tail)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (tail == extension) return extension;
    }
    return {};
}

bool is_picture_name(const std::string& name) {
    return !picture_extension(name).empty();
}

std::string base_name(const std::string& name) {
    std::size_t length = picture_extension(name).size();
    if (length == 0) length = 4;  // not a picture: as for ".bmp"
    return name.substr(0, name.size() >= length ? name.size() - length : 0);
}

std::string companion_palette_name(const std::string& name) {
    return base_name(name) + ".s05";
}

std::string vram_name(const std::string& name) {
    return base_name(name) + ".S02";
}

namespace {

// Where the file name starts: after the last "/" of POSIX names or "\\" of Windows ones.
std::size_t file_name_start(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder + (folder.back() == '/' ? "" : "/") + name;
}

bool output_taken(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

std::string export_name(const std::string& name) {
    const std::string base = base_name(name);
    const std::size_t k = file_name_start(base);
    return base.substr(0, k) + "TEST_" + base.substr(k) + ".bmp";
}

namespace {

using Bytes = std::vector<std::uint8_t>;

template <typename Range>
Bytes bytes_of(const Range& range) {
    return Bytes(range.begin(), range.end());
}

// A name beside the source: its base and `extension`.
template <const char* extension>
std::string named(const std::string& source) {
    return base_name(source) + extension;
}

constexpr char chr[] = ".chr", clr[] = ".clr", nam[] = ".nam", h[] = ".h", asm_[] = ".asm",
               rom[] = ".rom", screen_png[] = ".screen.png", pal[] = ".pal";

}  // namespace

const OutputFormat vram_output{vram_name, [](const outputs::PictureFiles& f) { return f.s02(); }};
const OutputFormat test_picture_output{
    export_name, [](const outputs::PictureFiles& f) { return f.result().export_bmp; }};
const OutputFormat pattern_output{named<chr>,
                                  [](const outputs::PictureFiles& f) { return f.patterns(); }};
const OutputFormat colour_output{named<clr>,
                                 [](const outputs::PictureFiles& f) { return f.colours(); }};
const OutputFormat name_output{named<nam>,
                               [](const outputs::PictureFiles& f) { return f.names(); }};
const OutputFormat c_output{named<h>, [](const outputs::PictureFiles& f) {
                                return bytes_of(f.c_header(named<h>(f.source())));
                            }};
const OutputFormat asm_output{named<asm_>, [](const outputs::PictureFiles& f) {
                                  return bytes_of(f.asm_source(named<asm_>(f.source())));
                              }};
const OutputFormat rom_output{named<rom>,
                              [](const outputs::PictureFiles& f) { return f.cartridge(); }};
const OutputFormat screen_output{named<screen_png>, [](const outputs::PictureFiles& f) {
                                     return outputs::indexed_png(outputs::screen_width,
                                                                 outputs::screen_height, f.screen(),
                                                                 f.result().display);
                                 }};
const OutputFormat palette_output{
    named<pal>, [](const outputs::PictureFiles& f) { return bytes_of(f.palette()); }};

std::span<const OutputFormat* const> all_output_formats() {
    static const OutputFormat* const formats[] = {
        &vram_output, &test_picture_output, &pattern_output, &colour_output, &name_output,
        &c_output,    &asm_output,          &rom_output,     &screen_output, &palette_output};
    return formats;
}

std::span<const OutputKind> output_kinds() {
    static const std::vector<OutputKind> kinds = {
        {"s02",
         "NAME.S02",
         "the BSAVE image of the video memory that BLOAD \"NAME.S02\",S shows",
         {&vram_output}},
        {"raw",
         "NAME.chr, NAME.clr, NAME.nam",
         "the pattern generator, colour and name tables, each a file without a header",
         {&pattern_output, &colour_output, &name_output}},
        {"c", "NAME.h", "the tables as C arrays, with their lengths", {&c_output}},
        {"asm",
         "NAME.asm",
         "the tables as labelled assembler data (see --asm-syntax)",
         {&asm_output}},
        {"rom",
         "NAME.rom",
         "a 16 KiB MSX cartridge that shows the picture, on any MSX, with or without BASIC",
         {&rom_output}},
        {"screen.png",
         "NAME.screen.png",
         "the screen as it shows the picture, 256 x 192",
         {&screen_output}},
        {"pal",
         "NAME.pal",
         "the V9938 palette the picture was made for, 32 bytes",
         {&palette_output}},
    };
    return kinds;
}

const OutputKind* find_output_kind(std::string_view name) {
    for (const OutputKind& kind : output_kinds()) {
        if (kind.name == name) return &kind;
    }
    return nullptr;
}

std::string OutputPlan::path(const OutputFormat& format, const std::string& source) const {
    const std::string beside = format.file_name(source);
    if (directory.empty()) return beside;
    std::string folder = directory;
    if (const auto sub = subfolders.find(source); sub != subfolders.end()) {
        folder = joined(folder, sub->second);
    }
    return joined(folder, beside.substr(file_name_start(beside)));
}

std::vector<std::string> OutputPlan::paths(const std::string& source) const {
    std::vector<std::string> out;
    for (const OutputFormat* format : formats)
        out.push_back(path(*format, source));
    return out;
}

}  // namespace lumaweave
