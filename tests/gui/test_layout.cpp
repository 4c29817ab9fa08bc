// The dialog's layout data and the preview geometry, without a window.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "app/dialog_template.hpp"
#include "app/preview_geometry.hpp"
#include "convert/settings.hpp"

using namespace lumaweave;
using namespace lumaweave::app;

namespace {

bool inside(const DialogUnitRect& inner, const DialogUnitRect& outer) {
    return inner.x >= outer.x && inner.y >= outer.y &&
           inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

}  // namespace

// Every option control of the settings is in the layout once, with the settings' caption, and
// the layout has no option control the settings do not know; 1018 is the picture.
TEST(DialogTemplate, HoldsEveryOptionControlOnce) {
    std::multiset<int> ids;
    for (const TemplateItem& item : dialog_template()) {
        if (item.id >= 1005) ids.insert(item.id);
    }
    for (int id = 1005; id <= 1094; ++id) {
        EXPECT_EQ(ids.count(id), 1u) << id;
        if (id == id_picture) continue;
        const auto target = find_control(id);
        ASSERT_TRUE(target.has_value()) << id;
        const TemplateItem* item = find_template_item(id);
        const bool check = target->field->kind == ControlKind::check_box;
        EXPECT_EQ(item->kind, check ? ItemKind::check_box : ItemKind::radio_button) << id;
    }
    EXPECT_EQ(find_template_item(1033)->caption, "Lumi Sort");
    EXPECT_EQ(find_template_item(1005)->caption, "８");
    EXPECT_EQ(find_template_item(1013)->caption, "０");
    EXPECT_EQ(find_template_item(1066)->caption, "-10");
    EXPECT_EQ(find_template_item(1041)->caption, "Mitigation");
}

// Radio groups: each group is the run of buttons under one group box, all setting one field,
// whatever check boxes stand between them ("Mitigation" inside "Hue"); "BMP Export" is its own.
TEST(DialogTemplate, RadioGroupsSetOneFieldEach) {
    std::map<int, const SettingField*> group_field;  // group number -> field
    int group = -1;
    const DialogUnitRect* box = nullptr;
    const DialogUnitRect* group_box = nullptr;
    for (const TemplateItem& item : dialog_template()) {
        if (item.kind == ItemKind::group_box) box = &item.rect;
        if (item.kind != ItemKind::radio_button) continue;
        if (item.group_start) {
            ++group;
            group_box = box;
        }
        ASSERT_GE(group, 0);
        EXPECT_TRUE(inside(item.rect, *group_box)) << item.id << " lies outside its group box";
        const auto target = find_control(item.id);
        const SettingField* field = target ? target->field : nullptr;
        if (!group_field.contains(group)) group_field[group] = field;
        EXPECT_EQ(group_field[group], field) << item.id << " joins a group of another field";
    }
    EXPECT_EQ(group_field.size(), 11u);  // "BMP Export" and ten option groups
    EXPECT_EQ(group_field.at(0), nullptr);
    EXPECT_FALSE(find_template_item(1042)->group_start);
}

// "Auto" is the one control beyond the option ids: inside the dialog, clear of every other
// control's rectangle, and with an id no other control has.
TEST(DialogTemplate, AutoButtonStandsApart) {
    const TemplateItem* button = find_template_item(id_auto);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->kind, ItemKind::push_button);
    EXPECT_FALSE(find_control(id_auto).has_value());
    EXPECT_TRUE(inside(button->rect, {0, 0, dialog_width_du, dialog_height_du}));
    int seen = 0;
    for (const TemplateItem& item : dialog_template()) {
        if (item.id == id_auto) {
            ++seen;
            continue;
        }
        const DialogUnitRect& a = item.rect;
        const DialogUnitRect& b = button->rect;
        const bool apart = a.x + a.width <= b.x || b.x + b.width <= a.x || a.y + a.height <= b.y ||
                           b.y + b.height <= a.y;
        EXPECT_TRUE(apart) << "\"Auto\" overlaps " << item.id << " \"" << item.caption << "\"";
    }
    EXPECT_EQ(seen, 1);
}

// The layout's units are 7/4 pixel across and 12/8 pixel down: the dialog is 761 x 735 and the
// picture control 513 x 384, which the preview snaps to 512 x 384.
TEST(DialogTemplate, DialogUnitsMapToThePixelsTheLayoutWasDrawnFor) {
    EXPECT_EQ(to_pixels({0, 0, dialog_width_du, dialog_height_du}), (PixelRect{0, 0, 761, 735}));
    const PixelRect picture = to_pixels(find_template_item(id_picture)->rect);
    EXPECT_EQ(picture, (PixelRect{35, 105, 513, 384}));
    EXPECT_EQ(snap_preview(picture.width, picture.height), (PreviewFit{512, 384, 2}));
    // Edges are rounded on their own: touching rectangles stay touching.
    const PixelRect a = to_pixels({1, 1, 1, 1});
    const PixelRect b = to_pixels({2, 2, 1, 1});
    EXPECT_EQ(a.x + a.width, b.x);
    EXPECT_EQ(a.y + a.height, b.y);
}

TEST(PreviewGeometry, SnapsToWholeMultiplesOfTheScreenSize) {
    EXPECT_EQ(snap_preview(512, 384), (PreviewFit{512, 384, 2}));
    EXPECT_EQ(snap_preview(510, 385), (PreviewFit{512, 384, 2}));
    EXPECT_EQ(snap_preview(600, 450), (PreviewFit{600, 450, 2}));
    EXPECT_EQ(snap_preview(512, 576), (PreviewFit{512, 576, 3}));
    EXPECT_EQ(percent_gap(snap_preview(512, 576)), 12);
    EXPECT_EQ(percent_gap(snap_preview(512, 384)), 8);
    // One pixel beyond the tolerance is drawn as it is.
    EXPECT_EQ(snap_preview(256 + 3, 192), (PreviewFit{259, 192, 1}));
}

TEST(PreviewGeometry, PercentIsTwoDigits) {
    EXPECT_STREQ(percent_text(0).data(), "00%");
    EXPECT_STREQ(percent_text(7).data(), "07%");
    EXPECT_STREQ(percent_text(33).data(), "33%");
    EXPECT_STREQ(percent_text(99).data(), "99%");
}
