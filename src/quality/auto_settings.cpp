#include "quality/auto_settings.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace lumaweave::quality {

namespace {

constexpr double unreachable = std::numeric_limits<double>::infinity();

// The order in which the search tries the options: first those that move the colours of the
// whole picture (the fitting palette, tone, saturation, colour snapping), then those that change
// how blocks are fitted, last those that only act together with other values (index_0 with a
// hue, dither_order in cell mode, mix and block_noise each covering for the other). With a small
// budget the search spends it where results move most. Options not named here come last.
constexpr std::array<std::string_view, 21> search_order{"hue",
                                                        "gamma",
                                                        "col_reduction",
                                                        "color_d",
                                                        "index_b",
                                                        "brightness",
                                                        "vertical_error_ratio",
                                                        "edge_emph",
                                                        "optimization",
                                                        "mitigation",
                                                        "edge_calc",
                                                        "sp",
                                                        "lumi_sort",
                                                        "dark_color",
                                                        "index_r",
                                                        "index_g",
                                                        "dither_order",
                                                        "mix",
                                                        "block_noise",
                                                        "color_no0",
                                                        "index_0"};

// One option as the search moves along it: its values in ascending order.
struct Coordinate {
    std::int32_t ConversionSettings::*member;
    std::vector<std::int32_t> values;
    int coarse_step;  // first passes step this many values at a time
};

std::vector<Coordinate> coordinates() {
    std::vector<const SettingField*> fields;
    for (std::string_view name : search_order) {
        const SettingField* f = find_setting(name);
        if (f && searched_field(*f)) fields.push_back(f);
    }
    for (const SettingField& f : setting_fields()) {
        if (searched_field(f) && std::find(fields.begin(), fields.end(), &f) == fields.end()) {
            fields.push_back(&f);
        }
    }
    std::vector<Coordinate> out;
    for (const SettingField* f : fields) {
        Coordinate c{f->member, f->values(), 1};
        // Long scales (gamma, color_d) change little per value: the first passes take two.
        c.coarse_step = c.values.size() > 12 ? 2 : 1;
        out.push_back(std::move(c));
    }
    return out;
}

// Rows of evenly spread 8-row bands, the search's sample of a picture.
std::vector<int> sample_rows(int height, int bands) {
    const int all = height / 8;
    std::vector<int> rows;
    for (int i = 0; i < bands; ++i) {
        const int band = static_cast<int>((2 * i + 1) * static_cast<long long>(all) / (2 * bands));
        for (int r = 0; r < 8; ++r)
            rows.push_back(band * 8 + r);
    }
    return rows;
}

// The given rows of a picture of `width` red, green, blue pixels per row.
void sample_rows_of(const std::vector<std::uint8_t>& pixels, int width,
                    const std::vector<int>& rows, std::vector<std::uint8_t>& out) {
    const std::size_t row_bytes = std::size_t{3} * static_cast<std::size_t>(width);
    out.clear();
    for (int y : rows) {
        const auto first = pixels.begin() + static_cast<std::ptrdiff_t>(y * row_bytes);
        out.insert(out.end(), first, first + static_cast<std::ptrdiff_t>(row_bytes));
    }
}

double pixel_cost(int width, int height) {
    return static_cast<double>(width) * height / budget_unit_pixels;
}

}  // namespace

bool searched_field(const SettingField& field) {
    return field.member != &ConversionSettings::palette &&
           field.member != &ConversionSettings::horizontal_position_correction;
}

SettingsSearch::SettingsSearch()
    : best_(std::make_unique<Converter>()), spare_(std::make_unique<Converter>()) {}

SettingsSearch::~SettingsSearch() = default;

SearchResult SettingsSearch::run(const std::string& source_path, const ConversionSettings& start,
                                 const DefaultPalettes& palettes, const SearchOptions& options) {
    best_->convert_file(source_path, start, palettes, options.display);
    // Every trial converts the picture as this conversion took it, with its companion palette.
    const std::optional<PaletteTable> companion = best_->companion();
    return search(start, palettes, options, companion);
}

SearchResult SettingsSearch::run(const PixelPicture& picture, const ConversionSettings& start,
                                 const DefaultPalettes& palettes, const SearchOptions& options,
                                 const std::optional<PaletteTable>& companion) {
    best_->convert(picture, start, palettes, companion, options.display);
    return search(start, palettes, options, companion);
}

SearchResult SettingsSearch::run_bmp(std::span<const std::uint8_t> file,
                                     const ConversionSettings& start,
                                     const DefaultPalettes& palettes, const SearchOptions& options,
                                     const std::optional<PaletteTable>& companion) {
    best_->convert_bmp(file, start, palettes, companion, options.display);
    return search(start, palettes, options, companion);
}

