// The settings table (every field of the record once, its values, their names, its initial
// value) and the command line's options made from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "cli/options.hpp"

using namespace lumaweave;
using S = ConversionSettings;

namespace {

cli::ParseResult parse(std::vector<std::string> args) {
    args.insert(args.begin(), cli::program_name);
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    return cli::parse_command_line(static_cast<int>(argv.size()), argv.data());
}

}  // namespace

TEST(SettingsTable, EachFieldListsItsValuesAscendingNamesThemAndTakesItsInitialValue) {
    const std::span<const SettingField> fields = setting_fields();
    EXPECT_EQ(fields.size(), sizeof(S) / sizeof(std::int32_t));
    for (const SettingField& field : fields) {
        SCOPED_TRACE(field.name);
        EXPECT_EQ(std::ranges::count(fields, field.member, &SettingField::member), 1);
        EXPECT_EQ(find_setting(field.name), &field);
        EXPECT_TRUE(field.accepts(initial_value(field)));
        EXPECT_FALSE(field.description.empty());
        const std::vector<std::int32_t> values = field.values();
        ASSERT_GE(values.size(), 2u);
        EXPECT_TRUE(std::ranges::adjacent_find(values, std::greater_equal<>()) == values.end());
        EXPECT_EQ(std::pair(values.front(), values.back()), std::pair(field.min, field.max));
        // Between and beyond the listed values nothing else is taken.
        for (std::int32_t v = field.min - 1; v <= field.max + 1; ++v)
            EXPECT_EQ(field.accepts(v), std::ranges::count(values, v) == 1) << v;
        // Flags and choices name each value once, in lower case; scales name none.
        std::set<std::string_view> names;
        for (std::int32_t v : values) {
            const std::string_view name = field.value_name(v);
            EXPECT_EQ(name.empty(), field.kind == FieldKind::scale) << v;
            if (name.empty()) continue;
            names.insert(name);
            EXPECT_EQ(field.named_value(name), v);
            EXPECT_TRUE(std::ranges::none_of(name, [](char c) { return c >= 'A' && c <= 'Z'; }));
        }
        if (field.kind == FieldKind::flag) {
            EXPECT_EQ(names, (std::set<std::string_view>{"off", "on"}));
        }
        EXPECT_EQ(field.named_value("none"), std::nullopt);
    }
}

// With no option the settings are the record's initial ones (those the dialog starts with), and
// each option's "initial" in the help, given back to it, keeps them so.
TEST(CommandLineOptions, DefaultsAreTheInitialSettingsAsTheHelpStatesThem) {
    EXPECT_EQ(parse({"a.bmp"}).options.settings, S{});
    const std::string help = cli::help_text();
    std::vector<std::string> args;
    for (const SettingField& field : setting_fields()) {
        const std::size_t at = help.find("\n  " + cli::option_name(field) + " ");
        const std::size_t end = help.find('\n', at + 1);
        const std::size_t initial = help.rfind(", initial ", end);
        ASSERT_TRUE(at != std::string::npos && initial != std::string::npos && initial > at)
            << field.name;
        args.push_back(cli::option_name(field));
        args.push_back(help.substr(initial + 10, end - initial - 10));
    }
    const cli::ParseResult r = parse(args);
    EXPECT_EQ(std::tie(r.error, r.options.settings), std::tuple("", S{}));
}
