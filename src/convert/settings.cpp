#include "convert/settings.hpp"

#include <array>

namespace lumaweave {

namespace {

using C = SettingControl;

constexpr std::array<C, 9> ratio_buttons{{{1005, 8, "８"},
                                          {1006, 7, "７"},
                                          {1007, 6, "６"},
                                          {1008, 5, "５"},
                                          {1009, 4, "４"},
                                          {1010, 3, "３"},
                                          {1011, 2, "２"},
                                          {1012, 1, "１"},
                                          {1013, 0, "０"}}};
constexpr std::array<C, 2> palette_buttons{{{1014, 1, "MSX1"}, {1015, 2, "MSX2"}}};
constexpr std::array<C, 2> edge_calc_buttons{{{1016, 0, "No"}, {1017, 1, "Yes"}}};
constexpr std::array<C, 2> color_no0_buttons{{{1019, 0, "No"}, {1020, 1, "Yes"}}};
constexpr std::array<C, 2> dither_buttons{{{1021, 0, "Vertical"}, {1022, 1, "Circular"}}};
constexpr std::array<C, 8> correction_buttons{{{1023, 0, "0"},
                                               {1024, 1, "1"},
                                               {1025, 2, "2"},
                                               {1026, 3, "3"},
                                               {1027, 4, "4"},
                                               {1028, 5, "5"},
                                               {1029, 6, "6"},
                                               {1030, 7, "7"}}};
constexpr std::array<C, 2> brightness_buttons{{{1031, 0, "No"}, {1032, 1, "Yes"}}};
constexpr std::array<C, 1> lumi_sort_box{{{1033, 1, "Lumi Sort"}}};
constexpr std::array<C, 1> edge_emph_box{{{1034, 1, "Edge Emph"}}};
constexpr std::array<C, 1> optimization_box{{{1035, 1, "Optimizat"}}};
// Id 1041 is the "Mitigation" check box, standing between the "0" and "1" buttons.
constexpr std::array<C, 11> hue_buttons{{{1036, -4, "-4"},
                                         {1037, -3, "-3"},
                                         {1038, -2, "-2"},
                                         {1039, -1, "-1"},
                                         {1040, 0, "0"},
                                         {1042, 1, "1"},
                                         {1043, 2, "2"},
                                         {1044, 3, "3"},
                                         {1045, 4, "4"},
                                         {1046, 5, "5"},
                                         {1047, 6, "6"}}};
constexpr std::array<C, 1> mitigation_box{{{1041, 3, "Mitigation"}}};
constexpr std::array<C, 19> gamma_buttons{{{1048, 8, "8"},
                                           {1049, 7, "7"},
                                           {1050, 6, "6"},
                                           {1051, 5, "5"},
                                           {1052, 4, "4"},
                                           {1053, 3, "3"},
                                           {1054, 2, "2"},
                                           {1055, 1, "1"},
                                           {1056, 0, "0"},
                                           {1057, -1, "-1"},
                                           {1058, -2, "-2"},
                                           {1059, -3, "-3"},
                                           {1060, -4, "-4"},
                                           {1061, -5, "-5"},
                                           {1062, -6, "-6"},
                                           {1063, -7, "-7"},
                                           {1064, -8, "-8"},
                                           {1065, -9, "-9"},
                                           {1066, -10, "-10"}}};
constexpr std::array<C, 1> index_r_box{{{1067, 1, "R"}}};
constexpr std::array<C, 1> index_g_box{{{1068, 1, "G"}}};
constexpr std::array<C, 1> index_b_box{{{1069, 1, "B"}}};
constexpr std::array<C, 1> index_0_box{{{1070, 1, "0"}}};
constexpr std::array<C, 19> color_d_buttons{{{1071, 14, "14"},
                                             {1072, 13, "13"},
                                             {1073, 12, "12"},
                                             {1074, 11, "11"},
                                             {1075, 10, "10"},
                                             {1076, 9, "9"},
                                             {1077, 8, "8"},
                                             {1078, 7, "7"},
                                             {1079, 6, "6"},
                                             {1080, 5, "5"},
                                             {1081, 4, "4"},
                                             {1082, 3, "3"},
                                             {1083, 2, "2"},
                                             {1084, 1, "1"},
                                             {1085, 0, "0"},
                                             {1086, -1, "-1"},
                                             {1087, -2, "-2"},
                                             {1088, -3, "-3"},
                                             {1089, -4, "-4"}}};
constexpr std::array<C, 1> sp_box{{{1090, 1, "Sp"}}};
constexpr std::array<C, 1> block_noise_box{{{1091, 1, "Block Noise"}}};
constexpr std::array<C, 1> mix_box{{{1092, 1, "Mix"}}};
constexpr std::array<C, 1> col_reduction_box{{{1093, 1, "Col Reduction"}}};
constexpr std::array<C, 1> dark_color_box{{{1094, 1, "Dark Color"}}};

using S = ConversionSettings;
constexpr auto radio = ControlKind::radio_group;
constexpr auto check = ControlKind::check_box;

const std::array<SettingField, 23> fields{{
    {"vertical_error_ratio", "Vertical Error Ratio", &S::vertical_error_ratio, radio, ratio_buttons,
     8, 0,
     "share of a pixel's error passed to the other row, in eighths (8: all of it; with Lumi Sort "
     "on, 8 fits column by column)"},
    {"palette", "Palette", &S::palette, radio, palette_buttons, 1, 0,
     "default palette: 1 MSX1, 2 MSX2 (a companion .s05 file overrides it)"},
    {"edge_calc", "Edge Calc", &S::edge_calc, radio, edge_calc_buttons, 1, 0,
     "weigh errors less on strong edges of the source"},
    {"color_no0", "Color No.0", &S::color_no0, radio, color_no0_buttons, 0, 0,
     "allow colour 0 (transparent) in the picture"},
    {"dither_order", "Dither Order", &S::dither_order, radio, dither_buttons, 1, 0,
     "pixel order inside 2x2 cells: 0 Vertical, 1 Circular"},
    {"horizontal_position_correction", "Horizontal Position Correction",
     &S::horizontal_position_correction, radio, correction_buttons, 0, 0,
     "shift the picture this many pixels left and drop 8 columns (lets 264-wide pictures in)"},
    {"brightness", "Brightness", &S::brightness, radio, brightness_buttons, 1, 0,
     "weigh green over red over blue in colour distances"},
    {"lumi_sort", "Lumi Sort", &S::lumi_sort, check, lumi_sort_box, 1, 0,
     "keep the darker colours on the upper row of each 8x2 block"},
    {"edge_emph", "Edge Emph", &S::edge_emph, check, edge_emph_box, 0, 0,
     "sharpen the picture before fitting"},
    {"optimization", "Optimizat", &S::optimization, check, optimization_box, 1, 0,
     "limit brighter-above-darker columns (with Lumi Sort: compare the rows' brightness sums)"},
    {"hue", "Hue", &S::hue, radio, hue_buttons, 0, 0,
     "adapt the fitting palette to the picture's colours (negative: away from them)"},
    {"mitigation", "Mitigation", &S::mitigation, check, mitigation_box, 3, 1,
     "allow up to two darker-below columns per block (1: none, 3: two)"},
    {"gamma", "Gamma", &S::gamma, radio, gamma_buttons, 0, 0,
     "brighten (positive) or darken (negative) the mid-tones"},
    {"index_r", "R", &S::index_r, check, index_r_box, 0, 0, "boost red by 1/16"},
    {"index_g", "G", &S::index_g, check, index_g_box, 0, 0, "boost green by 1/16"},
    {"index_b", "B", &S::index_b, check, index_b_box, 0, 0, "boost blue by 1/16"},
    {"index_0", "0", &S::index_0, check, index_0_box, 1, 0,
     "with Hue: shift the palette one step darker instead of searching it"},
    {"color_d", "ColorD", &S::color_d, radio, color_d_buttons, 0, 0,
     "saturation: positive more vivid, negative greyer"},
    {"sp", "Sp", &S::sp, check, sp_box, 1, 0, "pass less error from pixels on edges"},
    {"block_noise", "Block Noise", &S::block_noise, check, block_noise_box, 1, 0,
     "re-fit flat blocks where the source has detail"},
    {"mix", "Mix", &S::mix, check, mix_box, 1, 0,
     "fit column by column, then re-fit drifting blocks in the dither order's cell mode"},
    {"col_reduction", "Col Reduction", &S::col_reduction, check, col_reduction_box, 1, 0,
     "snap pixels to palette colours and blends before fitting"},
    {"dark_color", "Dark Color", &S::dark_color, check, dark_color_box, 0, 0,
     "favour blends with black in the colour reduction"},
}};

}  // namespace

bool SettingField::accepts(std::int32_t v) const {
    if (kind == ControlKind::check_box && v == clear_value) return true;
    for (const SettingControl& c : controls) {
        if (c.value == v) return true;
    }
    return false;
}

std::span<const SettingField> setting_fields() {
    return fields;
}

const SettingField* find_setting(std::string_view name) {
    for (const SettingField& f : fields) {
        if (f.name == name) return &f;
    }
    return nullptr;
}

bool settings_valid(const ConversionSettings& s) {
    for (const SettingField& f : fields) {
        if (!f.accepts(s.*f.member)) return false;
    }
    return true;
}

std::optional<ControlTarget> find_control(int id) {
    for (const SettingField& f : fields) {
        for (const SettingControl& c : f.controls) {
            if (c.id == id) return ControlTarget{&f, c.value};
        }
    }
    return std::nullopt;
}

}  // namespace lumaweave
