#include "picture/reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "batch/output.hpp"
#include "convert/stages.hpp"
#include "formats/bmp.hpp"
#include "formats/bmp_reader.hpp"
#include "formats/s05.hpp"
#include "io/file_io.hpp"
#include "picture/codec_loader.hpp"

namespace lumaweave::picture {

namespace {

// Opens the file as whole-file reading would and reads its first two bytes: the same statuses
// for a missing file, a folder or a device.
Outcome probe(const std::string& path, char head[2]) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        return failure(error == ENOENT ? Status::file_not_found : Status::file_cannot_open, path,
                       std::strerror(error));
    }
    struct stat st {};
    Outcome out;
    if (::fstat(fd, &st) != 0) {
        out = failure(Status::file_cannot_open, path, std::strerror(errno));
    } else if (!S_ISREG(st.st_mode)) {
        out = failure(Status::file_cannot_open, path,
                      S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "");
    } else if (::read(fd, head, 2) < 0) {
        out = failure(Status::read_error, path, std::strerror(errno));
    }
    ::close(fd);
    return out;
}

bool is_bmp_name(const std::string& name) {
    return picture_extension(name) == ".bmp";
}

}  // namespace

Outcome check_limits(int width, int height) {
    if (width <= max_side && height <= max_side && std::int64_t{width} * height <= max_pixels) {
        return {};
    }
    return failure(Status::picture_too_large, {},
                   std::to_string(width) + " x " + std::to_string(height) +
                       " pixels; pictures of at most " + std::to_string(max_side) +
                       " pixels on a side and " + std::to_string(max_pixels / 1'000'000) +
                       " megapixels are read");
}

bool framing_would_help(Status status) {
    return status == Status::width_not_multiple_of_8 || status == Status::width_exceeds_256 ||
           status == Status::height_exceeds_192 || status == Status::image_too_small;
}

Outcome frame_pixels(const RgbaImage& picture, int orientation, const FramingOptions& options,
                     int correction, RgbaImage& framed) {
    std::string error;
    Codec* codec = load_codec(error);
    if (codec == nullptr) return failure(Status::picture_unreadable, {}, error);
    const std::unique_ptr<Source> source = codec->open_pixels(picture, orientation, error);
    if (!source) return failure(Status::picture_unreadable, {}, error);
    const FramePlan plan = plan_frame(source->width(), source->height(), options, correction);
    const bool done = plan.identity(source->width(), source->height())
                          ? source->decode(framed, error)
                          : source->frame(plan, framed, error);
    if (!done) return failure(Status::picture_unreadable, {}, error);
    return {};
}

FileReader::FileReader(const FramingOptions& options) : options_(options) {}

const PictureReader::Picture& FileReader::fail(Status status, std::string detail) {
    return fail(failure(status, {}, std::move(detail)));
}

const PictureReader::Picture& FileReader::fail(const Outcome& outcome) {
    picture_.kind = Picture::Kind::failed;
    picture_.outcome = outcome;
    return picture_;
}

const PictureReader::Picture& FileReader::flattened() {
    const std::size_t pixels =
        static_cast<std::size_t>(rgba_.width) * static_cast<std::size_t>(rgba_.height);
    rgb_.resize(3 * pixels);
    flatten(rgba_.pixels.data(), pixels, options_.background, rgb_.data());
    picture_.kind = Picture::Kind::pixels;
    picture_.pixels = {rgba_.width, rgba_.height, rgb_};
    return picture_;
}

const PictureReader::Picture& FileReader::read(const std::string& name,
                                               const ConversionSettings& settings) {
    picture_ = {};
    pool_.free_all();
    // A ".bmp" is read whole at once; any other name is looked at first for a BMP's "BM".
    const bool bmp_name = is_bmp_name(name);
    char head[2] = {};
    if (!bmp_name) {
        if (const Outcome probed = probe(name, head); !probed.ok()) return fail(probed);
    }
    std::span<const std::uint8_t> bmp_file;
    if (bmp_name || (head[0] == 'B' && head[1] == 'M')) {
        const FileContents file = read_whole_file(pool_, name, 0);
        if (!file.outcome.ok()) return fail(file.outcome);
        bmp_file = file.bytes();
    }
    // The companion palette, as the core finds it beside a ".bmp": NAME.s05 for any picture.
    const FileContents palette =
        read_whole_file(pool_, companion_palette_name(name), s05::read_extra);
    if (palette.outcome.ok()) picture_.companion = s05::read_palette(palette.data);
    const int correction = settings.horizontal_position_correction;
    if (bmp_name || bmp_file.data() != nullptr) return read_bmp(bmp_file, bmp_name, correction);
    return read_other(name, correction);
}

