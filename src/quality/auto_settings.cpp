#include "quality/auto_settings.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "convert/convert.hpp"

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

Picture sample_picture(const Picture& source, const std::vector<int>& rows) {
    Picture p;
    p.width = source.width;
    p.height = static_cast<int>(rows.size());
    for (int y : rows) {
        const auto first = source.pixels.begin() + static_cast<std::ptrdiff_t>(y) * source.width;
        p.pixels.insert(p.pixels.end(), first, first + source.width);
    }
    return p;
}

// Puts a picture into a conversion as the source loading leaves it, for a trial conversion.
void load_picture(Conversion& conv, const Picture& picture, const ConversionSettings& settings) {
    conv.settings = settings;
    conv.evaluations = 0;
    conv.width = picture.width;
    conv.height = picture.height;
    std::memset(conv.work.data(), 0, sizeof conv.work);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const Rgb& c = picture.pixels[static_cast<std::size_t>(y * picture.width + x)];
            conv.work[static_cast<std::size_t>(y * max_width + x)] = {c.r, c.g, c.b, 0};
            conv.source[static_cast<std::size_t>(y * max_width + x)] = c;
        }
    }
    conv.vram.fill(0);
}

double pixel_cost(int width, int height) {
    return static_cast<double>(width) * height / budget_unit_pixels;
}

}  // namespace

bool searched_field(const SettingField& field) {
    return field.member != &ConversionSettings::palette &&
           field.member != &ConversionSettings::horizontal_position_correction;
}

SettingsSearch::SettingsSearch() : best_(make_conversion()), spare_(make_conversion()) {}

SettingsSearch::~SettingsSearch() = default;

SearchResult SettingsSearch::run(ScratchPool& pool, const std::string& source_path,
                                 const ConversionSettings& start, const DefaultPalettes& palettes,
                                 const SearchOptions& options) {
    SearchResult r;
    r.start = r.chosen = start;
    std::optional<PaletteTable> companion;
    r.message = convert_file(*best_, pool, source_path, start, palettes, companion);
    pool.free_all();
    if (!r.message.empty()) return r;
    const double whole_cost = pixel_cost(best_->width, best_->height);
    r.conversions = 1;
    r.cost = whole_cost;

    const Picture source = source_picture(*best_);
    whole_meter_.set_reference(source);
    r.start_mean = r.chosen_mean =
        whole_meter_.delta_e_mean(displayed_picture(*best_, options.display));

    // A small picture is tried whole: every trial is then the real figure and its conversion
    // the result. A large one is tried on sampled bands, and the sample's winner is converted
    // whole once at the end to confirm it.
    const int bands = source.height / 8;
    const bool sampled = options.sample_bands > 0 && bands > 2 * options.sample_bands;
    Picture sample;
    double trial_cost = whole_cost;
    double reserve = 0;
    if (sampled) {
        sample = sample_picture(source, sample_rows(source.height, options.sample_bands));
        sample_meter_.set_reference(sample);
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
            load_picture(*spare_, sample, s);
            convert_loaded(*spare_, palettes, companion);
            value = sample_meter_.delta_e_mean(displayed_picture(*spare_, options.display));
        } else {
            ++r.conversions;
            const std::string message = convert_file(*spare_, pool, source_path, s, palettes);
            pool.free_all();
            // A file that has become unreadable meanwhile only ends this trial.
            if (message.empty()) {
                value = whole_meter_.delta_e_mean(displayed_picture(*spare_, options.display));
                if (value < r.chosen_mean) {
                    std::swap(best_, spare_);
                    r.chosen = s;
                    r.chosen_mean = value;
                }
            }
        }
        tried.emplace_back(s, value);
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
        const std::string message = convert_file(*spare_, pool, source_path, current, palettes);
        pool.free_all();
        if (message.empty()) {
            const double value =
                whole_meter_.delta_e_mean(displayed_picture(*spare_, options.display));
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
    ScratchPool pool;
    return search.run(pool, source_path, start, palettes, options);
}

}  // namespace lumaweave::quality
