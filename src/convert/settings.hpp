// The user's choices that steer every conversion, and one table that describes each of them
// (name, dialog controls, values, initial value) for the command line, its help and the dialog.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace lumaweave {

struct ConversionSettings {
    std::int32_t vertical_error_ratio = 8;  // 0..8
    std::int32_t palette = 1;               // 1 MSX1, 2 MSX2
    std::int32_t edge_calc = 1;
    std::int32_t color_no0 = 0;
    std::int32_t dither_order = 1;                    // 0 Vertical, 1 Circular
    std::int32_t horizontal_position_correction = 0;  // 0..7
    std::int32_t brightness = 1;
    std::int32_t lumi_sort = 1;
    std::int32_t edge_emph = 0;
    std::int32_t optimization = 1;
    std::int32_t hue = 0;         // -4..6
    std::int32_t mitigation = 3;  // 1 (box clear) or 3 (box checked)
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

// One dialog control that sets a field: a radio button stores `value`; a check box stores
// `value` when checked (and its field's `clear_value` when clear).
struct SettingControl {
    int id;
    std::int32_t value;
    std::string_view caption;
};

enum class ControlKind { radio_group, check_box };

struct SettingField {
    std::string_view name;     // the field's name, as in the record
    std::string_view caption;  // group box or check box caption
    std::int32_t ConversionSettings::*member;
    ControlKind kind;
    std::span<const SettingControl> controls;  // radio buttons in id order, or the one check box
    std::int32_t initial;
    std::int32_t clear_value;  // check boxes only
    std::string_view help;     // what the option does, one line

    // Whether v is one of the values the field's controls can store.
    bool accepts(std::int32_t v) const;
};

// Every field of ConversionSettings, in record order.
std::span<const SettingField> setting_fields();

const SettingField* find_setting(std::string_view name);

// Whether every field holds a value it takes.
bool settings_valid(const ConversionSettings& s);

// The field and value that a click on control `id` stores, if the id is an option control.
struct ControlTarget {
    const SettingField* field;
    std::int32_t value_when_selected;  // radio value, or a check box's checked value
};
std::optional<ControlTarget> find_control(int id);

}  // namespace lumaweave
