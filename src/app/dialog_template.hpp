// The main dialog's layout as data: every control with its id, kind, caption and rectangle in
// dialog units, in creation order, and the conversion of dialog units to pixels. No toolkit
// code here, so the layout can be checked without a display.
#pragma once

#include <span>
#include <string_view>

namespace lumaweave::app {

enum class ItemKind {
    list_box,
    picture,
    push_button,
    static_text,
    group_box,
    radio_button,
    check_box,
    colour_picker
};

struct DialogUnitRect {
    int x, y, width, height;
};

struct TemplateItem {
    int id;  // -1 for static texts and group boxes, which nothing refers to
    ItemKind kind;
    std::string_view caption;
    DialogUnitRect rect;
    bool group_start;  // radio buttons: the first of an exclusive group
    // What the control does, in one line (the option controls' come from the settings table).
    std::string_view tooltip = {};
};

inline constexpr int id_file_list = 1000;
inline constexpr int id_conversion = 1001;
inline constexpr int id_end = 1002;
inline constexpr int id_export_no = 1003;
inline constexpr int id_export_yes = 1004;
inline constexpr int id_picture = 1018;
// "Auto": applies the settings the automatic search chooses for file 0. Its id lies above the
// range the other controls use (1000-1094), so no option handler ever takes its click.
inline constexpr int id_auto = 1100;
// "Show on MSX": opens the result shown in openMSX, as a cartridge.
inline constexpr int id_show_on_msx = 1101;

// The column at the right of the template (x 440..515): its top part (y 10..200) for opening
// pictures and framing them for the screen. None of these sets a conversion field.
inline constexpr int id_open = 1200;
inline constexpr int id_framing_none = 1201;
inline constexpr int id_framing_fit = 1202;
inline constexpr int id_framing_fill = 1203;
inline constexpr int id_framing_pad = 1204;
inline constexpr int id_background = 1205;

inline constexpr std::string_view dialog_title = "lumaweave";
// The right-hand column (x 440..515) holds the controls added to the original layout.
inline constexpr int dialog_width_du = 525;
inline constexpr int dialog_height_du = 490;

// Every control of the dialog, in creation order (which is also the keyboard order).
std::span<const TemplateItem> dialog_template();

const TemplateItem* find_template_item(int id);

// Pixels of a rectangle given in dialog units. The layout was drawn for a font whose average
// character is 7 x 12 pixels: one unit is 7/4 pixel across and 12/8 pixel down. Edges are
// rounded to the nearest pixel, each on its own, as the dialog units of the layout's own
// platform are, so neighbouring controls never overlap or leave a gap by rounding.
struct PixelRect {
    int x, y, width, height;
    bool operator==(const PixelRect&) const = default;
};
inline constexpr int base_unit_x = 7;
inline constexpr int base_unit_y = 12;
PixelRect to_pixels(const DialogUnitRect& r);

}  // namespace lumaweave::app
