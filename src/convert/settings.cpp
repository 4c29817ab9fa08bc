#include "convert/settings.hpp"

#include <array>

namespace lumaweave {

namespace {

constexpr NamedValue off_on[] = {{0, "off"}, {1, "on"}};
constexpr NamedValue mitigation_values[] = {{1, "off"}, {3, "on"}};
constexpr NamedValue palettes[] = {{1, "msx1"}, {2, "msx2"}};
constexpr NamedValue dither_orders[] = {{0, "vertical"}, {1, "circular"}};

using S = ConversionSettings;
using Member = std::int32_t S::*;

constexpr SettingField named(std::string_view name, Member member, FieldKind kind,
                             std::span<const NamedValue> values, std::string_view description) {
    return {name, member, kind, values.front().value, values.back().value, values, description};
}
constexpr SettingField flag(std::string_view name, Member member, std::string_view description,
                            std::span<const NamedValue> values = off_on) {
    return named(name, member, FieldKind::flag, values, description);
}
constexpr SettingField choice(std::string_view name, Member member,
                              std::span<const NamedValue> values, std::string_view description) {
    return named(name, member, FieldKind::choice, values, description);
}
constexpr SettingField scale(std::string_view name, Member member, std::int32_t min,
                             std::int32_t max, std::string_view description) {
    return {name, member, FieldKind::scale, min, max, {}, description};
}

constexpr std::array<SettingField, 23> fields{{
    scale("vertical_error_ratio", &S::vertical_error_ratio, 0, 8,
          "How much of each pixel's colour error passes to the other row of its 8x2 block, in "
          "eighths (at 8, with darker colours kept on top, blocks are fitted column by column)"),
    choice("palette", &S::palette, palettes,
           "The MSX palette the picture is fitted to (a SCREEN 5 file NAME.s05 beside the "
           "picture supplies its own)"),
    flag("edge_calc", &S::edge_calc, "Count colour errors less on strong edges of the picture"),
    flag("color_no0", &S::color_no0, "Allow colour 0 (transparent, shown black) in the result"),
    choice("dither_order", &S::dither_order, dither_orders,
           "The order in which the four pixels of each 2x2 cell pass on their colour error"),
    scale("horizontal_position_correction", &S::horizontal_position_correction, 0, 7,
          "Move the picture this many pixels left and drop 8 columns, so that pictures 264 "
          "pixels wide fit"),
    flag("brightness", &S::brightness,
         "Weigh green over red over blue when comparing colours, as the eye does"),
    flag("lumi_sort", &S::lumi_sort, "Keep the darker colours on the upper row of each 8x2 block"),
    flag("edge_emph", &S::edge_emph, "Sharpen the picture before fitting"),
    flag("optimization", &S::optimization,
         "Avoid columns that are brighter above than below (with darker colours kept on top: "
         "compare the two rows' total brightness)"),
    scale("hue", &S::hue, -4, 6,
          "Adapt the palette used for fitting to the picture's colours (negative: away from "
          "them)"),
    flag("mitigation", &S::mitigation,
         "Let up to two columns of each block be brighter above than below (off: none)",
         mitigation_values),
    scale("gamma", &S::gamma, -10, 8, "Brighten (positive) or darken (negative) the mid-tones"),
    flag("index_r", &S::index_r, "Boost red by a sixteenth"),
    flag("index_g", &S::index_g, "Boost green by a sixteenth"),
    flag("index_b", &S::index_b, "Boost blue by a sixteenth"),
    flag("index_0", &S::index_0,
         "When adapting the palette to the picture, shift it one step darker instead of "
         "searching"),
    scale("color_d", &S::color_d, -4, 14, "Saturation: positive more vivid, negative greyer"),
    flag("sp", &S::sp, "Pass on less colour error from pixels on edges"),
    flag("block_noise", &S::block_noise, "Fit flat blocks again where the picture has detail"),
    flag("mix", &S::mix,
         "Fit column by column, then fit the blocks that drift again 2x2 cell by cell"),
    flag("col_reduction", &S::col_reduction,
         "Snap pixels to palette colours and their blends before fitting"),
    flag("dark_color", &S::dark_color,
         "Favour blends with black when snapping pixels to palette colours"),
}};

}  // namespace

bool SettingField::accepts(std::int32_t v) const {
    if (kind == FieldKind::scale) return v >= min && v <= max;
    for (const NamedValue& n : named) {
        if (n.value == v) return true;
    }
    return false;
}

std::vector<std::int32_t> SettingField::values() const {
    std::vector<std::int32_t> out;
    if (kind == FieldKind::scale) {
        for (std::int32_t v = min; v <= max; ++v)
            out.push_back(v);
    } else {
        for (const NamedValue& n : named)
            out.push_back(n.value);
    }
    return out;
}

std::string_view SettingField::value_name(std::int32_t v) const {
    for (const NamedValue& n : named) {
        if (n.value == v) return n.name;
    }
    return {};
}

std::optional<std::int32_t> SettingField::named_value(std::string_view name) const {
    for (const NamedValue& n : named) {
        if (n.name == name) return n.value;
    }
    return std::nullopt;
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

std::int32_t initial_value(const SettingField& field) {
    return ConversionSettings{}.*field.member;
}

bool settings_valid(const ConversionSettings& s) {
    for (const SettingField& f : setting_fields()) {
        if (!f.accepts(s.*f.member)) return false;
    }
    return true;
}

}  // namespace lumaweave
