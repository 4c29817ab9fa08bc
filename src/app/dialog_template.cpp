#include "app/dialog_template.hpp"

#include <utility>
#include <vector>

#include "app/option_controls.hpp"

namespace lumaweave::app {

namespace {

// Option captions live in the option mapping, next to the values the controls store.
std::string_view option_caption(int id) {
    const OptionControl* control = find_option_control(id);
    return control ? control->caption : std::string_view();
}

class Builder {
  public:
    void add(int id, ItemKind kind, std::string_view caption, DialogUnitRect r,
             std::string_view tooltip = {}) {
        items_.push_back({id, kind, caption, r, false, tooltip});
    }
    // A group box; the next radio button starts a new exclusive group.
    void group(std::string_view caption, DialogUnitRect r) {
        add(-1, ItemKind::group_box, caption, r);
        group_open_ = true;
    }
    void radio(int id, DialogUnitRect r, std::string_view caption, std::string_view tooltip = {}) {
        items_.push_back({id, ItemKind::radio_button, caption, r, group_open_, tooltip});
        group_open_ = false;
    }
    void radio(int id, DialogUnitRect r) { radio(id, r, option_caption(id)); }
    void check(int id, DialogUnitRect r) { add(id, ItemKind::check_box, option_caption(id), r); }
    std::vector<TemplateItem> take() { return std::move(items_); }

