// The command line of lumaweave-cli: one long option per conversion setting, generated from the
// settings table, plus the options of the batch itself.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "convert/settings.hpp"
#include "quality/auto_settings.hpp"
#include "quality/measure.hpp"

namespace lumaweave::cli {

inline constexpr const char* program_name = "lumaweave-cli";
inline constexpr int max_jobs = 64;

enum class ReportFormat { none, text, json };

struct Options {
    ConversionSettings settings;  // fields not named keep their initial values
    bool export_bmp = false;      // also write the double-size "TEST_" picture
    bool quiet = false;           // no progress display
    bool help = false;
    std::optional<std::string> config;         // palette configuration named on the command line
    int jobs = 1;                              // worker threads
    ReportFormat report = ReportFormat::none;  // quality figures per file on standard output
    bool auto_settings = false;                // search each picture's settings
    int auto_budget = quality::default_budget;
    quality::Display display = quality::Display::table;  // what the figures and the search assume
    std::vector<std::string> files;                      // in the order given
};

struct ParseResult {
    Options options;
    std::string error;  // a usage error, empty when the command line is good
};

// Parses argv[1..argc-1]. Every value is checked here, so a bad one is refused before any file
// is touched.
ParseResult parse_command_line(int argc, const char* const* argv);

// The option name of a settings field: "--" + its name with "_" written "-".
std::string option_name(const SettingField& field);

// The values a field takes, as shown in the help and in usage errors.
std::string describe_values(const SettingField& field);

// Value v of the field as the command line writes it: its name, or its number on a scale.
std::string value_text(const SettingField& field, std::int32_t v);

std::string help_text();

}  // namespace lumaweave::cli
