#include "cli/options.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "batch/output.hpp"
#include "io/config.hpp"

#ifndef LUMAWEAVE_VERSION
#define LUMAWEAVE_VERSION "unknown"
#endif

namespace lumaweave::cli {

namespace {

std::optional<std::int32_t> parse_int(std::string_view text) {
    std::int32_t v = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
    return v;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return out;
}

// A value's name in any letter case (a two-way field's "yes" and "no" too), or its number.
std::optional<std::int32_t> parse_setting(const SettingField& field, std::string_view text) {
    std::string name = lower(text);
    if (field.kind == FieldKind::flag) {
        if (name == "yes") name = "on";
        if (name == "no") name = "off";
    }
    if (const std::optional<std::int32_t> v = field.named_value(name)) return v;
    const std::optional<std::int32_t> v = parse_int(text);
    if (!v || !field.accepts(*v)) return std::nullopt;
    return v;
}

std::string value_syntax(const SettingField& field) {
    if (field.kind == FieldKind::scale) {
        return std::to_string(field.min) + ".." + std::to_string(field.max);
    }
    std::string out;
    for (const NamedValue& n : field.named) {
        if (!out.empty()) out += '|';
        out += n.name;
    }
    return out;
}

std::string value_meaning(const SettingField& field) {
    std::string out;
    for (const NamedValue& n : field.named) {
        if (!out.empty()) out += ", ";
        out += std::string(n.name) + " = " + std::to_string(n.value);
    }
    return out;
}

// Words of `text` on lines of at most `width` characters (a longer word gets its own line), the
// first line after `first` (which may already hold some characters), the others after `indent`.
std::string wrapped(std::string_view text, std::string first, const std::string& indent,
                    std::size_t width) {
    std::string out, line = std::move(first);
    bool empty = true;  // no word on the line yet
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view word = text.substr(start, end - start);
        if (!empty && line.size() + 1 + word.size() > width) {
            out += line + "\n";
            line = indent;
            empty = true;
        }
        if (!empty) line += ' ';
        line += word;
        empty = false;
        start = end + 1;
    }
    return out + line + "\n";
}

std::vector<std::string> format_names() {
    std::vector<std::string> names;
    for (const OutputKind& kind : output_kinds())
        names.emplace_back(kind.name);
    return names;
}

std::string format_list() {
    std::string out;
    for (const std::string& name : format_names())
        out += (out.empty() ? "" : ", ") + name;
    return out;
}

std::string format_help() {
    std::string out;
    for (const OutputKind& kind : output_kinds()) {
        out += (out.empty() ? "" : "; ") + std::string(kind.name) + ": " + std::string(kind.files) +
               ", " + std::string(kind.description);
    }
    return out;
}

std::string takes_number(Options& options, int Options::*member, std::string_view text, int min,
                         int max) {
    const std::optional<std::int32_t> n = parse_int(text);
    if (!n || *n < min || *n > max) return std::to_string(min) + ".." + std::to_string(max);
    options.*member = *n;
    return {};
}

CliOption flag(std::string long_name, char short_name, Group group, bool Options::*member,
               std::string help) {
    return {std::move(long_name),
            short_name,
            Arg::none,
            "",
            {},
            ValueKind::none,
            group,
            "",
            std::move(help),
            [member](Options& options, std::string_view) {
                options.*member = true;
                return std::string();
            }};
}

CliOption framing_option(picture::Framing framing, std::string help) {
    return {std::string(picture::framing_name(framing)),
            0,
            Arg::none,
            "",
            {},
            ValueKind::none,
            Group::picture,
            "",
            std::move(help),
            [framing](Options& options, std::string_view) {
                const picture::Framing given = options.framing.framing;
                if (given != picture::Framing::none && given != framing)
                    options.framing_conflict = true;
                options.framing.framing = framing;
                return std::string();
            }};
}

std::string number_text(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

CliOption setting_option(const SettingField& field) {
    std::vector<std::string> words;
    for (const NamedValue& n : field.named)
        words.emplace_back(n.name);
    if (field.kind == FieldKind::scale) {
        for (const std::int32_t v : field.values())
            words.push_back(std::to_string(v));
    }
    return {option_name(field).substr(2),
            0,
            Arg::required,
            describe_values(field),
            std::move(words),
            field.kind == FieldKind::scale ? ValueKind::number : ValueKind::word,
            Group::conversion,
            value_text(field, initial_value(field)),
            std::string(field.description) + ".",
            [&field](Options& options, std::string_view text) {
                const std::optional<std::int32_t> v = parse_setting(field, text);
                if (!v) return describe_values(field);
                options.settings.*(field.member) = *v;
                return std::string();
            }};
}

// --display and its former name.
CliOption display_option(std::string long_name, std::string help) {
    std::vector<std::string> words;
    for (const Display& d : named_displays())
        words.push_back(d.name);
    return {std::move(long_name),
            0,
            Arg::required,
            "table|tms9918|FILE",
            std::move(words),
            ValueKind::file,
            Group::quality,
            "table",
            std::move(help),
            [](Options& options, std::string_view name) {
                if (name.empty()) return std::string("table|tms9918|FILE");
                // A file is read before anything is converted (main), so that one that cannot
                // be read or is malformed ends the run with its name and what is wrong.
                options.display_name = std::string(name);
                return std::string();
            }};
}

std::vector<CliOption> make_table() {
    const std::string jobs_range = "1.." + std::to_string(max_jobs);
    const std::string budget_range = "1.." + std::to_string(quality::max_budget);
    std::vector<CliOption> table = {
        flag("export", 0, Group::outputs, &Options::export_bmp,
             "Also write the double-size picture TEST_<name>.bmp: the converted picture in the "
             "display's colours, as the dialog's preview shows it."),
        {"format", 0, Arg::required, "LIST", format_names(), ValueKind::word, Group::outputs, "s02",
         "What to write for each picture, a comma-separated list of " + format_help() +
             ". NAME is the picture's name without its extension.",
         [](Options& options, std::string_view list) {
             std::vector<const OutputKind*> chosen;
             for (std::size_t start = 0; start <= list.size();) {
                 std::size_t end = list.find(',', start);
                 if (end == std::string_view::npos) end = list.size();
                 std::string_view name = list.substr(start, end - start);
                 while (!name.empty() && name.front() == ' ')
                     name.remove_prefix(1);
                 while (!name.empty() && name.back() == ' ')
                     name.remove_suffix(1);
                 start = end + 1;
                 if (name.empty()) continue;
                 const OutputKind* kind = find_output_kind(lower(name));
                 if (kind == nullptr) return "a comma-separated list of " + format_list();
                 if (std::ranges::find(chosen, kind) == chosen.end()) chosen.push_back(kind);
             }
             if (chosen.empty()) return "a comma-separated list of " + format_list();
             options.formats = std::move(chosen);
             return std::string();
         }},
        flag("dedupe", 0, Group::outputs, &Options::dedupe,
             "Store identical 8 x 8 tiles (the same 8 pattern and 8 colour bytes) once in each "
             "third of the screen; the name table points to them and the screen shows the same "
             "pixels. The .S02 keeps its layout (unused tiles zero); raw, c and asm hold only the "
             "tiles in use, and say (as --report does) how many each third keeps."),
        {"asm-syntax",
         0,
         Arg::required,
         "pasmo|sdasz80",
         {"pasmo", "sdasz80"},
         ValueKind::word,
         Group::outputs,
         "pasmo",
         "The form of NAME.asm: pasmo (db, equ, label:), which many Z80 assemblers share, or "
         "sdasz80, the assembler of sdcc (.db, =, an area, global labels with C's leading "
         "underscore).",
         [](Options& options, std::string_view name) {
             if (lower(name) == "pasmo") {
                 options.asm_syntax = outputs::AsmSyntax::pasmo;
             } else if (lower(name) == "sdasz80") {
                 options.asm_syntax = outputs::AsmSyntax::sdasz80;
             } else {
                 return std::string("pasmo|sdasz80");
             }
             return std::string();
         }},
        flag("show", 0, Group::outputs, &Options::show,
             "After converting, show the result on an emulated MSX: its cartridge opens in "
             "openMSX (C-BIOS's MSX1 machine, or its MSX2 one for a picture made for an MSX2 "
             "palette), which runs on by itself; the first " +
                 std::to_string(max_shown) + " pictures of a run."),
        {"output-dir",
         'o',
         Arg::required,
         "DIR",
         {},
         ValueKind::folder,
         Group::outputs,
         "",
         "Write every output into DIR, made when missing, instead of beside its source. The "
         "pictures found below a folder given with -r keep their folders under DIR.",
         [](Options& options, std::string_view dir) {
             if (dir.empty()) return std::string("a folder name");
             options.output_dir = dir;
             return std::string();
         }},
        flag("recursive", 'r', Group::outputs, &Options::recursive,
             "A folder given converts the pictures in its subfolders too, and theirs."),
        flag("no-clobber", 'n', Group::outputs, &Options::no_clobber,
             "Never replace an output that exists; a file whose outputs all exist is skipped."),
        {"config",
         0,
         Arg::required,
         "FILE",
         {},
         ValueKind::file,
         Group::outputs,
         "",
         std::string("Read the palettes from FILE instead of ") + config_file_name +
             " in the current folder (which is read when it exists).",
         [](Options& options, std::string_view file) {
             if (file.empty()) return std::string("a file name");
             options.config = std::string(file);
             return std::string();
         }},
        framing_option(picture::Framing::fit,
                       "Scale each picture, down or up, to the largest size that fits the 256 x "
                       "192 screen keeping its shape; centre it and fill the rest with the "
                       "background colour. With --resample nearest only whole-number factors "
                       "(or whole-number reductions) are used, so pixel art keeps even pixels."),
        framing_option(picture::Framing::fill,
                       "Scale each picture to cover the screen keeping its shape, and keep its "
                       "middle."),
        framing_option(picture::Framing::stretch,
                       "Scale each picture to 256 x 192 whatever its shape."),
        framing_option(picture::Framing::pad,
                       "Centre each picture unscaled on the screen and fill the rest with the "
                       "background colour; of a larger picture the middle is kept."),
        {"pixel-aspect",
         0,
         Arg::required,
         "W:H|NUMBER",
         {},
         ValueKind::number,
         Group::picture,
         "1",
         "The width of an MSX pixel over its height as the screen shows it, 0.25 to 4: about "
         "8:7 on a 60 Hz screen. --fit and --fill narrow the picture by it, so that it looks "
         "right on the machine.",
         [](Options& options, std::string_view text) {
             const std::optional<double> aspect = picture::parse_pixel_aspect(text);
             if (!aspect) return std::string("a ratio W:H or a number, 0.25 to 4");
             options.framing.pixel_aspect = *aspect;
             options.framing_tuned = true;
             return std::string();
         }},
        {"background", 0, Arg::required, "#rrggbb|NAME",
         [] {
             std::vector<std::string> names;
             for (const std::string_view name : picture::colour_names())
                 names.emplace_back(name);
             return names;
         }(),
         ValueKind::word, Group::picture, "black",
         "The colour of the padding, and the colour transparent pixels are laid over: #rrggbb, "
         "#rgb or a name such as black, white, gray, red, navy.",
         [](Options& options, std::string_view text) {
             const std::optional<picture::Colour> colour = picture::parse_colour(text);
             if (!colour) return std::string("#rrggbb, #rgb or a colour name");
             options.framing.background = *colour;
             return std::string();
         }},
        {"resample",
         0,
         Arg::required,
         "smooth|nearest",
         {"smooth", "nearest"},
         ValueKind::word,
         Group::picture,
         "smooth",
         "How framing scales: smooth, with a high-quality kernel in linear light (averages of "
         "colours are averages of light); nearest, pixel by pixel, for pixel art (no new "
         "colours).",
         [](Options& options, std::string_view text) {
             const std::optional<picture::Resample> resample = picture::parse_resample(text);
             if (!resample) return std::string("smooth|nearest");
             options.framing.resample = *resample;
             options.framing_tuned = true;
             return std::string();
         }},
        flag("keep-going", 'k', Group::running, &Options::keep_going,
             "Convert every file even when some fail: report each failure and end with a count "
             "of the files converted, failed and skipped. Without it the first failure ends the "
             "run and no file after it is touched."),
        {"jobs",
         'j',
         Arg::required,
         "N",
         {},
         ValueKind::number,
         Group::running,
         "1",
         "Convert on N threads, " + jobs_range + "; the files written are the same.",
         [](Options& options, std::string_view n) {
             return takes_number(options, &Options::jobs, n, 1, max_jobs);
         }},
        flag("quiet", 'q', Group::running, &Options::quiet,
             "Print nothing on standard error unless something fails: no progress, no skipped "
             "names, no end message."),
        {"report",
         0,
         Arg::optional,
         "text|json",
         {"text", "json"},
         ValueKind::word,
         Group::quality,
         "",
         "Print how close each result comes to its source on standard output: the CIEDE2000 "
         "difference of the two pictures blurred a little (mean and 95th percentile), SSIM and "
         "PSNR. json prints one object per line. Without a value: text.",
         [](Options& options, std::string_view format) {
             if (format.empty() || format == "text") {
                 options.report = ReportFormat::text;
             } else if (format == "json") {
                 options.report = ReportFormat::json;
             } else {
                 return std::string("text|json");
             }
             return std::string();
         }},
        flag("auto", 0, Group::quality, &Options::auto_settings,
             "Search each picture's options for the result closest to its source (the lowest "
             "blurred CIEDE2000 mean), starting from the options given; write that result and "
             "print a command line that reproduces it. --palette and "
             "--horizontal-position-correction stay as given."),
        {"auto-budget",
         0,
         Arg::required,
         "N",
         {},
         ValueKind::number,
         Group::quality,
         std::to_string(quality::default_budget),
         "The search's work, in conversions of a 256 x 192 picture, " + budget_range + ".",
         [](Options& options, std::string_view n) {
             return takes_number(options, &Options::auto_budget, n, 1, quality::max_budget);
         }},
        display_option("display",
                       "The screen the pictures are made for: table, the palette's own colours "
                       "(as the MSX1 or MSX2 table gives them, or a companion palette); tms9918, "
                       "the colours a real MSX1 video chip shows; or FILE, a text file of 16 "
                       "colours, one per line as red green blue 0..255. The fitting matches "
                       "against the display's colours and the preview, the TEST_ picture, the "
                       "screen.png, --report and --auto show and measure them; a display other "
                       "than table replaces --palette and the companion palette (with FILE, the "
                       ".pal and the cartridge set an MSX2 palette of its colours in 0..7 "
                       "steps). See docs/display.md."),
        display_option("auto-display", "The same as --display (its former name)."),
        flag("help", 'h', Group::information, &Options::help,
             "Print this help on standard output and do nothing else."),
        flag("version", 0, Group::information, &Options::version,
             "Print the program's name and version on standard output and do nothing else."),
    };
    for (const SettingField& field : setting_fields())
        table.push_back(setting_option(field));
    return table;
}

const CliOption* find_long(std::string_view name) {
    for (const CliOption& option : option_table()) {
        if (option.long_name == name) return &option;
    }
    return nullptr;
}

const CliOption* find_short(char name) {
    for (const CliOption& option : option_table()) {
        if (option.short_name != 0 && option.short_name == name) return &option;
    }
    return nullptr;
}

std::string try_help() {
    return std::string("\nTry '") + program_name + " --help'.";
}

constexpr std::string_view about[] = {
    "Converts pictures to MSX SCREEN 2 \".S02\" files, BSAVE images of the video memory that "
    "BLOAD \"NAME.S02\",S shows on an MSX. A picture is a BMP (of any kind), PNG, JPEG, GIF, "
    "WebP or TIFF file whose name ends in .bmp, .png, .jpg, .jpeg, .gif, .webp, .tif or .tiff, "
    "in any letter case. As it is, a picture must be 16 to 256 pixels wide (a multiple of 8) "
    "and 16 to 192 high; --fit, --fill, --stretch or --pad frame a picture of any size for the "
    "screen.",
    "Each output is named as its source with \".S02\" in place of its extension, beside it or "
    "in the folder of --output-dir. --format writes other files instead or as well, for MSX "
    "programs and for a look at the result: the tables apart, as C or assembler source, a "
    "cartridge that shows the picture on any MSX, the screen as a PNG picture, the MSX2 "
    "palette. A folder given converts the pictures directly in it, in "
    "byte order of their names (with --recursive, then each subfolder in turn), leaving out the "
    "outputs written for a picture beside them. Other names are skipped. Files are "
    "converted in the order given; options and names may come in any order, and every later "
    "argument after -- is a name.",
    "A run whose outputs would collide (two pictures writing one name) or replace one of its "
    "pictures is refused before anything is written. Outputs are written whole to a temporary "
    "file and renamed over their target, so no file is left half-written.",
};

constexpr std::string_view streams[] = {
    "Standard output carries only what was asked for: the reports of --report and --auto. "
    "Messages, skipped names, the progress (on a terminal), the end message and the summary of "
    "--keep-going go to standard error; with --quiet nothing is printed there unless something "
    "fails.",
    "Ctrl-C stops the run before its next file (the file being converted is finished and "
    "written); a second Ctrl-C quits at once.",
};

constexpr GroupText groups[] = {
    {Group::outputs, "Files and outputs", ""},
    {Group::picture, "Pictures and framing",
     "At most one of --fit, --fill, --stretch and --pad; without them a picture is converted "
     "as it is. Pictures declaring more than 16384 pixels on a side or 100 megapixels are "
     "refused."},
    {Group::running, "Running", ""},
    {Group::quality, "Reports and automatic settings", ""},
    {Group::information, "Information", ""},
    {Group::conversion, "Conversion options",
     "The dialog's options, with its initial values. A value is given by its name, in any letter "
     "case, or by the number the dialog stores; two-way options also take yes and no."},
};

constexpr ExitStatus statuses[] = {
    {exit_converted,
     "every picture was converted (names that are not pictures, and files "
     "--no-clobber passes over, are skipped, not failed), or --help or --version"},
    {exit_failed,
     "a file failed, no file was given, the run was refused before it began, or "
     "the palette configuration is incomplete or unreadable"},
    {exit_usage, "a usage error: an unknown option, a missing or wrong value"},
    {exit_stopped, "stopped with Ctrl-C"},
};

}  // namespace

std::string_view version() {
    return LUMAWEAVE_VERSION;
}

std::span<const CliOption> option_table() {
    static const std::vector<CliOption> table = make_table();
    return table;
}

std::span<const std::string_view> description() {
    return about;
}

std::span<const std::string_view> streams_and_stopping() {
    return streams;
}

std::span<const GroupText> option_groups() {
    return groups;
}

std::span<const ExitStatus> exit_statuses() {
    return statuses;
}

std::string option_name(const SettingField& field) {
    std::string name = "--" + std::string(field.name);
    std::replace(name.begin(), name.end(), '_', '-');
    return name;
}

std::string value_text(const SettingField& field, std::int32_t v) {
    const std::string_view name = field.value_name(v);
    return name.empty() ? std::to_string(v) : std::string(name);
}

std::string describe_values(const SettingField& field) {
    const std::string meaning = value_meaning(field);
    return value_syntax(field) + (meaning.empty() ? "" : " (" + meaning + ")");
}

std::string option_synopsis(const CliOption& option) {
    std::string out;
    if (option.short_name != 0) out += std::string("-") + option.short_name + ", ";
    out += "--" + option.long_name;
    if (option.arg == Arg::required) out += " " + option.value_name;
    if (option.arg == Arg::optional) out += " [" + option.value_name + "]";
    return out;
}

std::string resolve_display(Options& options) {
    const DisplayChoice choice = load_display(options.display_name);
    if (!choice.display) return choice.error;
    options.display = *choice.display;
    return {};
}

ParseResult parse_command_line(int argc, const char* const* argv) {
    ParseResult result;
    Options& options = result.options;
    auto fail = [&](const std::string& text) {
        result.error = text + try_help();
        return result;
    };
    // Gives `option`, typed as `name`, its value; false when it refuses it.
    auto apply = [&](const CliOption& option, std::string_view name, std::string_view value) {
        const std::string takes = option.apply(options, value);
        if (takes.empty()) return true;
        result.error = "invalid value '" + std::string(value) + "' for " + std::string(name) +
                       "; it takes " + takes + try_help();
        return false;
    };
    auto missing = [&](const CliOption& option, std::string_view name) {
        return fail(std::string(name) + " needs a value: " + option.value_name);
    };
    bool only_files = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (only_files || arg.size() < 2 || arg[0] != '-') {
            options.files.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            only_files = true;
            continue;
        }
        if (arg.starts_with("--")) {
            // "--name", "--name=value", "--name value".
            const std::size_t eq = arg.find('=');
            const std::string_view name = arg.substr(0, eq);
            const CliOption* option = find_long(name.substr(2));
            if (option == nullptr) return fail("unknown option " + std::string(name));
            std::optional<std::string_view> value;
            if (eq != std::string_view::npos) value = arg.substr(eq + 1);
            if (option->arg == Arg::none && value) {
                return fail(std::string(name) + " takes no value");
            }
            if (option->arg == Arg::required && !value) {
                if (i + 1 >= argc) return missing(*option, name);
                value = argv[++i];
            }
            // An optional value comes after "=", or is the next argument when it is one of the
            // option's words.
            if (option->arg == Arg::optional && !value && i + 1 < argc &&
                std::ranges::find(option->words, std::string_view(argv[i + 1])) !=
                    option->words.end()) {
                value = argv[++i];
            }
            if (!apply(*option, name, value.value_or(""))) return result;
            continue;
        }
        // Short options, several in one argument ("-qk"); one that takes a value takes the rest
        // of the argument ("-j4", "-oout") or else the next one.
        for (std::size_t k = 1; k < arg.size(); ++k) {
            const std::string name = std::string("-") + arg[k];
            const CliOption* option = find_short(arg[k]);
            if (option == nullptr) return fail("unknown option " + name);
            if (option->arg == Arg::none) {
                if (!apply(*option, name, "")) return result;
                continue;
            }
            std::string_view value = arg.substr(k + 1);
            if (value.empty()) {
                if (i + 1 >= argc) return missing(*option, name);
                value = argv[++i];
            }
            if (!apply(*option, name, value)) return result;
            break;
        }
    }
    if (options.framing_conflict)
        return fail("--fit, --fill, --stretch and --pad exclude each other: give one");
    if (options.framing_tuned && options.framing.framing == picture::Framing::none)
        return fail(
            "--pixel-aspect and --resample apply to framing: give --fit, --fill, "
            "--stretch or --pad too");
    return result;
}