  private:
    std::vector<TemplateItem> items_;
    bool group_open_ = false;
};

std::vector<TemplateItem> build() {
    Builder b;
    b.add(id_file_list, ItemKind::list_box, "", {20, 20, 350, 40},
          "The pictures to convert, dropped here or chosen with Open...; the first is shown");
    b.add(id_picture, ItemKind::picture, "", {20, 70, 293, 256},
          "The first picture as the MSX shows it, at twice its size");
    b.add(id_conversion, ItemKind::push_button, "Conversion", {20, 440, 50, 30},
          "Convert every listed picture and write its .S02 file beside it");
    b.add(id_end, ItemKind::push_button, "End", {275, 430, 45, 40},
          "Stop converting and close lumaweave");
    b.add(-1, ItemKind::static_text, "drop file(s) here", {21, 10, 310, 8});

    // "BMP Export" sets no conversion field; the batch reads it.
    b.group("BMP Export", {20, 340, 50, 40});
    b.radio(id_export_no, {30, 350, 30, 10}, "No", "Write only the .S02 file of each picture");
    b.radio(id_export_yes, {30, 365, 30, 10}, "Yes",
            "Also write TEST_<name>.bmp, the result at twice its size as the preview shows it");

    b.group("Vertical Error Ratio", {85, 340, 240, 30});
    for (int k = 0; k <= 8; ++k)
        b.radio(1005 + k, {95 + 25 * k, 353, 20, 10});

    b.group("Palette", {85, 430, 50, 40});
    b.radio(1014, {95, 440, 30, 10});
    b.radio(1015, {95, 455, 30, 10});

    b.group("Edge Calc", {150, 430, 50, 40});
    b.radio(1016, {160, 440, 30, 10});
    b.radio(1017, {160, 455, 30, 10});

    b.group("Color No.0", {215, 430, 50, 40});
    b.radio(1019, {225, 440, 30, 10});
    b.radio(1020, {225, 455, 35, 10});

    b.group("Dither Order", {85, 380, 50, 40});
    b.radio(1021, {95, 390, 35, 10});
    b.radio(1022, {95, 405, 35, 10});

    b.group("Horizontal Position Correction", {150, 390, 175, 30});
    for (int k = 0; k <= 7; ++k)
        b.radio(1023 + k, {160 + 20 * k, 403, k == 6 ? 19 : 20, 10});

    b.group("Brightness", {20, 390, 50, 40});
    b.radio(1031, {30, 400, 28, 10});
    b.radio(1032, {30, 415, 35, 10});

    b.check(1033, {240, 376, 40, 10});
    b.check(1034, {195, 376, 42, 10});
    b.check(1035, {150, 376, 40, 10});

    // The "Mitigation" box stands between the "0" and "1" buttons of "Hue" and takes no part
    // in the group: "1" joins the buttons before it.
    b.group("Hue", {320, 90, 25, 235});
    for (int k = 0; k <= 4; ++k)
        b.radio(1036 + k, {324, 105 + 20 * k, 20, 10});
    b.check(1041, {285, 376, 45, 10});
    for (int k = 0; k <= 5; ++k)
        b.radio(1042 + k, {324, 205 + 20 * k, 20, 10});

    b.group("Gamma", {355, 70, 30, 395});
    for (int k = 0; k <= 18; ++k)
        b.radio(1048 + k, {360, 85 + 20 * k, 20, 10});

    b.group("Index", {328, 340, 24, 100});
    for (int k = 0; k <= 3; ++k)
        b.check(1067 + k, {332, 355 + 20 * k, 15, 10});

    b.group("ColorD", {395, 70, 30, 395});
    for (int k = 0; k <= 18; ++k)
        b.radio(1071 + k, {400, 86 + 20 * k, 20, 10});

    b.check(1090, {332, 455, 20, 10});
    b.check(1091, {380, 5, 50, 10});
    b.check(1092, {380, 20, 40, 10});
    b.check(1093, {380, 35, 54, 10});
    b.check(1094, {380, 50, 50, 10});

    // Last in the keyboard order, so that the order of the controls above stays as it was.
    // Under "Conversion", in the free strip down to the dialog's bottom edge.
    b.add(id_auto, ItemKind::push_button, "Auto", {20, 472, 50, 16},
          "Search the options that bring the first picture closest to its source, and set them");

    // The column at the right: pictures of any format and size.
    b.add(id_open, ItemKind::push_button, "Open...", {440, 10, 75, 16},
          "Choose pictures to convert: BMP, PNG, JPEG, GIF, WebP or TIFF");
    b.group("Framing", {440, 32, 75, 72});
    b.radio(id_framing_none, {448, 44, 60, 10}, "None",
            "Convert each picture as it is: at most 256 x 192 pixels");
    b.radio(id_framing_fit, {448, 58, 60, 10}, "Fit",
            "Scale each picture to fit the 256 x 192 screen, keeping its shape; the rest is "
            "background");
    b.radio(id_framing_fill, {448, 72, 60, 10}, "Fill",
            "Scale each picture to cover the screen, keeping its shape; its middle is kept");
    b.radio(id_framing_pad, {448, 86, 60, 10}, "Pad",
            "Centre each picture unscaled on the screen; the rest is background");
    b.add(-1, ItemKind::static_text, "Background", {440, 112, 75, 8});
    b.add(id_background, ItemKind::colour_picker, "", {440, 122, 75, 24},
          "The colour of the padding, and the colour transparent pixels are laid over");
    // Level with "Conversion" at the bottom.
    b.add(id_show_on_msx, ItemKind::push_button, "Show on MSX", {440, 440, 75, 30},
          "Show the picture on an emulated MSX: opens it in openMSX as a cartridge (C-BIOS's "
          "MSX1, or its MSX2 for a picture made for an MSX2 palette)");
    return b.take();
}

// Rounds a * b / c to the nearest integer, halves away from zero (as the layout's platform
// maps dialog units).
int scale_rounded(int a, int b, int c) {
    const long long p = static_cast<long long>(a) * b;
    return static_cast<int>(p >= 0 ? (2 * p + c) / (2 * c) : -((-2 * p + c) / (2 * c)));
}

}  // namespace

std::span<const TemplateItem> dialog_template() {
    static const std::vector<TemplateItem> items = build();
    return items;
}

const TemplateItem* find_template_item(int id) {
    for (const TemplateItem& item : dialog_template()) {
        if (item.id == id) return &item;
    }
    return nullptr;
}

PixelRect to_pixels(const DialogUnitRect& r) {
    const int left = scale_rounded(r.x, base_unit_x, 4);
    const int top = scale_rounded(r.y, base_unit_y, 8);
    const int right = scale_rounded(r.x + r.width, base_unit_x, 4);
    const int bottom = scale_rounded(r.y + r.height, base_unit_y, 8);
    return {left, top, right - left, bottom - top};
}

}  // namespace lumaweave::app
