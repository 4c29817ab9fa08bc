#include "cli/docs.hpp"

#include <string_view>

#include "batch/output.hpp"
#include "cli/options.hpp"
#include "io/config.hpp"

namespace lumaweave::cli {

namespace {

// Text as roff prints it: backslashes and hyphens escaped, no line taken for a request.
std::string roff(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
    return out;
}

std::string bold(std::string_view text) {
    return "\\fB" + roff(text) + "\\fR";
}

std::string italic(std::string_view text) {
    return "\\fI" + roff(text) + "\\fR";
}

std::string roff_synopsis(const CliOption& option) {
    std::string out;
    if (option.short_name != 0) out += bold(std::string("-") + option.short_name) + ", ";
    out += bold("--" + option.long_name);
    // Appended piece by piece: g++ 12 warns wrongly (-Wrestrict) on " [" + a temporary string.
    if (option.arg == Arg::none) return out;
    out += option.arg == Arg::optional ? " [" : " ";
    out += italic(option.value_name);
    if (option.arg == Arg::optional) out += "]";
    return out;
}

struct Example {
    std::string_view command, what;
};

constexpr Example examples[] = {
    {"lumaweave-cli cat.bmp \"holiday photo.bmp\"",
     "Writes cat.S02 and \"holiday photo.S02\" beside the pictures."},
    {"lumaweave-cli --fit photo.jpg art.png",
     "Scales each picture to fit the 256 x 192 screen, keeping its shape, and pads the rest "
     "with black."},
    {"lumaweave-cli --export -r -o out pictures",
     "Converts every picture below the folder pictures into out, in the same folders, with "
     "their TEST_ pictures."},
    {"lumaweave-cli --palette msx2 --dither-order vertical --mix off -k -- *.bmp",
     "The MSX2 palette, vertical dither order, no mix; every picture is tried even when one "
     "fails."},
    {"lumaweave-cli -q --report=json *.bmp | python3 -m json.tool --json-lines",
     "One JSON object per picture on standard output, and nothing else."},
    {"lumaweave-cli --auto --auto-display tms9918 --report photos",
     "Chooses each picture's options for a real MSX1 and prints how close the results come."},
};

// A bash word list: the words separated by spaces.
std::string word_list(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words)
        out += (out.empty() ? "" : " ") + w;
    return out;
}

}  // namespace

std::string manual_page() {
    std::string out = ".TH LUMAWEAVE\\-CLI 1 \"\" \"lumaweave " + std::string(version()) +
                      "\" \"User Commands\"\n";
    out += ".SH NAME\nlumaweave\\-cli \\- convert pictures to MSX SCREEN 2 files\n";
    out += ".SH SYNOPSIS\n.B lumaweave\\-cli\n[\\fIOPTION\\fR]... \\fIFILE\\fR|\\fIFOLDER\\fR...\n";
    out += ".SH DESCRIPTION\n";
    bool first = true;
    for (const std::string_view paragraph : description()) {
        out += (first ? "" : ".PP\n") + roff(paragraph) + "\n";
        first = false;
    }
    out += ".SH OPTIONS\n";
    for (const GroupText& group : option_groups()) {
        out += ".SS \"" + roff(group.title) + "\"\n";
        if (!group.note.empty()) out += roff(group.note) + "\n";
        for (const CliOption& option : option_table()) {
            if (option.group != group.group) continue;
            out += ".TP\n" + roff_synopsis(option) + "\n" + roff(option.help);
            if (!option.initial.empty()) out += " Initial: " + roff(option.initial) + ".";
            out += "\n";
        }
    }
    out += ".TP\n" + bold("--") +
           "\nEvery later argument is a file name, even one that begins "
           "with \\-.\n";
    out += ".SH \"STANDARD OUTPUT AND STANDARD ERROR\"\n";
    first = true;
    for (const std::string_view paragraph : streams_and_stopping()) {
        out += (first ? "" : ".PP\n") + roff(paragraph) + "\n";
        first = false;
    }
    out += ".SH \"EXIT STATUS\"\n";
    for (const ExitStatus& status : exit_statuses())
        out += ".TP\n.B " + std::to_string(status.code) + "\n" + roff(status.meaning) + "\n";
    out += ".SH FILES\n.TP\n.I " + roff(config_file_name) + "\n" +
           roff(
               "In the current folder: the MSX1 and MSX2 palettes, replacing the built-in ones "
               "(see --config).") +
           "\n.TP\n.I NAME.s05\n" +
           roff(
               "Beside a picture NAME.bmp (or NAME.png, NAME.jpg and so on): a SCREEN 5 BSAVE "
               "image whose palette is used for that picture.") +
           "\n";
    out += ".SH EXAMPLES\n";
    for (const Example& example : examples)
        out += ".TP\n" + bold(example.command) + "\n" + roff(example.what) + "\n";
    out +=
        ".SH \"SEE ALSO\"\n" + bold("lumaweave") + ", the desktop dialog, which converts alike.\n";
    return out;
}

