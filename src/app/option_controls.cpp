#include "app/option_controls.hpp"

namespace lumaweave::app {

namespace {

using S = ConversionSettings;
constexpr auto radio = OptionKind::radio_button;
constexpr auto check = OptionKind::check_box;

// The "Mitigation" box (1041) stands between the "0" and "1" buttons of "Hue".
constexpr OptionControl controls[] = {
    {1005, radio, &S::vertical_error_ratio, 8, "８"},
    {1006, radio, &S::vertical_error_ratio, 7, "７"},
    {1007, radio, &S::vertical_error_ratio, 6, "６"},
    {1008, radio, &S::vertical_error_ratio, 5, "５"},
    {1009, radio, &S::vertical_error_ratio, 4, "４"},
    {1010, radio, &S::vertical_error_ratio, 3, "３"},
    {1011, radio, &S::vertical_error_ratio, 2, "２"},
    {1012, radio, &S::vertical_error_ratio, 1, "１"},
    {1013, radio, &S::vertical_error_ratio, 0, "０"},
    {1014, radio, &S::palette, 1, "MSX1"},
    {1015, radio, &S::palette, 2, "MSX2"},
    {1016, radio, &S::edge_calc, 0, "No"},
    {1017, radio, &S::edge_calc, 1, "Yes"},
    {1019, radio, &S::color_no0, 0, "No"},
    {1020, radio, &S::color_no0, 1, "Yes"},
    {1021, radio, &S::dither_order, 0, "Vertical"},
    {1022, radio, &S::dither_order, 1, "Circular"},
    {1023, radio, &S::horizontal_position_correction, 0, "0"},
    {1024, radio, &S::horizontal_position_correction, 1, "1"},
    {1025, radio, &S::horizontal_position_correction, 2, "2"},
    {1026, radio, &S::horizontal_position_correction, 3, "3"},
    {1027, radio, &S::horizontal_position_correction, 4, "4"},
    {1028, radio, &S::horizontal_position_correction, 5, "5"},
    {1029, radio, &S::horizontal_position_correction, 6, "6"},
    {1030, radio, &S::horizontal_position_correction, 7, "7"},
    {1031, radio, &S::brightness, 0, "No"},
    {1032, radio, &S::brightness, 1, "Yes"},
    {1033, check, &S::lumi_sort, 1, "Lumi Sort"},
    {1034, check, &S::edge_emph, 1, "Edge Emph"},
    {1035, check, &S::optimization, 1, "Optimizat"},
    {1036, radio, &S::hue, -4, "-4"},
    {1037, radio, &S::hue, -3, "-3"},
    {1038, radio, &S::hue, -2, "-2"},
    {1039, radio, &S::hue, -1, "-1"},
    {1040, radio, &S::hue, 0, "0"},
    {1041, check, &S::mitigation, 3, "Mitigation"},
    {1042, radio, &S::hue, 1, "1"},
    {1043, radio, &S::hue, 2, "2"},
    {1044, radio, &S::hue, 3, "3"},
    {1045, radio, &S::hue, 4, "4"},
    {1046, radio, &S::hue, 5, "5"},
    {1047, radio, &S::hue, 6, "6"},
    {1048, radio, &S::gamma, 8, "8"},
    {1049, radio, &S::gamma, 7, "7"},
    {1050, radio, &S::gamma, 6, "6"},
    {1051, radio, &S::gamma, 5, "5"},
    {1052, radio, &S::gamma, 4, "4"},
    {1053, radio, &S::gamma, 3, "3"},
    {1054, radio, &S::gamma, 2, "2"},
    {1055, radio, &S::gamma, 1, "1"},
    {1056, radio, &S::gamma, 0, "0"},
    {1057, radio, &S::gamma, -1, "-1"},
    {1058, radio, &S::gamma, -2, "-2"},
    {1059, radio, &S::gamma, -3, "-3"},
    {1060, radio, &S::gamma, -4, "-4"},
    {1061, radio, &S::gamma, -5, "-5"},
    {1062, radio, &S::gamma, -6, "-6"},
    {1063, radio, &S::gamma, -7, "-7"},
    {1064, radio, &S::gamma, -8, "-8"},
    {1065, radio, &S::gamma, -9, "-9"},
    {1066, radio, &S::gamma, -10, "-10"},
    {1067, check, &S::index_r, 1, "R"},
    {1068, check, &S::index_g, 1, "G"},
    {1069, check, &S::index_b, 1, "B"},
    {1070, check, &S::index_0, 1, "0"},
    {1071, radio, &S::color_d, 14, "14"},
    {1072, radio, &S::color_d, 13, "13"},
    {1073, radio, &S::color_d, 12, "12"},
    {1074, radio, &S::color_d, 11, "11"},
    {1075, radio, &S::color_d, 10, "10"},
    {1076, radio, &S::color_d, 9, "9"},
    {1077, radio, &S::color_d, 8, "8"},
    {1078, radio, &S::color_d, 7, "7"},
    {1079, radio, &S::color_d, 6, "6"},
    {1080, radio, &S::color_d, 5, "5"},
    {1081, radio, &S::color_d, 4, "4"},
    {1082, radio, &S::color_d, 3, "3"},
    {1083, radio, &S::color_d, 2, "2"},
    {1084, radio, &S::color_d, 1, "1"},
    {1085, radio, &S::color_d, 0, "0"},
    {1086, radio, &S::color_d, -1, "-1"},
    {1087, radio, &S::color_d, -2, "-2"},
    {1088, radio, &S::color_d, -3, "-3"},
    {1089, radio, &S::color_d, -4, "-4"},
    {1090, check, &S::sp, 1, "Sp"},
    {1091, check, &S::block_noise, 1, "Block Noise"},
    {1092, check, &S::mix, 1, "Mix"},
    {1093, check, &S::col_reduction, 1, "Col Reduction"},
    {1094, check, &S::dark_color, 1, "Dark Color"},
};

}  // namespace

const SettingField& OptionControl::field() const {
    for (const SettingField& f : setting_fields()) {
        if (f.member == member) return f;
    }
    // Every member of ConversionSettings has its field; the mapping test holds the table to it.
    return setting_fields().front();
}

std::int32_t OptionControl::clear_value() const {
    for (std::int32_t v : field().values()) {
        if (v != value) return v;
    }
    return value;
}

std::span<const OptionControl> option_controls() {
    return controls;
}

const OptionControl* find_option_control(int id) {
    for (const OptionControl& c : controls) {
        if (c.id == id) return &c;
    }
    return nullptr;
}

std::vector<const OptionControl*> controls_of(const SettingField& field) {
    std::vector<const OptionControl*> out;
    for (const OptionControl& c : controls) {
        if (c.member == field.member) out.push_back(&c);
    }
    return out;
}

}  // namespace lumaweave::app
