// The dialog's option controls as data: each control's id, the settings field it sets and the
// value it stores there, and its caption. No toolkit code here, so the mapping can be checked
// without a display.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "convert/settings.hpp"

namespace lumaweave::app {

enum class OptionKind { radio_button, check_box };

// A radio button stores `value` in its field when selected. A check box stores `value` when
// checked and the field's other value (clear_value()) when clear; only flags have check boxes.
struct OptionControl {
    int id;
    OptionKind kind;
    std::int32_t ConversionSettings::*member;
    std::int32_t value;
    std::string_view caption;

    const SettingField& field() const;
    std::int32_t clear_value() const;
};

// Every option control, in id order (ids 1005..1094 without the picture's 1018).
std::span<const OptionControl> option_controls();

const OptionControl* find_option_control(int id);

// The controls that set `field`: its radio buttons in id order, or its one check box.
std::vector<const OptionControl*> controls_of(const SettingField& field);

}  // namespace lumaweave::app
