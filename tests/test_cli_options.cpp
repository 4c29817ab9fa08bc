// The command line's options: defaults, value names and numbers, the help's values, and the
// manual page and completion made from the option table.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "cli/options.hpp"
#include "support/parse.hpp"
#include "support/program.hpp"

using namespace lumaweave;
using S = ConversionSettings;
namespace fs = std::filesystem;
using test::parse;

// With no option the settings are the record's initial ones (those the dialog starts with), and
// each option's "initial" in the help, given back to it, keeps them so.
TEST(CommandLineOptions, DefaultsAreTheInitialSettingsAsTheHelpStatesThem) {
    EXPECT_EQ(parse({"a.bmp"}).options.settings, S{});
    const std::string help = cli::help_text();
    std::vector<std::string> args;
    for (const SettingField& field : setting_fields()) {
        const std::string line = "\n  " + cli::option_name(field) + " ";
        const std::size_t at = help.find(line);
        ASSERT_NE(at, std::string::npos) << field.name;
        const std::size_t end = help.find('\n', at + 1);
        const std::size_t initial = help.rfind(", initial ", end);
        ASSERT_TRUE(initial != std::string::npos && initial > at) << field.name;
        args.push_back(cli::option_name(field));
        args.push_back(help.substr(initial + 10, end - initial - 10));
    }
    const cli::ParseResult r = parse(args);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.options.settings, S{});
}

// A value is given by its name (any letter case) or its number; each case changes one field.
TEST(CommandLineOptions, ValueNamesAndNumbersGiveTheStoredNumbers) {
    const struct {
        const char* option;
        const char* text;
        std::int32_t S::*member;
        std::int32_t stored;  // -99: refused
    } cases[] = {
        {"--palette", "msx2", &S::palette, 2},
        {"--palette", "MSX1", &S::palette, 1},
        {"--palette", "2", &S::palette, 2},
        {"--palette", "msx3", &S::palette, -99},
        {"--palette", "0", &S::palette, -99},
        {"--dither-order", "vertical", &S::dither_order, 0},
        {"--dither-order", "circular", &S::dither_order, 1},
        {"--dither-order", "diagonal", &S::dither_order, -99},
        {"--mitigation", "off", &S::mitigation, 1},
        {"--mitigation", "on", &S::mitigation, 3},
        {"--mitigation", "1", &S::mitigation, 1},
        {"--mitigation", "0", &S::mitigation, -99},
        {"--edge-calc", "off", &S::edge_calc, 0},
        {"--color-no0", "On", &S::color_no0, 1},
        {"--color-no0", "yes", &S::color_no0, 1},
        {"--mitigation", "No", &S::mitigation, 1},
        {"--mitigation", "yes", &S::mitigation, 3},
        {"--edge-calc", "true", &S::edge_calc, -99},
        {"--lumi-sort", "0", &S::lumi_sort, 0},
        {"--index-0", "off", &S::index_0, 0},
        {"--vertical-error-ratio", "0", &S::vertical_error_ratio, 0},
        {"--hue", "-4", &S::hue, -4},
        {"--hue", "off", &S::hue, -99},
        {"--gamma", "-10", &S::gamma, -10},
        {"--color-d", "15", &S::color_d, -99},
        {"--horizontal-position-correction", "7", &S::horizontal_position_correction, 7},
    };
    for (const auto& c : cases) {
        const std::string option = c.option, text = c.text;
        for (const std::vector<std::string>& args :
             {std::vector{option, text}, std::vector{option + "=" + text}}) {
            const cli::ParseResult r = parse(args);
            SCOPED_TRACE(args.back());
            if (c.stored == -99) {
                EXPECT_NE(
                    r.error.find("invalid value '" + text + "' for " + option + "; it takes "),
                    std::string::npos)
                    << r.error;
                continue;
            }
            EXPECT_EQ(r.error, "");
            S want;
            want.*c.member = c.stored;
            EXPECT_EQ(r.options.settings, want);
        }
    }
}

// The manual page and the bash completion that the build wrote from the option table name every
// option; the completion offers each option's values, folders after -o, and as the files to
// convert the pictures and folders. Through man and bash, as a user meets them.
TEST(CommandLineOptions, ManualPageAndCompletionListEveryOptionAndItsValues) {
    test::ScratchDir dir;
    fs::create_directory(dir / "pics");
    for (const char* name : {"a.bmp", "B.BMP", "c.txt"})
        test::write_file(dir / name, {1});
    std::ifstream in(LUMAWEAVE_MAN_PAGE);
    const std::string page{std::istreambuf_iterator<char>(in), {}};
    const bool man = fs::exists("/usr/bin/man");  // the roff source is checked in any case
    const std::string shown =
        man ? test::Program({"/usr/bin/man", "-l", LUMAWEAVE_MAN_PAGE}, dir.path()).wait().out : "";
    // The options that head an entry of the page as shown: "       -o, --output-dir DIR".
    std::set<std::string> heads;
    for (const std::string& line : test::split(shown, '\n')) {
        if (!line.starts_with("       -")) continue;
        for (std::string word : test::split(line.substr(7), ' ')) {
            if (!word.starts_with('-')) break;
            if (word.ends_with(',')) word.pop_back();
            heads.insert(word);
        }
    }
    std::string script = "source '" LUMAWEAVE_COMPLETION
                         "'\n"
                         "comp() { COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _lumaweave_cli; "
                         "echo \"${COMPREPLY[*]}\"; }\n"
                         "comp lumaweave-cli -\ncomp lumaweave-cli ''\n";
    std::vector<std::string> want = {"--", "B.BMP a.bmp pics"};
    for (const cli::CliOption& option : cli::option_table()) {
        for (const std::string& name :
             {"--" + option.long_name,
              option.short_name ? std::string("-") + option.short_name : ""}) {
            if (name.empty()) continue;
            want[0] += " " + name;
            std::string roff = "\\fB";
            for (char c : name)
                roff += c == '-' ? std::string("\\-") : std::string(1, c);
            EXPECT_NE(page.find(roff + "\\fR"), std::string::npos) << name;
            EXPECT_TRUE(!man || heads.contains(name)) << name;
        }
        if (option.arg == cli::Arg::none) continue;
        script += "comp lumaweave-cli --" + option.long_name + " ''\n";
        std::string values = option.kind == cli::ValueKind::folder ? "pics"
                             : option.kind == cli::ValueKind::file ? "B.BMP a.bmp c.txt pics"
                                                                   : "";
        for (const std::string& word : option.words)
            values += " " + word;
        if (option.arg == cli::Arg::optional) values += " B.BMP a.bmp pics";
        want.push_back(values);
    }
    auto sorted_words = [](const std::string& line) {
        std::vector<std::string> words = test::split(line, ' ');
        std::erase(words, "");
        std::ranges::sort(words);
        return words;
    };
    const test::ProgramResult r = test::Program({"/bin/bash", "-c", script}, dir.path()).wait();
    const std::vector<std::string> got = test::split(r.out, '\n');
    ASSERT_EQ(got.size(), want.size() + 1) << r.out << r.err;
    for (std::size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(sorted_words(got[i]), sorted_words(want[i])) << i << ": " << got[i];
}
