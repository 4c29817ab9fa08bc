#include "cli/options.hpp"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "io/config.hpp"

namespace lumaweave::cli {

namespace {

std::optional<std::int32_t> parse_int(std::string_view text) {
    std::int32_t v = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
    return v;
}

// A value's name in any letter case, or its number.
std::optional<std::int32_t> parse_setting(const SettingField& field, std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (const std::optional<std::int32_t> v = field.named_value(lower)) return v;
    const std::optional<std::int32_t> v = parse_int(text);
    if (!v || !field.accepts(*v)) return std::nullopt;
    return v;
}

std::string value_syntax(const SettingField& field) {
    if (field.kind == FieldKind::scale)
        return std::to_string(field.min) + ".." + std::to_string(field.max);
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

// Words of `text` on lines of at most `width` characters (a longer word gets its own line),
// each line indented.
std::string wrapped(std::string_view text, const std::string& indent, std::size_t width) {
    std::string out, line;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view word = text.substr(start, end - start);
        if (!line.empty() && indent.size() + line.size() + 1 + word.size() > width) {
            out += indent + line + "\n";
            line.clear();
        }
        if (!line.empty()) line += ' ';
        line += word;
        start = end + 1;
    }
    if (!line.empty()) out += indent + line + "\n";
    return out;
}

const SettingField* find_option(std::string_view name) {
    for (const SettingField& field : setting_fields()) {
        if (option_name(field) == name) return &field;
    }
    return nullptr;
}

std::string try_help() {
    return std::string("\nTry '") + program_name + " --help'.";
}

}  // namespace

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

ParseResult parse_command_line(int argc, const char* const* argv) {
    ParseResult result;
    Options& options = result.options;
    auto fail = [&](const std::string& text) {
        result.error = text;
        result.error.append(try_help());
        return result;
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
        // "--name=value" and "-jN" carry their value; otherwise it is the next argument.
        std::string_view name = arg;
        std::optional<std::string_view> attached;
        if (arg.starts_with("--")) {
            if (const std::size_t eq = arg.find('='); eq != std::string_view::npos) {
                name = arg.substr(0, eq);
                attached = arg.substr(eq + 1);
            }
        } else if (arg.starts_with("-j") && arg.size() > 2) {
            name = "-j";
            attached = arg.substr(2);
        }
        auto value = [&]() -> std::optional<std::string_view> {
            if (attached) return attached;
            if (i + 1 < argc) return std::string_view(argv[++i]);
            return std::nullopt;
        };
        auto flag = [&](bool& target) {
            if (attached) return false;
            target = true;
            return true;
        };

        if (name == "--help" || name == "-h") {
            if (!flag(options.help)) return fail(std::string(name) + " takes no value");
        } else if (name == "--export") {
            if (!flag(options.export_bmp)) return fail("--export takes no value");
        } else if (name == "--quiet" || name == "-q") {
            if (!flag(options.quiet)) return fail(std::string(name) + " takes no value");
        } else if (name == "--config") {
            const auto v = value();
            if (!v || v->empty()) return fail("--config needs a file name");
            options.config = std::string(*v);
        } else if (name == "--report") {
            if (!attached || *attached == "text") {
                options.report = ReportFormat::text;
            } else if (*attached == "json") {
                options.report = ReportFormat::json;
            } else {
                return fail("invalid value '" + std::string(*attached) +
                            "' for --report; it takes text|json");
            }
        } else if (name == "--auto") {
            if (!flag(options.auto_settings)) return fail("--auto takes no value");
        } else if (name == "--auto-budget") {
            const auto v = value();
            if (!v) return fail("--auto-budget needs a number of conversions");
            const std::optional<std::int32_t> n = parse_int(*v);
            if (!n || *n < 1 || *n > quality::max_budget) {
                return fail("invalid value '" + std::string(*v) +
                            "' for --auto-budget; it takes 1.." +
                            std::to_string(quality::max_budget));
            }
            options.auto_budget = *n;
        } else if (name == "--auto-display") {
            const auto v = value();
            if (!v) return fail("--auto-display needs table or tms9918");
            const std::optional<quality::Display> display = quality::parse_display(*v);
            if (!display) {
                return fail("invalid value '" + std::string(*v) +
                            "' for --auto-display; it takes table|tms9918");
            }
            options.display = *display;
        } else if (name == "--jobs" || name == "-j") {
            const auto v = value();
            if (!v) return fail(std::string(name) + " needs a number of threads");
            const std::optional<std::int32_t> n = parse_int(*v);
            if (!n || *n < 1 || *n > max_jobs) {
                return fail("invalid value '" + std::string(*v) + "' for " + std::string(name) +
                            "; it takes 1.." + std::to_string(max_jobs));
            }
            options.jobs = *n;
        } else if (const SettingField* field = find_option(name)) {
            const auto v = value();
            if (!v) {
                return fail(std::string(name) + " needs a value: " + describe_values(*field));
            }
            const std::optional<std::int32_t> setting = parse_setting(*field, *v);
            if (!setting) {
                return fail("invalid value '" + std::string(*v) + "' for " + std::string(name) +
                            "; it takes " + describe_values(*field));
            }
            options.settings.*(field->member) = *setting;
        } else {
            return fail("unknown option " + std::string(name));
        }
    }
    return result;
}

std::string help_text() {
    std::string out = std::string("Usage: ") + program_name + R"( [OPTIONS] FILE...

Converts each FILE whose name ends in ".bmp" (any letter case) to a SCREEN 2 image: the name with
".S02" in place of its last four characters, beside it. Files are converted in the order given;
other names are skipped. The first file that fails ends the run with its message.

Options:
  --export            also write the double-size picture "TEST_<name>.bmp" beside each source
  --config FILE       read the palettes from FILE (default: )" +
                      config_file_name + R"( in the current
                      directory when it exists)
  -j, --jobs N        convert on N threads, 1..)" +
                      std::to_string(max_jobs) + R"( (initial 1); the files written are the same
  -q, --quiet         no progress display (it is shown only on a terminal anyway)
  --report[=text|json]
                      print how close each result comes to its source: the CIEDE2000
                      difference of the two pictures blurred a little (mean and 95th
                      percentile), SSIM and PSNR; json prints one object per line
  --auto              search each picture's options for the result closest to its source
                      (lowest blurred CIEDE2000 mean), starting from the options given, write
                      that result and print a command line that reproduces it; --palette and
                      --horizontal-position-correction stay as given
  --auto-budget N     the search's work, in conversions of a 256 x 192 picture,
                      1..)" +
                      std::to_string(quality::max_budget) + R"( (initial )" +
                      std::to_string(quality::default_budget) + R"()
  --auto-display table|tms9918
                      colours the figures and the search assume the picture is shown with:
                      table (initial) the palette as the preview draws it, tms9918 those of a
                      real MSX1 video chip
  -h, --help          show this help
  --                  every later argument is a file name

Conversion options (initial values are those of the dialog; a value is given by its name or
its number, also as --option=VALUE):
)";
    for (const SettingField& field : setting_fields()) {
        out += "  " + option_name(field) + " " + describe_values(field) + ", initial " +
               value_text(field, initial_value(field)) + "\n";
        out += wrapped(field.description, "        ", 100);
    }
    out += R"(
Ctrl-C stops before the next file; a second Ctrl-C quits at once.
Exit status: 0 when every file passed ("ended : 終了しました"), 1 when a file failed, no file was
given or the palette configuration is incomplete or unreadable, 2 for a usage error, 130 when
stopped with Ctrl-C.
)";
    return out;
}

}  // namespace lumaweave::cli
