// The user's choices that steer every conversion, and one table that describes each of them
// (name, values, what it does) for the command line, its help, the dialog and the settings search.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace lumaweave {

// The member initialisers are the initial values, here and everywhere else (the command line's
// defaults, the dialog at start-up).
struct ConversionSettings {
    std::int32_t vertical_error_ratio = 8;  // 0..8
    std::int32_t palette = 1;               // 1 msx1, 2 msx2
    std::int32_t edge_calc = 1;
    std::int32_t color_no0 = 0;
    std::int32_t dither_order = 1;                    // 0 vertical, 1 circular
    std::int32_t horizontal_position_correction = 0;  // 0..7
    std::int32_t brightness = 1;
    std::int32_t lumi_sort = 1;
    std::int32_t edge_emph = 0;
    std::int32_t optimization = 1;
    std::int32_t hue = 0;         // -4..6
    std::int32_t mitigation = 3;  // 1 (off) or 3 (on)
    std::int32_t gamma = 0;       // -10..8
    std::int32_t index_r = 0;
    std::int32_t index_g = 0;
    std::int32_t index_b = 0;
    std::int32_t index_0 = 1;
    std::int32_t color_d = 0;  // -4..14
    std::int32_t sp = 1;
    std::int32_t block_noise = 1;
    std::int32_t mix = 1;
    std::int32_t col_reduction = 1;
    std::int32_t dark_color = 0;

    bool operator==(const ConversionSettings&) const = default;
};

// flag: two values, named "off" and "on"; choice: a few named values; scale: every whole number
// from min to max.
enum class FieldKind { flag, choice, scale };

struct NamedValue {
    std::int32_t value;
    std::string_view name;  // short and lower-case, as typed on a command line
};

struct SettingField {
    std::string_view name;  // as in the record
    std::int32_t ConversionSettings::*member;
    FieldKind kind;
    std::int32_t min, max;              // the smallest and largest value the field takes
    std::span<const NamedValue> named;  // flags and choices: every value, ascending; scales: none
    std::string_view description;       // what the field does, one line of plain English

    bool accepts(std::int32_t v) const;
    // Every value the field takes, ascending.
    std::vector<std::int32_t> values() const;
    // The name of value v; empty for scales and values the field does not take.
    std::string_view value_name(std::int32_t v) const;
    // The value called `name` (exactly as listed), if the field has one.
    std::optional<std::int32_t> named_value(std::string_view name) const;
};

// Every field of ConversionSettings, in record order.
std::span<const SettingField> setting_fields();

const SettingField* find_setting(std::string_view name);

// The field's value in ConversionSettings{}.
std::int32_t initial_value(const SettingField& field);

// Whether every field holds a value it takes.
bool settings_valid(const ConversionSettings& s);

}  // namespace lumaweave
