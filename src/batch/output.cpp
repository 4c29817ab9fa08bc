#include "batch/output.hpp"

#include <cctype>
#include <cstring>

#include "formats/bmp.hpp"

namespace lumaweave {

bool is_bmp_name(const std::string& name) {
    std::size_t end = name.size();
    while (end > 0 && std::isspace(static_cast<unsigned char>(name[end - 1])))
        --end;
    if (end < 4) return false;
    std::string tail = name.substr(end - 4, 4);
    for (char& c : tail)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".bmp";
}

std::string base_name(const std::string& name) {
    return name.substr(0, name.size() >= 4 ? name.size() - 4 : 0);
}

std::string vram_name(const std::string& name) {
    return base_name(name) + ".S02";
}

std::string export_name(const std::string& name) {
    const std::string base = base_name(name);
    // Both separators: "/" of POSIX names and "\\" of Windows ones.
    const std::size_t slash = base.find_last_of("/\\");
    const std::size_t k = slash == std::string::npos ? 0 : slash + 1;
    return base.substr(0, k) + "TEST_" + base.substr(k) + ".bmp";
}

std::size_t build_export_image(Conversion& conv) {
    std::uint8_t* image = conv.export_image.data();
    // The working size, which the conversion also wrote into this header.
    const std::int32_t w = conv.width;
    const std::int32_t h = conv.height;
    const std::int32_t row_bytes = (2 * w * 3 + 3) & 0xFFFC;
    bmp::write_standard_header(image, 2 * w, 2 * h, row_bytes);
    for (int j = 0; j < 2 * h; ++j) {
        std::memcpy(image + bmp::header_size + static_cast<std::size_t>(j) * row_bytes,
                    conv.preview.data() + bmp::header_size +
                        static_cast<std::size_t>(2 * h - 1 - j) * preview_row_bytes,
                    static_cast<std::size_t>(row_bytes));
    }
    return bmp::header_size + static_cast<std::size_t>(2 * h) * row_bytes;
}

}  // namespace lumaweave
