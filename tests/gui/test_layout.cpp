// The dialog's layout data and the preview geometry, without a window.
#include <gtest/gtest.h>

#include <map>

#include "app/dialog_template.hpp"
#include "app/preview_geometry.hpp"
#include "convert/settings.hpp"

using namespace lumaweave;
using namespace lumaweave::app;

static bool inside(const DialogUnitRect& a, const DialogUnitRect& b) {
    return a.x >= b.x && a.y >= b.y && a.x + a.width <= b.x + b.width &&
           a.y + a.height <= b.y + b.height;
}

// Option ids 1005-1094 (1018 is the picture) are each one control of its field's kind; a radio
// group is a run of buttons inside one group box setting one field ("BMP Export": none); all lie
// inside the dialog. (That no two overlap, the dialog test sees on the screen.)
TEST(DialogTemplate, ControlsMatchTheSettingsAndMapToPixels) {
    std::map<int, int> count;
    std::vector<const SettingField*> group_fields;
    const DialogUnitRect *box = nullptr, *group_box = nullptr;
    for (const TemplateItem& item : dialog_template()) {
        ++count[item.id];
        EXPECT_TRUE(inside(item.rect, {0, 0, dialog_width_du, dialog_height_du})) << item.id;
        if (item.kind == ItemKind::group_box) box = &item.rect;
        if (item.kind != ItemKind::radio_button) continue;
        const auto target = find_control(item.id);
        if (item.group_start) {
            group_fields.push_back(target ? target->field : nullptr);
            group_box = box;
        }
        ASSERT_FALSE(group_fields.empty());
        EXPECT_EQ(target ? target->field : nullptr, group_fields.back()) << item.id;
        EXPECT_TRUE(inside(item.rect, *group_box)) << item.id << " lies outside its group box";
    }
    for (int id = 1005; id <= 1094; ++id) {
        EXPECT_EQ(count[id], 1) << id;
        if (id == id_picture) continue;
        const auto target = find_control(id);
        ASSERT_TRUE(target) << id;
        const bool check = target->field->kind == ControlKind::check_box;
        EXPECT_EQ(find_template_item(id)->kind,
                  check ? ItemKind::check_box : ItemKind::radio_button);
    }
    EXPECT_EQ(count[id_auto], 1);
    EXPECT_FALSE(find_control(id_auto).has_value());
    EXPECT_EQ(group_fields.size(), 11u);  // "BMP Export" and ten option groups
    EXPECT_EQ(group_fields[0], nullptr);
    // One dialog unit is 7/4 pixel across and 12/8 down, each edge rounded on its own, so that
    // touching rectangles stay touching.
    EXPECT_EQ(to_pixels({0, 0, dialog_width_du, dialog_height_du}), (PixelRect{0, 0, 761, 735}));
    EXPECT_EQ(to_pixels(find_template_item(id_picture)->rect), (PixelRect{35, 105, 513, 384}));
    const PixelRect a = to_pixels({1, 1, 1, 1}), b = to_pixels({2, 2, 1, 1});
    EXPECT_TRUE(a.x + a.width == b.x && a.y + a.height == b.y);
}

TEST(PreviewGeometry, SnapsToMultiplesOfTheScreenAndWritesTwoDigits) {
    EXPECT_EQ(snap_preview(513, 384), (PreviewFit{512, 384, 2}));
    EXPECT_EQ(snap_preview(512, 384), (PreviewFit{512, 384, 2}));
    EXPECT_EQ(snap_preview(510, 385), (PreviewFit{512, 384, 2}));
    EXPECT_EQ(snap_preview(600, 450), (PreviewFit{600, 450, 2}));
    EXPECT_EQ(snap_preview(512, 576), (PreviewFit{512, 576, 3}));
    EXPECT_EQ(snap_preview(259, 192), (PreviewFit{259, 192, 1}));  // a pixel beyond the tolerance
    EXPECT_EQ(percent_gap(snap_preview(512, 576)), 12);
    for (const auto& [value, text] : {std::pair{0, "00%"}, {7, "07%"}, {33, "33%"}, {99, "99%"}})
        EXPECT_STREQ(percent_text(value).data(), text);
}
