// Automatic settings: per picture, a search over the conversion options for the settings whose
// result comes closest to the source by the blurred CIEDE2000 mean. The conversion itself is
// unchanged; the search only tries settings the user could also set by hand.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "lumaweave.hpp"
#include "quality/measure.hpp"

namespace lumaweave::quality {

// The budget's unit: the pixels of one 256 x 192 conversion. A conversion of a smaller picture,
// or a trial conversion of some of its rows, costs its share of that.
inline constexpr double budget_unit_pixels = 256.0 * 192.0;

// Eight conversions' work: about 1 s for a 256 x 192 picture on one core (a search spends it
// on settings that cost a little more than the initial ones), well under the 2 s a user waits.
inline constexpr int default_budget = 8;
inline constexpr int max_budget = 10000;

struct SearchOptions {
    Display display;  // the screen the picture is made for: every conversion follows it
    double budget = default_budget;  // in conversions of a 256 x 192 picture
    // Trials convert this many evenly spread 8-row bands of the picture; a picture of at most
    // twice as many bands is tried whole.
    int sample_bands = 6;
    // Told the share of the budget spent (0 to 1) after each conversion and trial, for a
    // progress display; the search goes the same with or without it.
    std::function<void(double share)> progress = {};
};

struct SearchResult {
    Outcome outcome;  // of the picture's first conversion
    ConversionSettings start, chosen;
    double start_mean = 0;   // blurred CIEDE2000 mean of the start settings' result
    double chosen_mean = 0;  // and of the chosen settings' result (never above start_mean)
    int conversions = 0;     // conversions of the whole picture
    int trials = 0;          // trial conversions of the sampled bands
    double cost = 0;         // budget used, never above the budget
};

// The options the search may change: all but the palette choice and the horizontal position
// correction, which say which palette the picture is meant for and which columns it shows.
bool searched_field(const SettingField& field);

// A search with its own conversion objects, reused from picture to picture.
class SettingsSearch {
  public:
    SettingsSearch();
    ~SettingsSearch();
    SettingsSearch(const SettingsSearch&) = delete;
    SettingsSearch& operator=(const SettingsSearch&) = delete;

    // Searches from `start` (whose palette and position correction stay as they are). On
    // success, result() holds the conversion of the chosen settings.
    SearchResult run(const std::string& source_path, const ConversionSettings& start,
                     const DefaultPalettes& palettes, const SearchOptions& options);

    // The same for a picture held in memory (a front end that has no file on disk, such as the
    // web page): its pixels, or the bytes of a BMP file, with the companion palette if any.
    SearchResult run(const PixelPicture& picture, const ConversionSettings& start,
                     const DefaultPalettes& palettes, const SearchOptions& options,
                     const std::optional<PaletteTable>& companion = std::nullopt);
    SearchResult run_bmp(std::span<const std::uint8_t> file, const ConversionSettings& start,
                         const DefaultPalettes& palettes, const SearchOptions& options,
                         const std::optional<PaletteTable>& companion = std::nullopt);

    // The conversion of the last successful run's chosen settings.
    const Result& result() const { return best_->result(); }

  private:
    // The search proper, from best_'s conversion of the picture with `start`.
    SearchResult search(const ConversionSettings& start, const DefaultPalettes& palettes,
                        const SearchOptions& options, const std::optional<PaletteTable>& companion);

    std::unique_ptr<Converter> best_, spare_;
    std::vector<std::uint8_t> source_, sample_;  // pixels of the picture and of its sample
    Meter whole_meter_, sample_meter_;
};

// The settings the search chooses for one picture, starting from `start`. On failure the
// outcome says why and `chosen` equals `start`.
SearchResult choose_settings(const std::string& source_path, const ConversionSettings& start,
                             const DefaultPalettes& palettes, const SearchOptions& options = {});

}  // namespace lumaweave::quality
