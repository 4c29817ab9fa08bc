#include "quality/auto_settings.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <string_view>
#include <utility>

namespace lumaweave::quality {

namespace {

constexpr double unreachable = std::numeric_limits<double>::infinity();

// Trials evaluated together, from one current point. Fixed, so that the search takes the same
// steps on any number of workers; enough for two or four workers to share.
constexpr int round_size = 4;

// The classic descent's share of the budget (what the whole budget was before the search went
// on from where that descent ends).
constexpr int classic_budget = 8;

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

// A step of the descent: one option, one way (a two-valued option has one way only).
struct Move {
    int coordinate;
    int direction;
};

std::vector<Move> moves_of(const std::vector<Coordinate>& coords) {
    std::vector<Move> moves;
    for (int c = 0; c < static_cast<int>(coords.size()); ++c) {
        if (coords[static_cast<std::size_t>(c)].values.size() <= 2) {
            moves.push_back({c, 1});
        } else {
            // Lower values first: for the long scales the better side more often than not.
            moves.push_back({c, -1});
            moves.push_back({c, 1});
        }
    }
    return moves;
}

// The settings a move makes of `from`, if it changes them.
std::optional<ConversionSettings> moved(const ConversionSettings& from, const Coordinate& c,
                                        int direction, int step) {
    const auto at = std::find(c.values.begin(), c.values.end(), from.*c.member);
    if (at == c.values.end()) return std::nullopt;  // a value outside the domain stays as given
    const int index = static_cast<int>(at - c.values.begin());
    const int last = static_cast<int>(c.values.size()) - 1;
    int next = std::clamp(index + direction * step, 0, last);
    if (c.values.size() == 2) next = 1 - index;  // a flag flips
    if (next == index) return std::nullopt;
    ConversionSettings out = from;
    out.*c.member = c.values[static_cast<std::size_t>(next)];
    return out;
}

// The points the search starts from besides the given settings: a profile far from the initial
// one where searches on photographs and drawings most often end (finer vertical dithering,
// sharpened, no edge weighting, no dark-on-top order, no snapping to palette blends, no sp, no
// mix), the other weighting of colour distances (which changes which colours the fitting
// prefers more than any other option), and both. The budget seldom reaches past the first two;
// each differs from the start where results differ most.
std::vector<ConversionSettings> starting_points(const ConversionSettings& start) {
    ConversionSettings profile = start;
    profile.vertical_error_ratio = 5;
    profile.edge_emph = 1;
    profile.edge_calc = 0;
    profile.lumi_sort = 0;
    profile.col_reduction = 0;
    profile.sp = 0;
    profile.mix = 0;
    ConversionSettings other_weights = start;
    other_weights.brightness = start.brightness ? 0 : 1;
    ConversionSettings both = profile;
    both.brightness = other_weights.brightness;
    return {start, profile, other_weights, both};
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

double search_score(const Figures& figures, double ssim_weight) {
    return figures.delta_e_mean + ssim_weight * (1 - figures.ssim);
}

bool searched_field(const SettingField& field) {
    return field.member != &ConversionSettings::palette &&
           field.member != &ConversionSettings::horizontal_position_correction;
}

struct SettingsSearch::Slot {
    Converter converter;
    Meter whole_meter, sample_meter;
    int generation = -1;  // of the references the meters hold
};

struct SettingsSearch::Trial {
    ConversionSettings settings;
    bool whole = false;  // of the whole picture, not the sample
    Figures figures;
    double score = unreachable;
    bool kept = false;  // its result was copied to keep_ (a whole conversion better than best)
};

SettingsSearch::SettingsSearch(Workers& workers)
    : workers_(workers), best_(std::make_unique<Converter>()) {
    for (int i = 0; i < std::max(1, workers_.count()); ++i)
        slots_.push_back(std::make_unique<Slot>());
    keep_.resize(round_size);
}

SettingsSearch::~SettingsSearch() = default;

std::unique_ptr<SettingsSearch::Slot> SettingsSearch::take_slot() {
    std::lock_guard lock(slots_mutex_);
    if (slots_.empty()) return std::make_unique<Slot>();  // a pool that runs more than count()
    std::unique_ptr<Slot> slot = std::move(slots_.back());
    slots_.pop_back();
    return slot;
}

void SettingsSearch::give_back(std::unique_ptr<Slot> slot) {
    std::lock_guard lock(slots_mutex_);
    slots_.push_back(std::move(slot));
}

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
    r.start = r.chosen = r.classic = start;
    const Result& first = best_->result();
    r.outcome = first.outcome;
    chosen_ = first;
    if (!first.ok()) return r;
    source_ = first.source;
    const PixelPicture whole{first.width, first.height, source_};
    const double whole_cost = pixel_cost(first.width, first.height);
    r.conversions = 1;
    r.cost = whole_cost;

    whole_reference_ = source_picture(first);
    ++reference_generation_;
    // A small picture is tried whole: every trial is then the real figure and its conversion
    // the result. A large one is tried on sampled bands, and the sample's best settings are
    // converted whole to confirm them.
    const int bands = whole_reference_.height / 8;
    const bool sampled = options.sample_bands > 0 && bands > 2 * options.sample_bands;
    PixelPicture sample;
    double trial_cost = whole_cost;
    if (sampled) {
        const std::vector<int> rows = sample_rows(whole_reference_.height, options.sample_bands);
        sample_rows_of(source_, whole_reference_.width, rows, sample_);
        sample = {whole_reference_.width, static_cast<int>(rows.size()), sample_};
        sample_reference_.width = sample.width;
        sample_reference_.height = sample.height;
        sample_reference_.pixels.clear();
        for (int y : rows) {
            const auto at = whole_reference_.pixels.begin() +
                            static_cast<std::ptrdiff_t>(y) * whole_reference_.width;
            sample_reference_.pixels.insert(sample_reference_.pixels.end(), at,
                                            at + whole_reference_.width);
        }
        trial_cost = pixel_cost(sample.width, sample.height);
    }

    // The first conversion measured by a slot whose meters the trials then take as they are.
    Figures chosen_figures;
    {
        std::unique_ptr<Slot> slot = take_slot();
        slot->whole_meter.set_reference(whole_reference_);
        if (sampled) slot->sample_meter.set_reference(sample_reference_);
        slot->generation = reference_generation_;
        chosen_figures = slot->whole_meter.measure(displayed_picture(first));
        give_back(std::move(slot));
    }
    auto score = [&](const Figures& f) { return search_score(f, options.ssim_weight); };
    r.start_mean = r.chosen_mean = chosen_figures.delta_e_mean;
    r.start_score = r.chosen_score = score(chosen_figures);

    // Whether whole figures f may replace the choice: a lower mean, and after the classic
    // descent also a lower search score and a 95th percentile no higher than that descent's
    // choice had (so that a lower mean is not bought with worse spots).
    bool classic = true;
    double p95_limit = unreachable;
    auto better = [&](const Figures& f) {
        return f.delta_e_mean < r.chosen_mean &&
               (classic || (score(f) < r.chosen_score && f.delta_e_p95 <= p95_limit));
    };

    // Runs trials together on the workers; the figures land in each trial. A whole conversion
    // that may replace the choice keeps its result in keep_[i].
    const int generation = reference_generation_;
    auto run_trials = [&](std::vector<Trial>& trials) {
        if (keep_.size() < trials.size()) keep_.resize(trials.size());
        workers_.for_each(static_cast<int>(trials.size()), [&](int i) {
            Trial& t = trials[static_cast<std::size_t>(i)];
            std::unique_ptr<Slot> slot = take_slot();
            if (slot->generation != generation) {
                slot->whole_meter.set_reference(whole_reference_);
                if (sampled) slot->sample_meter.set_reference(sample_reference_);
                slot->generation = generation;
            }
            const Result& result = slot->converter.convert_cropped(
                t.whole ? whole : sample, t.settings, palettes, companion, options.display);
            if (result.ok()) {
                Meter& meter = t.whole ? slot->whole_meter : slot->sample_meter;
                t.figures = meter.measure(displayed_picture(result));
                t.score = score(t.figures);
                if (t.whole && better(t.figures)) {
                    keep_[static_cast<std::size_t>(i)] = result;
                    t.kept = true;
                }
            }
            give_back(std::move(slot));
        });
        // The best whole trial that may replace the choice replaces it (the first of equals).
        int winner = -1;
        for (int i = 0; i < static_cast<int>(trials.size()); ++i) {
            const Trial& t = trials[static_cast<std::size_t>(i)];
            if (t.kept && better(t.figures) &&
                (winner < 0 || t.figures.delta_e_mean <
                                   trials[static_cast<std::size_t>(winner)].figures.delta_e_mean)) {
                winner = i;
            }
        }
        if (winner < 0) return;
        const Trial& t = trials[static_cast<std::size_t>(winner)];
        std::swap(chosen_, keep_[static_cast<std::size_t>(winner)]);
        r.chosen = t.settings;
        r.chosen_mean = t.figures.delta_e_mean;
        r.chosen_score = t.score;
        chosen_figures = t.figures;
    };

    // Every trial's figures (on the sample when sampled).
    std::vector<std::pair<ConversionSettings, std::optional<Figures>>> tried;
    auto known = [&](const ConversionSettings& s) -> const std::optional<Figures>* {
        for (const auto& [settings, figures] : tried) {
            if (settings == s) return &figures;
        }
        return nullptr;
    };
    if (!sampled) tried.emplace_back(start, chosen_figures);
    double reserve = sampled ? whole_cost : 0;  // for confirming a sampled choice
    double limit = options.budget;              // of the phase under way
    auto affordable = [&] { return r.cost + trial_cost + reserve <= limit + 1e-9; };
    // The figures of the settings not yet tried, as many as the budget allows (in order); none
    // for those left out or that could not be converted.
    std::vector<Trial> round;
    auto evaluate = [&](const std::vector<ConversionSettings>& batch) {
        round.clear();
        for (const ConversionSettings& s : batch) {
            if (known(s)) continue;
            bool repeated = false;
            for (const Trial& t : round)
                repeated = repeated || t.settings == s;
            if (repeated) continue;
            if (!affordable()) break;
            r.cost += trial_cost;
            round.push_back(Trial{s, !sampled, {}, unreachable, false});
        }
        if (!round.empty()) {
            run_trials(round);
            (sampled ? r.trials : r.conversions) += static_cast<int>(round.size());
            for (const Trial& t : round) {
                tried.emplace_back(t.settings,
                                   t.score < unreachable ? std::optional(t.figures) : std::nullopt);
            }
            if (options.progress) options.progress(std::min(1.0, r.cost / options.budget));
        }
        std::vector<std::optional<double>> values;
        for (const ConversionSettings& s : batch) {
            const std::optional<Figures>* f = known(s);
            values.push_back(f ? (*f ? std::optional(score(**f)) : unreachable) : std::nullopt);
        }
        return values;
    };
    // Converts settings found on the sample whole; the best may replace the choice.
    auto confirm = [&](std::vector<ConversionSettings> finalists) {
        std::vector<Trial> final_round;
        for (const ConversionSettings& s : finalists) {
            bool repeated = s == r.chosen || s == start;
            for (const Trial& t : final_round)
                repeated = repeated || t.settings == s;
            if (!repeated) final_round.push_back(Trial{s, true, {}, unreachable, false});
        }
        if (final_round.empty()) return;
        r.conversions += static_cast<int>(final_round.size());
        r.cost += whole_cost * static_cast<double>(final_round.size());
        run_trials(final_round);
        if (options.progress) options.progress(std::min(1.0, r.cost / options.budget));
    };

    const std::vector<Coordinate> coords = coordinates();
    const std::vector<Move> moves = moves_of(coords);
    const int move_count = static_cast<int>(moves.size());

    // 1. The classic descent, trial after trial: options in turn, a scale followed along while
    // it pays, the long scales two values at a time until a pass changes nothing, then single
    // steps; it decides by the blurred CIEDE2000 mean alone. Within its own budget it chooses
    // what the search always chose.
    limit = std::min(options.budget, static_cast<double>(classic_budget));
    ConversionSettings current = start;
    bool exhausted = false;  // a trial was refused for the budget
    auto mean_of = [&](const ConversionSettings& s) -> std::optional<double> {
        if (!evaluate({s})[0]) {
            exhausted = true;
            return std::nullopt;
        }
        const std::optional<Figures>* f = known(s);
        return *f ? (*f)->delta_e_mean : unreachable;
    };
    std::optional<double> current_value = sampled ? mean_of(start) : r.start_mean;
    bool coarse = true;
    while (current_value && !exhausted) {
        bool changed = false;
        for (const Coordinate& c : coords) {
            if (exhausted) break;
            const int step = coarse ? c.coarse_step : 1;
            // Lower values first; a scale that pays one way is not tried the other.
            for (int direction : {-1, 1}) {
                std::optional<ConversionSettings> next = moved(current, c, direction, step);
                if (c.values.size() == 2 && direction < 0) {
                    if (current.*c.member != c.values[1]) continue;  // a flag flips once
                } else if (c.values.size() == 2 && current.*c.member == c.values[1]) {
                    continue;
                }
                bool improved = false;
                while (next) {
                    const std::optional<double> value = mean_of(*next);
                    if (!value || !(*value < *current_value)) break;
                    current = *next;
                    current_value = value;
                    improved = true;
                    next = c.values.size() == 2 ? std::nullopt : moved(current, c, direction, step);
                }
                if (improved) {
                    changed = true;
                    break;
                }
                if (exhausted) break;
            }
        }
        if (!changed) {
            if (!coarse) break;
            coarse = false;
        }
    }
    if (sampled && !(current == start)) {
        reserve = 0;
        confirm({current});
    }
    // From here on a choice must also lower the search score and keep the 95th percentile.
    classic = false;
    r.classic = r.chosen;
    p95_limit = chosen_figures.delta_e_p95;

    // 2. With the rest of the budget: descents by the search score (the mean with SSIM kept
    // up), several trials at a time, from where the classic descent ended and then from other
    // starting points, each until no single step pays.
    limit = options.budget;
    reserve = sampled ? 2 * whole_cost : 0;
    std::vector<ConversionSettings> starts{current};
    for (const ConversionSettings& s : starting_points(start)) {
        if (!(s == start)) starts.push_back(s);
    }
    std::vector<std::pair<ConversionSettings, double>> ends;  // where each descent ended
    for (std::size_t k = 0; k < starts.size() && affordable(); ++k) {
        ConversionSettings at = starts[k];
        const std::optional<double> at_value = evaluate({at})[0];
        if (!at_value || *at_value == unreachable) continue;
        double at_score = *at_value;
        bool visited = false;
        for (const auto& end : ends)
            visited = visited || end.first == at;
        if (visited) continue;
        bool coarse_steps = k > 0;  // the classic descent ended on single steps
        int cursor = 0;
        int unproductive = 0;        // moves looked at since the last step
        std::optional<Move> follow;  // a scale that paid: the next trial goes further along it
        while (affordable()) {
            std::vector<ConversionSettings> batch;
            std::vector<Move> batch_moves;
            if (follow) {
                const Move m = *follow;
                const Coordinate& c = coords[static_cast<std::size_t>(m.coordinate)];
                const auto next = moved(at, c, m.direction, coarse_steps ? c.coarse_step : 1);
                if (next && !known(*next)) {
                    batch.push_back(*next);
                    batch_moves.push_back(m);
                }
            }
            follow.reset();
            int looked = 0;
            while (static_cast<int>(batch.size()) < round_size &&
                   unproductive + looked < move_count) {
                const Move m = moves[static_cast<std::size_t>(cursor)];
                cursor = (cursor + 1) % move_count;
                ++looked;
                const Coordinate& c = coords[static_cast<std::size_t>(m.coordinate)];
                const auto next = moved(at, c, m.direction, coarse_steps ? c.coarse_step : 1);
                if (!next || known(*next)) continue;
                batch.push_back(*next);
                batch_moves.push_back(m);
            }
            unproductive += looked;
            if (batch.empty()) {
                if (!coarse_steps) break;  // no single step pays: this descent has ended
                coarse_steps = false;
                unproductive = 0;
                continue;
            }
            const std::vector<std::optional<double>> values = evaluate(batch);
            int best = -1;
            for (int i = 0; i < static_cast<int>(batch.size()); ++i) {
                const std::optional<double>& v = values[static_cast<std::size_t>(i)];
                if (v && *v < at_score &&
                    (best < 0 || *v < *values[static_cast<std::size_t>(best)])) {
                    best = i;
                }
            }
            if (best >= 0) {
                at = batch[static_cast<std::size_t>(best)];
                at_score = *values[static_cast<std::size_t>(best)];
                const Move m = batch_moves[static_cast<std::size_t>(best)];
                if (coords[static_cast<std::size_t>(m.coordinate)].values.size() > 2) follow = m;
                unproductive = 0;
            }
        }
        ends.emplace_back(at, at_score);
    }
    if (sampled) {
        std::stable_sort(ends.begin(), ends.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
        std::vector<ConversionSettings> finalists;
        for (const auto& end : ends) {
            if (finalists.size() < 2) finalists.push_back(end.first);
        }
        confirm(finalists);
    }
    return r;
}

SearchResult choose_settings(const std::string& source_path, const ConversionSettings& start,
                             const DefaultPalettes& palettes, const SearchOptions& options,
                             Workers& workers) {
    SettingsSearch search(workers);
    return search.run(source_path, start, palettes, options);
}

}  // namespace lumaweave::quality
