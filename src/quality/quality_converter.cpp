#include "quality/quality_converter.hpp"

namespace lumaweave::quality {

QualityConverter::QualityConverter(const ConversionSettings& settings,
                                   const DefaultPalettes& palettes, const QualityPlan& plan,
                                   std::vector<FileQuality>& records)
    : settings_(settings), palettes_(palettes), plan_(plan), records_(records) {
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
        record.search = search_->run(name, settings_, palettes_, options);
        record.searched = true;
        result = &search_->result();
    } else {
        result = &converter_->convert_file(name, settings_, palettes_, plan_.options.display);
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
