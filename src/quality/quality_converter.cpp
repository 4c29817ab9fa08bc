#include "quality/quality_converter.hpp"

namespace lumaweave::quality {

SearchResult search_picture(SettingsSearch& search, const PictureReader::Picture& picture,
                            const ConversionSettings& start, const DefaultPalettes& palettes,
                            const SearchOptions& options) {
    using Kind = PictureReader::Picture::Kind;
    if (picture.kind == Kind::bmp_bytes)
        return search.run_bmp(picture.bmp, start, palettes, options, picture.companion);
    if (picture.kind == Kind::pixels)
        return search.run(picture.pixels, start, palettes, options, picture.companion);
    SearchResult failed;
    failed.outcome = picture.outcome;
    return failed;
}

QualityConverter::QualityConverter(const ConversionSettings& settings,
                                   const DefaultPalettes& palettes, const QualityPlan& plan,
                                   std::vector<FileQuality>& records,
                                   std::unique_ptr<PictureReader> reader)
    : settings_(settings),
      palettes_(palettes),
      plan_(plan),
      records_(records),
      reader_(std::move(reader)) {
    if (plan_.search) {
        search_ =
            std::make_unique<SettingsSearch>(plan_.workers ? *plan_.workers : serial_workers());
    } else {
        converter_ = std::make_unique<Converter>();
    }
}

QualityConverter::~QualityConverter() = default;

const Result& QualityConverter::convert(int index, const std::string& name) {
    FileQuality record;
    const Result* result = nullptr;
    if (search_) {
        SearchOptions options = plan_.options;
        if (plan_.progress) {
            options.progress = [&](double share) { plan_.progress(index, share); };
        }
        const PictureReader::Picture* picture = reader_ ? &reader_->read(name, settings_) : nullptr;
        using Kind = PictureReader::Picture::Kind;
        if (picture == nullptr) {
            record.search = search_->run(name, settings_, palettes_, options);
        } else if (picture->kind != Kind::failed) {
            record.search = search_picture(*search_, *picture, settings_, palettes_, options);
        }
        if (picture == nullptr || picture->kind != Kind::failed) {
            record.searched = true;
            result = &search_->result();
        } else {
            failure_ = failed_result(picture->outcome);
            result = &failure_;
        }
    } else {
        result = &convert_file_with(*converter_, reader_.get(), failure_, name, settings_,
                                    palettes_, plan_.options.display);
    }
    if (result->ok() && plan_.measure) {
        meter_.set_reference(source_picture(*result));
        record.figures = meter_.measure(displayed_picture(*result));
        record.measured = true;
    }
    records_.at(static_cast<std::size_t>(index)) = std::move(record);
    return *result;
}

}  // namespace lumaweave::quality