std::string bash_completion() {
    std::string options_words, values, pictures;
    for (const CliOption& option : option_table()) {
        if (option.short_name != 0) options_words += std::string("-") + option.short_name + " ";
        options_words += "--" + option.long_name + " ";
        if (option.arg == Arg::none) continue;
        std::string names = "--" + option.long_name;
        if (option.short_name != 0) names += std::string("|-") + option.short_name;
        values += "        " + names + ")\n";
        switch (option.kind) {
            case ValueKind::folder:
                values +=
                    "            _lumaweave_cli_reply \"$prefix\" \"$(compgen -d -- \"$cur\")\" "
                    "filenames\n";
                break;
            case ValueKind::file:
                values +=
                    "            _lumaweave_cli_reply \"$prefix\" \"$(compgen -f -- \"$cur\")\" "
                    "filenames\n";
                break;
            default:
                values += "            _lumaweave_cli_reply \"$prefix\" \"$(compgen -W '" +
                          word_list(option.words) + "' -- \"$cur\")\"\n";
                // An optional value may also be left out: then the word is a file.
                if (option.arg == Arg::optional) {
                    values += "            [[ -z $eq ]] && _lumaweave_cli_pictures add\n";
                }
        }
        values += "            return ;;\n";
    }
    options_words += "--";
    for (const std::string_view extension : picture_extensions)
        pictures += (pictures.empty() ? "*" : "|*") + std::string(extension);

    return R"bash(# bash completion for lumaweave-cli, made from its option table when it was built.

# Sets (or with "add", extends) the replies to the lines of $2, each after the prefix $1.
_lumaweave_cli_reply()
{
    local line
    [[ $4 == add ]] || COMPREPLY=()
    [[ -n $3 ]] && compopt -o "$3" 2>/dev/null
    while IFS= read -r line; do
        [[ -n $line ]] && COMPREPLY+=("$1$line")
    done <<< "$2"
}

# Pictures and folders whose names begin with $cur.
_lumaweave_cli_pictures()
{
    local f
    [[ $1 == add ]] || COMPREPLY=()
    compopt -o filenames 2>/dev/null
    while IFS= read -r f; do
        [[ -z $f ]] && continue
        if [[ -d $f ]]; then
            COMPREPLY+=("$f")
        else
            case ${f,,} in
                )bash" +
           pictures + R"bash() COMPREPLY+=("$f") ;;
            esac
        fi
    done <<< "$(compgen -f -- "$cur")"
}

_lumaweave_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} option=${COMP_WORDS[COMP_CWORD-1]} prefix= eq= i
    # After "--" every word is a file.
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} == -- ]]; then
            _lumaweave_cli_pictures
            return
        fi
    done
    # "--name=value": bash makes "=" a word of its own; without that, the word holds it.
    if [[ $cur == = ]]; then
        cur= eq=1
    elif [[ $option == = && $COMP_CWORD -ge 2 ]]; then
        option=${COMP_WORDS[COMP_CWORD-2]} eq=1
    elif [[ $cur == --*=* ]]; then
        option=${cur%%=*} prefix=${cur%%=*}= cur=${cur#*=} eq=1
    fi
    case $option in
)bash" + values +
           R"bash(    esac
    if [[ $cur == -* ]]; then
        _lumaweave_cli_reply "" "$(compgen -W ')bash" +
           options_words + R"bash(' -- "$cur")"
        return
    fi
    _lumaweave_cli_pictures
}

complete -F _lumaweave_cli lumaweave-cli
)bash";
}

}  // namespace lumaweave::cli