SearchResult SettingsSearch::search(const ConversionSettings& start,
                                    const DefaultPalettes& palettes, const SearchOptions& options,
                                    const std::optional<PaletteTable>& companion) {
    SearchResult r;
    r.start = r.chosen = start;
    const Result& first = best_->result();
    r.outcome = first.outcome;
    if (!first.ok()) return r;
    source_ = first.source;
    const PixelPicture whole{first.width, first.height, source_};
    const double whole_cost = pixel_cost(first.width, first.height);
    r.conversions = 1;
    r.cost = whole_cost;

    const Picture source = source_picture(first);
    whole_meter_.set_reference(source);
    r.start_mean = r.chosen_mean = whole_meter_.delta_e_mean(displayed_picture(first));

    // A small picture is tried whole: every trial is then the real figure and its conversion
    // the result. A large one is tried on sampled bands, and the sample's winner is converted
    // whole once at the end to confirm it.
    const int bands = source.height / 8;
    const bool sampled = options.sample_bands > 0 && bands > 2 * options.sample_bands;
    PixelPicture sample;
    double trial_cost = whole_cost;
    double reserve = 0;
    if (sampled) {
        const std::vector<int> rows = sample_rows(source.height, options.sample_bands);
        sample_rows_of(source_, source.width, rows, sample_);
        sample = {source.width, static_cast<int>(rows.size()), sample_};
        Picture reference;
        reference.width = sample.width;
        reference.height = sample.height;
        for (int y : rows) {
            const auto at = source.pixels.begin() + static_cast<std::ptrdiff_t>(y) * source.width;
            reference.pixels.insert(reference.pixels.end(), at, at + source.width);
        }
        sample_meter_.set_reference(reference);
        trial_cost = pixel_cost(sample.width, sample.height);
        reserve = whole_cost;
    }

    std::vector<std::pair<ConversionSettings, double>> tried;
    bool exhausted = false;
    // The figure of a settings record: remembered, or converted when the budget allows.
    auto figure = [&](const ConversionSettings& s) -> std::optional<double> {
        for (const auto& [settings, value] : tried) {
            if (settings == s) return value;
        }
        if (r.cost + trial_cost + reserve > options.budget + 1e-9) {
            exhausted = true;
            return std::nullopt;
        }
        r.cost += trial_cost;
        double value = unreachable;
        if (sampled) {
            ++r.trials;
            const Result& trial =
                spare_->convert_cropped(sample, s, palettes, companion, options.display);
            if (trial.ok()) {
                value = sample_meter_.delta_e_mean(displayed_picture(trial));
            }
        } else {
            ++r.conversions;
            const Result& trial =
                spare_->convert_cropped(whole, s, palettes, companion, options.display);
            if (trial.ok()) {
                value = whole_meter_.delta_e_mean(displayed_picture(trial));
                if (value < r.chosen_mean) {
                    std::swap(best_, spare_);
                    r.chosen = s;
                    r.chosen_mean = value;
                }
            }
        }
        tried.emplace_back(s, value);
        if (options.progress) options.progress(std::min(1.0, r.cost / options.budget));
        return value;
    };

    ConversionSettings current = start;
    std::optional<double> current_value = sampled ? figure(start) : r.start_mean;
    if (!sampled) tried.emplace_back(start, r.start_mean);
    const std::vector<Coordinate> coords = coordinates();
    bool coarse = true;
    while (current_value && !exhausted) {
        bool moved = false;
        for (const Coordinate& c : coords) {
            if (exhausted) break;
            const auto at = std::find(c.values.begin(), c.values.end(), current.*c.member);
            if (at == c.values.end()) continue;  // a value outside the domain stays as given
            const int index = static_cast<int>(at - c.values.begin());
            const int step = coarse ? c.coarse_step : 1;
            const int last = static_cast<int>(c.values.size()) - 1;
            // Lower values first: for the long scales the better side more often than not.
            for (int direction : {-1, 1}) {
                int next = std::clamp(index + direction * step, 0, last);
                if (next == index) continue;
                bool improved = false;
                // Along a scale, keep going while it pays.
                while (true) {
                    ConversionSettings candidate = current;
                    candidate.*c.member = c.values[static_cast<std::size_t>(next)];
                    const std::optional<double> value = figure(candidate);
                    if (!value || !(*value < *current_value)) break;
                    current = candidate;
                    current_value = value;
                    improved = true;
                    const int further = std::clamp(next + direction * step, 0, last);
                    if (further == next) break;
                    next = further;
                }
                if (improved) {
                    moved = true;
                    break;
                }
                if (exhausted) break;
            }
        }
        if (!moved) {
            if (!coarse) break;
            coarse = false;
        }
    }

    if (sampled && !(current == start)) {
        ++r.conversions;
        r.cost += whole_cost;
        const Result& final_result =
            spare_->convert_cropped(whole, current, palettes, companion, options.display);
        if (final_result.ok()) {
            const double value = whole_meter_.delta_e_mean(displayed_picture(final_result));
            if (value < r.start_mean) {
                std::swap(best_, spare_);
                r.chosen = current;
                r.chosen_mean = value;
            }
        }
    }
    return r;
}

SearchResult choose_settings(const std::string& source_path, const ConversionSettings& start,
                             const DefaultPalettes& palettes, const SearchOptions& options) {
    SettingsSearch search;
    return search.run(source_path, start, palettes, options);
}

}  // namespace lumaweave::quality
