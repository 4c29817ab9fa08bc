// The command line of lumaweave-cli: one table of every option, from which the parser, the help,
// the manual page and the shell completion are all made. The conversion settings come from the
// core's settings table, one option per field; the front end's own options are listed here.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "batch/output.hpp"
#include "convert/settings.hpp"
#include "io/status.hpp"
#include "outputs/source_code.hpp"
#include "picture/framing.hpp"
#include "quality/auto_settings.hpp"
#include "quality/measure.hpp"

namespace lumaweave::cli {

inline constexpr const char* program_name = "lumaweave-cli";
inline constexpr int max_jobs = 64;
// --show opens at most this many pictures of a run, each in an emulator of its own.
inline constexpr int max_shown = 4;

inline constexpr int exit_converted = 0;
inline constexpr int exit_failed = 1;
inline constexpr int exit_usage = 2;
inline constexpr int exit_stopped = 130;  // the shell's code for a Ctrl-C

// The program's version, as the build gives it.
std::string_view version();

enum class ReportFormat { none, text, json };

struct Options {
    ConversionSettings settings;  // fields not named keep their initial values
    bool export_bmp = false;      // also write the double-size "TEST_" picture
    // The kinds of --format (output_kinds()), each once, in the order given.
    std::vector<const OutputKind*> formats{find_output_kind("s02")};
    bool dedupe = false;  // identical tiles of a third stored once
    outputs::AsmSyntax asm_syntax = outputs::AsmSyntax::pasmo;
    bool show = false;        // open each result in openMSX
    std::string output_dir;   // empty: outputs beside their sources
    bool recursive = false;   // folders given: also their subfolders
    bool keep_going = false;  // convert every file, whatever fails
    bool no_clobber = false;  // never replace an existing output
    bool quiet = false;       // nothing on standard error unless something fails
    bool help = false;
    bool version = false;
    std::optional<std::string> config;         // palette configuration named on the command line
    int jobs = 1;                              // worker threads
    ReportFormat report = ReportFormat::none;  // quality figures per file on standard output
    bool auto_settings = false;                // search each picture's settings
    int auto_budget = quality::default_budget;
    std::string display_name = "table";  // --display as given: a display's name or a file
    Display display;                     // what display_name names, once read (resolve_display)
    picture::FramingOptions framing;     // --fit, --fill, --stretch, --pad and their settings
    bool framing_conflict = false;       // two different framings were given
    bool framing_tuned = false;          // --pixel-aspect or --resample was given
    std::vector<std::string> files;      // names and folders, in the order given
};

// Whether an option takes a value: none, always (the next argument, "=VALUE", or for a short
// option the rest of its argument), or only when it is one of its words or given after "=".
enum class Arg { none, required, optional };

// What a value is, for the completion.
enum class ValueKind { none, file, folder, number, word };

// The parts of the help and the manual page.
enum class Group { outputs, running, quality, information, conversion, picture };

struct GroupText {
    Group group;
    std::string_view title;  // "Files and outputs"
    std::string_view note;   // said before its options, or empty
};
// Every group, in the order the help and the manual page show them.
std::span<const GroupText> option_groups();

struct CliOption {
    std::string long_name;  // without the leading "--"
    char short_name = 0;    // 0: none
    Arg arg = Arg::none;
    std::string value_name;          // "DIR", "N", the words joined with "|", or a range
    std::vector<std::string> words;  // the named values, as the help and completion offer them
    ValueKind kind = ValueKind::none;
    Group group = Group::outputs;
    std::string initial;  // the value when the option is not given, if it has one to show
    std::string help;     // what it does, in plain English
    // Takes the value (empty for an option without one) into the options. Returns empty, or
    // what the option takes when it refuses the value.
    std::function<std::string(Options&, std::string_view value)> apply;
};

// Every option, in the order the help lists them: the front end's, then one per settings field.
std::span<const CliOption> option_table();

struct ParseResult {
    Options options;
    std::string error;  // a usage error, empty when the command line is good
};

// Parses argv[1..argc-1]. Every value is checked here, so a bad one is refused before any file
// is touched.
ParseResult parse_command_line(int argc, const char* const* argv);

// Reads the display that options.display_name names into options.display. Returns empty, or
// the message to print (naming the file) when it cannot be read or is malformed.
std::string resolve_display(Options& options);

// The option name of a settings field: "--" + its name with "_" written "-".
std::string option_name(const SettingField& field);

// The values a field takes, as shown in the help and in usage errors.
std::string describe_values(const SettingField& field);

// Value v of the field as the command line writes it: its name, or its number on a scale.
std::string value_text(const SettingField& field, std::int32_t v);

// "-o, --output-dir DIR", as the help and the manual page head an option's text.
std::string option_synopsis(const CliOption& option);

// The exit statuses, each with when it is given, for the help and the manual page.
struct ExitStatus {
    int code;
    std::string_view meaning;
};
std::span<const ExitStatus> exit_statuses();

// What the program does, paragraph by paragraph, for the help and the manual page.
std::span<const std::string_view> description();

// Which output goes to which stream, and how a run can be stopped.
std::span<const std::string_view> streams_and_stopping();

std::string help_text();

// The options that reproduce the framing and background of a run (" --fit --background ..."),
// empty when they are the initial ones.
std::string picture_arguments(const picture::FramingOptions& framing);

// After a failure that framing would have avoided (picture::framing_would_help), the command
// line says this, once a run.
std::string framing_hint();

}  // namespace lumaweave::cli
