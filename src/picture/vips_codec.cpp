// The codec through libvips: the only code that uses it. Pictures are opened by their contents
// with the loaders of the five formats only (a file that another loader would take, or that
// only an untrusted one reads, is refused); libvips' own messages and warnings never reach the
// terminal, and its operation cache is off so that memory stays flat over many files.
#include "picture/vips_codec.hpp"

#include <glib.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <span>
#include <string_view>
#include <vips/vips8>

#include "picture/icc.hpp"

namespace lumaweave::picture {

namespace {

using vips::VError;
using vips::VImage;

void silent(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

bool start_vips() {
    static bool started = false;
    static std::once_flag once;
    std::call_once(once, [] {
        // Warnings and messages of libvips and GLib (and of the libraries libvips routes through
        // them) would otherwise go to the terminal, past --quiet and into JSON reports.
        g_log_set_default_handler(silent, nullptr);
        const auto all =
            static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION);
        for (const char* domain : {"VIPS", "GLib", "GLib-GObject", "GModule", "GIO"})
            g_log_set_handler(domain, all, silent, nullptr);
        // libvips loads its optional modules (HEIF, JPEG XL, PDF, slides, ImageMagick) from
        // its installation prefix when it starts: another hundred libraries, none of them for
        // a format read here. A prefix without modules, for the start only, skips them.
        const bool own_home = getenv("VIPSHOME") == nullptr;
        if (own_home) setenv("VIPSHOME", "/nonexistent/lumaweave-no-vips-modules", 0);
        started = VIPS_INIT("lumaweave") == 0;
        if (own_home) unsetenv("VIPSHOME");
        if (!started) return;
        // One thread per picture: libvips 8.14 loses a decoder's error now and then when it
        // happens on a worker thread of its own (a cut-short PNG then reads as complete). The
        // program's own workers convert pictures side by side.
        vips_concurrency_set(1);
        vips_cache_set_max(0);
        vips_cache_set_max_mem(0);
        vips_cache_set_max_files(0);
        vips_block_untrusted_set(TRUE);
    });
    return started;
}

// What is wrong, for a person: the format, and libvips' reason (its first line, without the
// name of the part of libvips that gives it).
std::string reason(const char* format, const VError& e) {
    std::string text = e.what();
    vips_error_clear();
    if (const std::size_t line = text.find('\n'); line != std::string::npos) text.resize(line);
    if (const std::size_t colon = text.find(": ");
        colon != std::string::npos && text.find(' ') > colon) {
        text.erase(0, colon + 2);
    }
    std::string out = std::string("the ") + format + " data cannot be decoded";
    return text.empty() ? out : out + " (" + text + ")";
}

// The format a file's first bytes announce, whether or not libvips can read the rest.
const char* announced_format(const std::string& path) {
    unsigned char head[12] = {};
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return nullptr;
    const std::size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    if (n < 4) return nullptr;
    auto starts = [&](std::string_view magic, std::size_t at = 0) {
        return std::memcmp(head + at, magic.data(), magic.size()) == 0;
    };
    if (starts("\x89PNG")) return "PNG";
    if (starts("\xFF\xD8\xFF")) return "JPEG";
    if (starts("GIF8")) return "GIF";
    if (starts("RIFF") && starts("WEBP", 8)) return "WebP";
    if (starts(std::string_view("II*\0", 4)) || starts(std::string_view("MM\0*", 4))) return "TIFF";
    return nullptr;
}

struct Loader {
    std::string_view class_prefix;  // of the class vips_foreign_find_load names
    const char* format;
    VImage (*load)(const char* path, vips::VOption* options);
};

const Loader loaders[] = {
    {"VipsForeignLoadPng", "PNG",
     [](const char* p, vips::VOption* o) { return VImage::pngload(p, o); }},
    {"VipsForeignLoadJpeg", "JPEG",
     [](const char* p, vips::VOption* o) { return VImage::jpegload(p, o); }},
    {"VipsForeignLoadNsgif", "GIF",
     [](const char* p, vips::VOption* o) { return VImage::gifload(p, o); }},
    {"VipsForeignLoadGif", "GIF",
     [](const char* p, vips::VOption* o) { return VImage::gifload(p, o); }},
    {"VipsForeignLoadWebp", "WebP",
     [](const char* p, vips::VOption* o) { return VImage::webpload(p, o); }},
    {"VipsForeignLoadTiff", "TIFF",
     [](const char* p, vips::VOption* o) { return VImage::tiffload(p, o); }},
};

// 8-bit sRGB with alpha: profiles other than sRGB converted, grey, 16-bit, CMYK and the like
// brought to sRGB, an alpha band added when there is none.
VImage to_rgba(VImage image) {
    if (image.get_typeof(VIPS_META_ICC_NAME) != 0) {
        std::size_t length = 0;
        const void* data = image.get_blob(VIPS_META_ICC_NAME, &length);
        const std::span<const std::uint8_t> profile(static_cast<const std::uint8_t*>(data), length);
        if (!is_srgb_profile(profile)) {
            try {
                image = image.icc_transform(
                    "srgb", VImage::option()->set("embedded", true)->set("depth", 8));
            } catch (const VError&) {
                // A profile the colour engine cannot use is passed over, as browsers do.
                vips_error_clear();
            }
        }
        image = image.copy();
        image.remove(VIPS_META_ICC_NAME);
    }
    if (image.interpretation() != VIPS_INTERPRETATION_sRGB || image.format() != VIPS_FORMAT_UCHAR)
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);
    if (image.format() != VIPS_FORMAT_UCHAR) image = image.cast(VIPS_FORMAT_UCHAR);
    if (image.bands() < 3) throw VError("the picture has fewer than three colour channels");
    if (image.bands() == 3) return image.bandjoin_const({255});
    if (image.bands() > 4) return image.extract_band(0, VImage::option()->set("n", 4));
    return image;
}

void copy_out(VImage image, RgbaImage& out) {
    image = image.copy_memory();
    out.width = image.width();
    out.height = image.height();
    const auto* p = static_cast<const std::uint8_t*>(image.data());
    out.pixels.assign(p, p + std::size_t{4} * static_cast<std::size_t>(out.width) *
                                 static_cast<std::size_t>(out.height));
}

// A picture of exactly width x height: cut or extended (transparent) at the right and bottom.
VImage exactly(VImage image, int width, int height) {
    if (image.width() == width && image.height() == height) return image;
    return image.embed(0, 0, width, height,
                       VImage::option()
                           ->set("extend", VIPS_EXTEND_BACKGROUND)
                           ->set("background", std::vector<double>{0, 0, 0, 0}));
}

// The pixels of an 8-bit RGBA picture as a plain picture in memory (kept in `storage`). libvips'
// resizing of a picture that comes out of a rotation can differ from that of the same pixels in
// memory (the fuzz target of the framing found it); from memory it is the same whatever the
// picture's orientation was.
VImage in_memory(VImage image, std::vector<std::uint8_t>& storage) {
    RgbaImage copy;
    copy_out(image, copy);
    storage = std::move(copy.pixels);
    return VImage::new_from_memory(storage.data(), storage.size(), copy.width, copy.height, 4,
                                   VIPS_FORMAT_UCHAR)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

// Crops, scales and places an upright 8-bit RGBA picture as the plan says. `scale_x`, `scale_y`
// map plan coordinates onto it when it was already reduced on loading. The cropped pixels are
// held in `storage` while the result is computed.
VImage carry_out(VImage image, const FramePlan& plan, double scale_x, double scale_y,
                 std::vector<std::uint8_t>& storage) {
    int cx = plan.crop_x, cy = plan.crop_y, cw = plan.crop_width, ch = plan.crop_height;
    if (scale_x != 1 || scale_y != 1) {
        cx = static_cast<int>(std::lround(cx * scale_x));
        cy = static_cast<int>(std::lround(cy * scale_y));
        cw = std::clamp(static_cast<int>(std::lround(cw * scale_x)), 1, image.width() - cx);
        ch = std::clamp(static_cast<int>(std::lround(ch * scale_y)), 1, image.height() - cy);
    }
    if (cx != 0 || cy != 0 || cw != image.width() || ch != image.height())
        image = image.extract_area(cx, cy, cw, ch);
    image = in_memory(image, storage);
    const int sw = plan.scaled_width, sh = plan.scaled_height;
    if (sw != cw || sh != ch) {
        const double hscale = static_cast<double>(sw) / cw, vscale = static_cast<double>(sh) / ch;
        if (plan.nearest && plan.whole_factors) {
            if (plan.down_x > 1 || plan.down_y > 1)
                image = image.subsample(plan.down_x, plan.down_y);
            if (plan.up_x > 1 || plan.up_y > 1) image = image.zoom(plan.up_x, plan.up_y);
        } else if (plan.nearest) {
            image = image.resize(
                hscale,
                VImage::option()->set("vscale", vscale)->set("kernel", VIPS_KERNEL_NEAREST));
        } else {
            // In linear light, alpha premultiplied: averages of colours are averages of light,
            // and transparent pixels lend no colour to their neighbours.
            VImage linear = image.colourspace(VIPS_INTERPRETATION_scRGB)
                                .premultiply(VImage::option()->set("max_alpha", 255.0));
            linear = linear
                         .resize(hscale, VImage::option()
                                             ->set("vscale", vscale)
                                             ->set("kernel", VIPS_KERNEL_LANCZOS3))
                         .unpremultiply(VImage::option()->set("max_alpha", 255.0));
            VImage colour = linear.extract_band(0, VImage::option()->set("n", 3))
                                .colourspace(VIPS_INTERPRETATION_sRGB);
            VImage alpha = (linear.extract_band(3) + 0.5).cast(VIPS_FORMAT_UCHAR);
            image = colour.cast(VIPS_FORMAT_UCHAR)
                        .bandjoin(alpha)
                        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        }
        image = exactly(image, sw, sh);
    }
    return image.embed(plan.left, plan.top, plan.canvas_width, plan.canvas_height,
                       VImage::option()
                           ->set("extend", VIPS_EXTEND_BACKGROUND)
                           ->set("background", std::vector<double>{0, 0, 0, 0}));
}

class VipsSource final : public Source {
  public:
    // A file: its header image and how to load it again.
    VipsSource(VImage header, std::string path, const Loader* loader)
        : image_(header), path_(std::move(path)), loader_(loader) {
        size_from_header();
    }
    // Pixels in memory, kept here for as long as libvips reads them.
    VipsSource(const RgbaImage& picture, int orientation) : pixels_(picture.pixels) {
        image_ = VImage::new_from_memory(pixels_.data(), pixels_.size(), picture.width,
                                         picture.height, 4, VIPS_FORMAT_UCHAR)
                     .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        image_.set(VIPS_META_ORIENTATION, orientation);
        size_from_header();
    }

    int width() const override { return width_; }
    int height() const override { return height_; }

    bool decode(RgbaImage& out, std::string& error) override {
        try {
            copy_out(to_rgba(image_.autorot()), out);
            return checked(out, width_, height_, error);
        } catch (const VError& e) {
            error = reason(format(), e);
            return false;
        }
    }

    bool frame(const FramePlan& plan, RgbaImage& out, std::string& error) override {
        try {
            double scale_x = 1, scale_y = 1;
            VImage image;
            const double sx = static_cast<double>(plan.scaled_width) / plan.crop_width;
            const double sy = static_cast<double>(plan.scaled_height) / plan.crop_height;
            if (loader_ && !plan.nearest && std::max(sx, sy) < 0.5) {
                // A large reduction of a file: decoded small already where the format allows
                // (JPEG and WebP decode at a fraction of their size), then reduced to twice
                // the size needed, upright; the plan finishes from there in linear light.
                // (Reducing in linear light here would turn shrink-on-load off.)
                const int w = std::max(1, static_cast<int>(std::ceil(width_ * sx * 2)));
                const int h = std::max(1, static_cast<int>(std::ceil(height_ * sy * 2)));
                image = VImage::thumbnail(path_.c_str(), w,
                                          VImage::option()
                                              ->set("height", h)
                                              ->set("size", VIPS_SIZE_FORCE)
                                              ->set("fail_on", VIPS_FAIL_ON_ERROR));
                image = to_rgba(image);
                scale_x = static_cast<double>(image.width()) / width_;
                scale_y = static_cast<double>(image.height()) / height_;
            } else {
                // Rows in order unless the picture must be turned.
                const bool turned = vips_image_get_orientation(image_.get_image()) > 1;
                image =
                    loader_ ? load(turned ? VIPS_ACCESS_RANDOM : VIPS_ACCESS_SEQUENTIAL) : image_;
                image = to_rgba(image.autorot());
            }
            std::vector<std::uint8_t> storage;
            copy_out(carry_out(image, plan, scale_x, scale_y, storage), out);
            return checked(out, plan.canvas_width, plan.canvas_height, error);
        } catch (const VError& e) {
            error = reason(format(), e);
            return false;
        }
    }

  private:
    const char* format() const { return loader_ ? loader_->format : "picture"; }

    VImage load(VipsAccess access) const {
        return loader_->load(
            path_.c_str(),
            VImage::option()->set("access", access)->set("fail_on", VIPS_FAIL_ON_ERROR));
    }

    void size_from_header() {
        width_ = image_.width();
        height_ = image_.height();
        if (vips_image_get_orientation_swap(image_.get_image())) std::swap(width_, height_);
    }

    static bool checked(const RgbaImage& out, int width, int height, std::string& error) {
        if (out.width == width && out.height == height) return true;
        error = "the picture changed while it was read";
        return false;
    }

    VImage image_;
    std::string path_;
    const Loader* loader_ = nullptr;
    std::vector<std::uint8_t> pixels_;
    int width_ = 0, height_ = 0;
};

class VipsCodec final : public Codec {
  public:
    std::unique_ptr<Source> open_file(const std::string& path, std::string& format,
                                      bool& recognised, std::string& error) override {
        recognised = false;
        if (!start_vips()) {
            error = "the picture library could not start";
            return nullptr;
        }
        const char* found = vips_foreign_find_load(path.c_str());
        vips_error_clear();
        const Loader* loader = nullptr;
        for (const Loader& l : loaders) {
            if (found != nullptr && std::string_view(found).starts_with(l.class_prefix))
                loader = &l;
        }
        if (loader == nullptr) {
            // A file that says what it is but that libvips cannot open is a damaged one.
            if (const char* announced = announced_format(path)) {
                recognised = true;
                format = announced;
                error = std::string("the ") + announced + " file is damaged or cut short";
            } else {
                error = "not a PNG, JPEG, GIF, WebP, TIFF or BMP picture";
            }
            return nullptr;
        }
        recognised = true;
        format = loader->format;
        try {
            return std::make_unique<VipsSource>(
                loader->load(path.c_str(), VImage::option()->set("fail_on", VIPS_FAIL_ON_ERROR)),
                path, loader);
        } catch (const VError& e) {
            error = reason(loader->format, e);
            return nullptr;
        }
    }

    std::unique_ptr<Source> open_pixels(const RgbaImage& picture, int orientation,
                                        std::string& error) override {
        if (!start_vips()) {
            error = "the picture library could not start";
            return nullptr;
        }
        try {
            return std::make_unique<VipsSource>(picture, std::clamp(orientation, 1, 8));
        } catch (const VError& e) {
            error = reason("picture", e);
            return nullptr;
        }
    }
};

}  // namespace

Codec& vips_codec() {
    static VipsCodec codec;
    return codec;
}

}  // namespace lumaweave::picture
