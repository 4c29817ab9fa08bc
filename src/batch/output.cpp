#include "batch/output.hpp"

#include <cctype>

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

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder + (folder.back() == '/' ? "" : "/") + name;
}

}  // namespace

std::string export_name(const std::string& name) {
    const std::string base = base_name(name);
    const std::size_t k = file_name_start(base);
    return base.substr(0, k) + "TEST_" + base.substr(k) + ".bmp";
}

const OutputFormat vram_output{
    vram_name, [](const Result& r) { return std::span<const std::uint8_t>(r.vram); }};
const OutputFormat test_picture_output{
    export_name, [](const Result& r) { return std::span<const std::uint8_t>(r.export_bmp); }};

std::span<const OutputFormat* const> all_output_formats() {
    static const OutputFormat* const formats[] = {&vram_output, &test_picture_output};
    return formats;
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
