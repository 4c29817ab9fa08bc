// The dialog's layout data and the preview geometry, without a window.
#include <gtest/gtest.h>

#include "app/dialog_template.hpp"
#include "app/preview_geometry.hpp"

using namespace lumaweave::app;

static bool inside(const DialogUnitRect& a, const DialogUnitRect& b) {
    return a.x >= b.x && a.y >= b.y && a.x + a.width <= b.x + b.width &&
           a.y + a.height <= b.y + b.height;
}

// Every control lies inside the dialog, and each radio button inside the group box that opens
// its group. (Ids, kinds, the radio groups and that no two controls overlap, the dialog test
// sees on the screen.)
TEST(DialogTemplate, ControlsLieInsideTheirBoxesAndMapToPixels) {
    const DialogUnitRect *box = nullptr, *group_box = nullptr;
    for (const TemplateItem& item : dialog_template()) {
        EXPECT_TRUE(inside(item.rect, {0, 0, dialog_width_du, dialog_height_du})) << item.id;
        if (item.kind == ItemKind::group_box) box = &item.rect;
        if (item.kind != ItemKind::radio_button) continue;
        if (item.group_start) group_box = box;
        ASSERT_NE(group_box, nullptr) << item.id;
        EXPECT_TRUE(inside(item.rect, *group_box)) << item.id << " lies outside its group box";
    }
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
