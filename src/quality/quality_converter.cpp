#include "quality/quality_converter.hpp"

namespace lumaweave::quality {

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
        search_ = std::make_unique<SettingsSearch>();
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
        } else if (picture->kind == Kind::bmp_bytes) {
            record.search =
                search_->run_bmp(picture->bmp, settings_, palettes_, options, picture->companion);
        } else if (picture->kind == Kind::pixels) {
            record.search =
                search_->run(picture->pixels, settings_, palettes_, options, picture->companion);
        }
        if (picture == nullptr || picture->kind != Kind::failed) {
            record.searched = true;
            result = &search_->result();
        } else {
            failure_ = failed_result(picture->outcome);
            result = &failure_;
        }
    } else {
        result =
            &convert_file_with(*converter_, reader_.get(), failure_, name, settings_, palettes_);
    }
    if (result->ok() && plan_.measure) {
        meter_.set_reference(source_picture(*result));
        record.figures = meter_.measure(displayed_picture(*result, plan_.options.display));
        record.measured = true;
    }
    records_.at(static_cast<std::size_t>(index)) = std::move(record);
    return *result;
}

}  // namespace lumaweave::quality
