#include "batch/picture_reader.hpp"

#include "convert/images.hpp"
#include "formats/vram.hpp"

namespace lumaweave {

Result failed_result(Outcome outcome) {
    Result r;
    r.outcome = std::move(outcome);
    r.vram.assign(vram::file_size, 0);
    r.preview.assign(preview_bytes, 0);
    return r;
}

const Result& convert_file_with(Converter& converter, PictureReader* reader, Result& failure,
                                const std::string& name, const ConversionSettings& settings,
                                const DefaultPalettes& palettes) {
    if (reader == nullptr) return converter.convert_file(name, settings, palettes);
    const PictureReader::Picture& picture = reader->read(name, settings);
    switch (picture.kind) {
        case PictureReader::Picture::Kind::bmp_bytes:
            converter.convert_bmp(picture.bmp, settings, palettes, picture.companion);
            break;
        case PictureReader::Picture::Kind::pixels:
            converter.convert(picture.pixels, settings, palettes, picture.companion);
            break;
        case PictureReader::Picture::Kind::failed:
            failure = failed_result(picture.outcome);
            return failure;
    }
    // A failure names no file: the batch names it.
    return converter.result();
}

}  // namespace lumaweave