const PictureReader::Picture& FileReader::read_bmp(std::span<const std::uint8_t> file,
                                                   bool bmp_name, int correction) {
    const bool framing = options_.framing != Framing::none;
    if (bmp_name && bmp::classic_reader_takes(file)) {
        // The 24-bit files the core has always read: its own checks and messages, unless framing
        // changes the picture.
        picture_.kind = Picture::Kind::bmp_bytes;
        picture_.bmp = file;
        if (!framing) return picture_;
        bmp::Header header;
        if (!bmp::read_header(file, header) || !bmp::rows_readable(file, header))
            return fail(Status::format_not_convertible);
        if (const Outcome too_large = check_limits(header.width, header.height); !too_large.ok())
            return fail(too_large);
        if (plan_frame(header.width, header.height, options_, correction)
                .identity(header.width, header.height)) {
            return picture_;
        }
        const std::size_t pixels =
            static_cast<std::size_t>(header.width) * static_cast<std::size_t>(header.height);
        rgb_.resize(3 * pixels);
        bmp::decode_rows(file, header, rgb_.data());
        rgba_.width = header.width;
        rgba_.height = header.height;
        rgba_.pixels.resize(4 * pixels);
        for (std::size_t i = 0; i < pixels; ++i) {
            std::copy_n(&rgb_[3 * i], 3, &rgba_.pixels[4 * i]);
            rgba_.pixels[4 * i + 3] = 255;
        }
        return framed_bmp(correction);
    }
    bmp::Layout layout;
    if (!bmp::read_layout(file, layout)) return fail(Status::format_not_convertible);
    if (const Outcome too_large = check_limits(layout.width, layout.rows()); !too_large.ok())
        return fail(too_large);
    if (!framing) {
        const Status size = check_picture_size(layout.width, layout.rows(), correction);
        if (size != Status::ok) return fail(size);
    }
    bmp::Decoded decoded;
    if (!bmp::decode(file, layout, decoded)) return fail(Status::format_not_convertible);
    rgba_.width = decoded.width;
    rgba_.height = decoded.height;
    rgba_.pixels = std::move(decoded.rgba);
    return framing ? framed_bmp(correction) : flattened();
}

const PictureReader::Picture& FileReader::framed_bmp(int correction) {
    if (plan_frame(rgba_.width, rgba_.height, options_, correction)
            .identity(rgba_.width, rgba_.height)) {
        return flattened();
    }
    const Outcome framed = frame_pixels(rgba_, 1, options_, correction, framed_);
    if (!framed.ok()) return fail(framed);
    std::swap(rgba_, framed_);
    return flattened();
}

const PictureReader::Picture& FileReader::read_other(const std::string& name, int correction) {
    std::string error, format;
    Codec* codec = load_codec(error);
    if (codec == nullptr) return fail(Status::picture_unreadable, error);
    bool recognised = false;
    const std::unique_ptr<Source> source = codec->open_file(name, format, recognised, error);
    if (!source) {
        return fail(recognised ? Status::picture_unreadable : Status::format_not_convertible,
                    error);
    }
    const int width = source->width(), height = source->height();
    if (const Outcome too_large = check_limits(width, height); !too_large.ok())
        return fail(too_large);
    bool done = false;
    if (options_.framing == Framing::none) {
        const Status size = check_picture_size(width, height, correction);
        if (size != Status::ok) return fail(size);
        done = source->decode(rgba_, error);
    } else {
        const FramePlan plan = plan_frame(width, height, options_, correction);
        done = plan.identity(width, height) ? source->decode(rgba_, error)
                                            : source->frame(plan, rgba_, error);
    }
    if (!done) return fail(Status::picture_unreadable, error);
    return flattened();
}

}  // namespace lumaweave::picture
