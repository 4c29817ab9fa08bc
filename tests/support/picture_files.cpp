#include "support/picture_files.hpp"

#include <vips/vips8>

namespace lumaweave::test {

namespace {

void start() {
    static const bool started = VIPS_INIT("lumaweave-tests") == 0;
    if (!started) throw std::runtime_error("libvips did not start");
}

}  // namespace

void write_gradient_jpeg(const std::filesystem::path& path, int width, int height) {
    start();
    using vips::VImage;
    const VImage xy = VImage::xyz(width, height);
    const VImage r = xy.extract_band(0) * (255.0 / width),
                 g = xy.extract_band(1) * (255.0 / height);
    r.bandjoin({g, (r + g) * 0.5})
        .cast(VIPS_FORMAT_UCHAR)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
        .jpegsave(path.c_str(), VImage::option()->set("Q", 90));
}

void write_with_vips(const std::filesystem::path& path, const RgbaPicture& p, bool alpha,
                     int orientation) {
    start();
    using vips::VImage;
    VImage image = VImage::new_from_memory(const_cast<std::uint8_t*>(p.rgba.data()), p.rgba.size(),
                                           p.width, p.height, 4, VIPS_FORMAT_UCHAR)
                       .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    if (!alpha) image = image.extract_band(0, VImage::option()->set("n", 3));
    const std::string ext = path.extension().string();
    if (ext == ".webp") {
        image.webpsave(path.c_str(), VImage::option()->set("lossless", true));
    } else if (ext == ".tif" || ext == ".tiff") {
        image.tiffsave(path.c_str());
    } else if (ext == ".jpg" || ext == ".jpeg") {
        image = image.copy();
        if (orientation > 1) image.set(VIPS_META_ORIENTATION, orientation);
        image.jpegsave(path.c_str(), VImage::option()->set("Q", 95));
    } else {
        throw std::runtime_error("no writer for " + ext);
    }
}

}  // namespace lumaweave::test
