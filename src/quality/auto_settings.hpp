// Automatic settings: per picture, a search over the conversion options for the settings whose
// result comes closest to the source as its display shows it (the blurred CIEDE2000 mean, with
// SSIM kept from falling). The conversion itself is unchanged; the search only tries settings
// the user could also set by hand.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "convert/workers.hpp"
#include "lumaweave.hpp"
#include "quality/measure.hpp"

namespace lumaweave::quality {

// The budget's unit: the pixels of one 256 x 192 conversion. A conversion of a smaller picture,
// or a trial conversion of some of its rows, costs its share of that.
inline constexpr double budget_unit_pixels = 256.0 * 192.0;

// 24 conversions' work: about 1 to 2 s for a 256 x 192 picture on two cores (the settings a
// search tries are often slower to fit than the initial ones), the time a user waits for "Auto".
inline constexpr int default_budget = 24;
inline constexpr int max_budget = 10000;

// What the search minimises after its classic descent: the blurred CIEDE2000 mean, plus this many
// units for each 1 that SSIM falls short of 1. It keeps the search from buying a lower mean with
// a clearly less faithful structure (SSIM moves by hundredths where the mean moves by tenths).
inline constexpr double default_ssim_weight = 5.0;

struct SearchOptions {
    Display display;  // the screen the picture is made for: every conversion follows it
    double budget = default_budget;  // in conversions of a 256 x 192 picture
    // Trials convert this many evenly spread 8-row bands of the picture; a picture of at most
    // twice as many bands is tried whole.
    int sample_bands = 6;
    double ssim_weight = default_ssim_weight;  // see default_ssim_weight
    // Told the share of the budget spent (0 to 1) after each round of trials, on the calling
    // thread, for a progress display; the search goes the same with or without it.
    std::function<void(double share)> progress = {};
};

struct SearchResult {
    Outcome outcome;  // of the picture's first conversion
    ConversionSettings start, chosen;
    // The classic descent's choice, which the rest of the budget may only replace by settings
    // of a lower mean and score and a 95th percentile no higher.
    ConversionSettings classic;
    double start_mean = 0;   // blurred CIEDE2000 mean of the start settings' result
    double chosen_mean = 0;  // and of the chosen settings' result (never above start_mean)
    double start_score = 0;  // search_score of each
    double chosen_score = 0;
    int conversions = 0;  // conversions of the whole picture
    int trials = 0;       // trial conversions of the sampled bands
    double cost = 0;      // budget used, never above the budget
};

// The figure the search minimises for a result's figures.
double search_score(const Figures& figures, double ssim_weight = default_ssim_weight);

// The options the search may change: all but the palette choice and the horizontal position
// correction, which say which palette the picture is meant for and which columns it shows.
bool searched_field(const SettingField& field);

// A search with its own conversion objects, reused from picture to picture. Its trial
// conversions run on `workers` (one converter per task running at a time, allocated once); the
// choice is the same on any number of workers and in any order they run the trials.
class SettingsSearch {
  public:
    explicit SettingsSearch(Workers& workers = serial_workers());
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

    // The conversion of the last run's chosen settings.
    const Result& result() const { return chosen_; }

  private:
    struct Slot;  // a converter and meters for one trial at a time
    struct Trial;

    // The search proper, from best_'s conversion of the picture with `start`.
    SearchResult search(const ConversionSettings& start, const DefaultPalettes& palettes,
                        const SearchOptions& options, const std::optional<PaletteTable>& companion);
    std::unique_ptr<Slot> take_slot();
    void give_back(std::unique_ptr<Slot> slot);

    Workers& workers_;
    std::unique_ptr<Converter> best_;  // the first conversion of each picture
    Result chosen_;                    // the chosen settings' conversion
    std::vector<Result> keep_;         // whole trials' results that may become the choice
    std::mutex slots_mutex_;
    std::vector<std::unique_ptr<Slot>> slots_;   // free ones
    std::vector<std::uint8_t> source_, sample_;  // pixels of the picture and of its sample
    Picture whole_reference_, sample_reference_;
    int reference_generation_ = 0;  // which references the slots' meters must hold
};

// The settings the search chooses for one picture, starting from `start`. On failure the
// outcome says why and `chosen` equals `start`.
SearchResult choose_settings(const std::string& source_path, const ConversionSettings& start,
                             const DefaultPalettes& palettes, const SearchOptions& options = {},
                             Workers& workers = serial_workers());

}  // namespace lumaweave::quality
