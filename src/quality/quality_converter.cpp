#include "quality/quality_converter.hpp"

#include "convert/convert.hpp"

namespace lumaweave::quality {

QualityConverter::QualityConverter(const ConversionSettings& settings,
                                   const DefaultPalettes& palettes, const QualityPlan& plan,
                                   std::vector<FileQuality>& records)
    : settings_(settings), palettes_(palettes), plan_(plan), records_(records) {
    if (plan_.search) {
        search_ = std::make_unique<SettingsSearch>();
    } else {
        conversion_ = make_conversion();
    }
}

QualityConverter::~QualityConverter() = default;

std::string QualityConverter::convert(int index, const std::string& name, Conversion*& result) {
    FileQuality record;
    std::string message;
    if (search_) {
        record.search = search_->run(pool_, name, settings_, palettes_, plan_.options);
        record.searched = true;
        message = record.search.message;
        result = &search_->result();
    } else {
        message = convert_file(*conversion_, pool_, name, settings_, palettes_);
        result = conversion_.get();
    }
    // The conversion keeps nothing of the file buffers.
    pool_.free_all();
    if (message.empty() && plan_.measure) {
        meter_.set_reference(source_picture(*result));
        record.figures = meter_.measure(displayed_picture(*result, plan_.options.display));
        record.measured = true;
    }
    records_.at(static_cast<std::size_t>(index)) = std::move(record);
    return message;
}

}  // namespace lumaweave::quality