std::string picture_arguments(const picture::FramingOptions& framing) {
    std::string out;
    if (framing.framing != picture::Framing::none) {
        out += " --" + std::string(picture::framing_name(framing.framing));
        if (framing.pixel_aspect != 1)
            out += " --pixel-aspect " + number_text(framing.pixel_aspect);
        if (framing.resample == picture::Resample::nearest) out += " --resample nearest";
    }
    // Quoted: a word that begins with "#" is a comment to the shell.
    if (framing.background != picture::Colour{})
        out += " --background '" + picture::colour_text(framing.background) + "'";
    return out;
}

std::string framing_hint() {
    return std::string(program_name) +
           ": to convert a picture of any size, frame it for the screen with --fit (scaled to "
           "fit, the rest padded) or --fill (scaled to cover, the middle kept); see --help.";
}

std::string help_text() {
    constexpr std::size_t width = 79, column = 24;
    std::string out = std::string("Usage: ") + program_name + " [OPTION]... FILE|FOLDER...\n\n";
    for (const std::string_view paragraph : description())
        out += wrapped(paragraph, "", "", width) + "\n";
    for (const GroupText& group : option_groups()) {
        out += std::string(group.title) + ":\n";
        if (!group.note.empty()) out += wrapped(group.note, "  ", "  ", width);
        for (const CliOption& option : option_table()) {
            if (option.group != group.group) continue;
            if (group.group == Group::conversion) {
                // Its values and initial value on one line, what it does below.
                out += "  " + option_synopsis(option) + ", initial " + option.initial + "\n";
                out += wrapped(option.help, "        ", "        ", width);
                continue;
            }
            std::string head = "  " + option_synopsis(option);
            if (head.size() + 2 > column) {
                out += head + "\n";
                head.clear();
            }
            head.resize(column, ' ');
            std::string text = option.help;
            if (!option.initial.empty()) text += " Initial: " + option.initial + ".";
            out += wrapped(text, head, std::string(column, ' '), width);
        }
        out += "\n";
    }
    for (const std::string_view paragraph : streams_and_stopping())
        out += wrapped(paragraph, "", "", width) + "\n";
    out += "Exit status:\n";
    for (const ExitStatus& status : exit_statuses()) {
        std::string head = "  " + std::to_string(status.code);
        head += std::string(7 - head.size(), ' ');
        out += wrapped(status.meaning, head, std::string(7, ' '), width);
    }
    return out;
}

}  // namespace lumaweave::cli
