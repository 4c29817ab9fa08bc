// The source picture as the conversion takes it: size checks, crop and shift.
#include <algorithm>
#include <cstring>

#include "convert/stages.hpp"

namespace lumaweave {

namespace {

// Copies the rows first .. first + height - 1 of the picture, from column `column` on.
void copy_rows(const PixelPicture& picture, int first, int column, int width, int height,
               SourceImage& source) {
    source.width = width;
    source.height = height;
    std::fill(source.pixels.begin(), source.pixels.end(), Rgb{0, 0, 0});
    const std::size_t stride = std::size_t{3} * static_cast<std::size_t>(picture.width);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* p = picture.rgb.data() + static_cast<std::size_t>(first + y) * stride +
                                std::size_t{3} * static_cast<std::size_t>(column);
        Rgb* out = source.pixels.data() + static_cast<std::size_t>(y) * max_width;
        for (int x = 0; x < width; ++x, p += 3)
            out[x] = {p[0], p[1], p[2]};
    }
}

bool holds_pixels(const PixelPicture& picture) {
    return picture.width > 0 && picture.height > 0 &&
           picture.rgb.size() == std::size_t{3} * static_cast<std::size_t>(picture.width) *
                                     static_cast<std::size_t>(picture.height);
}

}  // namespace

Status check_picture_size(int width, int height, int correction) {
    if (width % 8 != 0) return Status::width_not_multiple_of_8;
    if ((correction == 0 && width > max_width) || (correction > 0 && width > max_width + 8)) {
        return Status::width_exceeds_256;
    }
    if (height > max_height) return Status::height_exceeds_192;
    if (width < 16 || height < 16) return Status::image_too_small;
    return Status::ok;
}

Status prepare_source(const PixelPicture& picture, int correction, SourceImage& source) {
    const Status size = check_picture_size(picture.width, picture.height, correction);
    if (size != Status::ok) return size;
    if (!holds_pixels(picture)) return Status::format_not_convertible;
    // The rows over a multiple of 8: half of them (rounded down) go at the bottom, the rest at
    // the top.
    const int extra = picture.height % 8;
    const int width = correction != 0 ? picture.width - 8 : picture.width;
    copy_rows(picture, extra - extra / 2, correction, width, picture.height - extra, source);
    return Status::ok;
}

Status take_prepared(const PixelPicture& picture, SourceImage& source) {
    if (picture.width % 8 != 0 || picture.height % 8 != 0 || picture.width > max_width ||
        picture.height > max_height) {
        return Status::format_not_convertible;
    }
    if (picture.width < 8 || picture.height < 8) return Status::image_too_small;
    if (!holds_pixels(picture)) return Status::format_not_convertible;
    copy_rows(picture, 0, 0, picture.width, picture.height, source);
    return Status::ok;
}

void start_work_image(const SourceImage& source, WorkImage& work) {
    work.width = source.width;
    work.height = source.height;
    std::memset(work.pixels.data(), 0, sizeof work.pixels);
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) {
            const Rgb& c = source.pixels[static_cast<std::size_t>(y * max_width + x)];
            work[y * max_width + x] = {c.r, c.g, c.b, 0};
        }
    }
}

}  // namespace lumaweave
