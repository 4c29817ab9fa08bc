// A batch's file converter that measures each result against its source and, when asked,
// searches each picture's settings first. One per thread: a parallel batch makes one per worker.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "batch/batch.hpp"
#include "quality/auto_settings.hpp"
#include "quality/measure.hpp"

namespace lumaweave::quality {

// What became of one file.
struct FileQuality {
    bool searched = false;
    SearchResult search;  // when searched
    bool measured = false;
    Figures figures;  // of the result, when measured
};

struct QualityPlan {
    bool search = false;    // search each picture's settings, starting from the batch's settings
    bool measure = false;   // measure each result
    SearchOptions options;  // the search's budget, and the display every conversion follows
    // Who runs a search's trial conversions (the calling thread when none).
    Workers* workers = nullptr;
    // Told the index of the file being searched and the share of its search done; called on
    // the converter's thread.
    std::function<void(int index, double share)> progress;
};

// Searches the settings of a picture as a reader gave it; one that could not be read gives its
// outcome and no search.
SearchResult search_picture(SettingsSearch& search, const PictureReader::Picture& picture,
                            const ConversionSettings& start, const DefaultPalettes& palettes,
                            const SearchOptions& options);

class QualityConverter final : public FileConverter {
  public:
    // The record of file i goes to records[i], which must exist for every file converted; the
    // batch reads it once convert() has returned. Settings and palettes are copied. Files are
    // read through `reader` when there is one.
    QualityConverter(const ConversionSettings& settings, const DefaultPalettes& palettes,
                     const QualityPlan& plan, std::vector<FileQuality>& records,
                     std::unique_ptr<PictureReader> reader = nullptr);
    ~QualityConverter() override;

    const Result& convert(int index, const std::string& name) override;

  private:
    const ConversionSettings settings_;
    const DefaultPalettes palettes_;
    const QualityPlan plan_;
    std::vector<FileQuality>& records_;
    std::unique_ptr<SettingsSearch> search_;  // when searching
    std::unique_ptr<Converter> converter_;    // when not
    std::unique_ptr<PictureReader> reader_;
    Result failure_;  // of a file the reader cannot read
    Meter meter_;
};

}  // namespace lumaweave::quality
