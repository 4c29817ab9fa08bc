// The settings table (every field of the record once, its values, their names, its initial
// value) and the command line's options made from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "cli/options.hpp"

using namespace lumaweave;
using S = ConversionSettings;

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
