#include "cli/report.hpp"

#include <cmath>
#include <cstdio>
#include <string_view>

namespace lumaweave::cli {

namespace {

std::string shell_quote(const std::string& word) {
    constexpr std::string_view plain =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_./+-:,=@%";
    if (!word.empty() && word.find_first_not_of(plain) == std::string::npos) return word;
    std::string out = "'";
    for (char c : word) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string number(double v, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string psnr_text(double psnr) {
    return std::isinf(psnr) ? "infinite" : number(psnr, 3) + " dB";
}

std::string text_figures(const std::string& file, const Options& options,
                         const quality::Figures& f) {
    return file + ": CIEDE2000 (blurred) mean " + number(f.delta_e_mean, 4) + ", 95th percentile " +
           number(f.delta_e_p95, 4) + ", SSIM " + number(f.ssim, 5) + ", PSNR " +
           psnr_text(f.psnr) + " (display " + std::string(quality::display_name(options.display)) +
           ")\n";
}

std::string text_search(const std::string& file, const Options& options,
                        const quality::SearchResult& s) {
    const double change = s.start_mean > 0 ? 100 * (s.chosen_mean / s.start_mean - 1) : 0;
    return file + ": auto settings: CIEDE2000 (blurred) mean " + number(s.start_mean, 4) + " -> " +
           number(s.chosen_mean, 4) + " (" + (change <= 0 ? "" : "+") + number(change, 2) +
           "%, display " + std::string(quality::display_name(options.display)) + "); " +
           std::to_string(s.conversions) + " conversions and " + std::to_string(s.trials) +
           " trials, work " + number(s.cost, 2) + " of " + std::to_string(options.auto_budget) +
           "\n" +
           reproducing_command(s.chosen, options.config, file, picture_arguments(options.framing)) +
           "\n";
}

std::string json_settings(const ConversionSettings& settings, bool changed_only) {
    std::string out = "{";
    for (const SettingField& field : setting_fields()) {
        const std::int32_t v = settings.*(field.member);
        if (changed_only && v == initial_value(field)) continue;
        if (out.size() > 1) out += ",";
        out += json_string(std::string(field.name)) + ":" + std::to_string(v);
    }
    return out + "}";
}

std::string text_tiles(const std::string& file, const TileCounts& tiles) {
    return file + ": " + std::to_string(tiles[0] + tiles[1] + tiles[2]) + " tiles of 768 stored, " +
           std::to_string(tiles[0]) + ", " + std::to_string(tiles[1]) + " and " +
           std::to_string(tiles[2]) + " per third\n";
}

std::string json_report(const std::string& file, const Options& options,
                        const quality::FileQuality& record,
                        const std::optional<TileCounts>& tiles) {
    std::string out = "{\"file\":" + json_string(file) + ",\"display\":" +
                      json_string(std::string(quality::display_name(options.display)));
    if (record.measured) {
        const quality::Figures& f = record.figures;
        out += ",\"delta_e_mean\":" + number(f.delta_e_mean, 4) +
               ",\"delta_e_p95\":" + number(f.delta_e_p95, 4) + ",\"ssim\":" + number(f.ssim, 5) +
               ",\"psnr\":" + (std::isinf(f.psnr) ? std::string("null") : number(f.psnr, 3));
    }
    if (record.searched) {
        const quality::SearchResult& s = record.search;
        out += ",\"auto\":{\"start_delta_e_mean\":" + number(s.start_mean, 4) +
               ",\"delta_e_mean\":" + number(s.chosen_mean, 4) +
               ",\"conversions\":" + std::to_string(s.conversions) +
               ",\"trials\":" + std::to_string(s.trials) + ",\"work\":" + number(s.cost, 4) +
               ",\"budget\":" + std::to_string(options.auto_budget) +
               ",\"changed\":" + json_settings(s.chosen, true) +
               ",\"settings\":" + json_settings(s.chosen, false) + ",\"command\":" +
               json_string(reproducing_command(s.chosen, options.config, file,
                                               picture_arguments(options.framing))) +
               "}";
    }
    if (tiles) {
        out += ",\"tiles\":[" + std::to_string((*tiles)[0]) + "," + std::to_string((*tiles)[1]) +
               "," + std::to_string((*tiles)[2]) + "]";
    }
    return out + "}\n";
}

}  // namespace

std::string reproducing_command(const ConversionSettings& settings,
                                const std::optional<std::string>& config, const std::string& file,
                                const std::string& picture_options) {
    std::string out = program_name;
    out += picture_options;
    if (config) {
        out += " --config ";
        out += shell_quote(*config);
    }
    for (const SettingField& field : setting_fields()) {
        const std::int32_t v = settings.*(field.member);
        if (v == initial_value(field)) continue;
        out += ' ';
        out += option_name(field);
        out += ' ';
        out += value_text(field, v);
    }
    if (!file.empty() && file[0] == '-') out += " --";
    out += ' ';
    out += shell_quote(file);
    return out;
}

std::string file_report(const Options& options, const std::string& file,
                        const quality::FileQuality& record,
                        const std::optional<TileCounts>& tiles) {
    if (options.report == ReportFormat::json) return json_report(file, options, record, tiles);
    std::string out;
    if (record.measured) out += text_figures(file, options, record.figures);
    if (record.searched) out += text_search(file, options, record.search);
    if (tiles) out += text_tiles(file, *tiles);
    return out;
}

}  // namespace lumaweave::cli
