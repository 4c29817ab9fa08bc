// The dialog's layout data and the preview geometry, without a window.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "app/dialog_template.hpp"
#include "app/option_controls.hpp"
#include "app/preview_geometry.hpp"

using namespace lumaweave;
using namespace lumaweave::app;

// One dialog unit is 7/4 pixel across and 12/8 down, each edge rounded on its own, so that
// touching rectangles stay touching. (That no two controls overlap the dialog test sees on the
// screen.)
TEST(DialogTemplate, DialogUnitsMapToPixels) {
    EXPECT_EQ(to_pixels({0, 0, dialog_width_du, dialog_height_du}), (PixelRect{0, 0, 919, 735}));
    EXPECT_EQ(to_pixels(find_template_item(id_picture)->rect), (PixelRect{35, 105, 513, 384}));
    const PixelRect a = to_pixels({1, 1, 1, 1}), b = to_pixels({2, 2, 1, 1});
    EXPECT_TRUE(a.x + a.width == b.x && a.y + a.height == b.y);
}

// The option controls store every value of every field exactly once: a field's radio buttons one
// value each, or its check box "on" when checked and "off" when clear. Each lies in the layout as
// a control of its kind with its caption, and a field's radio buttons form one exclusive group
// of their own.
TEST(OptionControls, CoverEveryValueOfEveryFieldOnceAndLieInTheLayout) {
    std::map<int, int> group_of;  // radio button id -> its group's number in the layout
    int groups = 0, option_items = 0;
    for (const TemplateItem& item : dialog_template()) {
        groups += item.kind == ItemKind::radio_button && item.group_start;
        if (item.kind == ItemKind::radio_button) group_of[item.id] = groups;
        // "BMP Export" and "Framing" set no conversion field.
        if (item.kind == ItemKind::check_box || item.kind == ItemKind::radio_button)
            option_items += item.id != id_export_no && item.id != id_export_yes &&
                            (item.id < id_framing_none || item.id > id_framing_pad);
    }
    EXPECT_EQ(option_items, static_cast<int>(option_controls().size()));
    std::map<int, const SettingField*> group_field;
    for (const SettingField& field : setting_fields()) {
        SCOPED_TRACE(field.name);
        EXPECT_TRUE(field.accepts(initial_value(field)));
        const std::vector<const OptionControl*> controls = controls_of(field);
        ASSERT_FALSE(controls.empty());
        std::vector<std::int32_t> stored;
        for (const OptionControl* c : controls) {
            EXPECT_EQ(&c->field(), &field) << c->id;
            EXPECT_TRUE(field.accepts(c->value)) << c->id;
            stored.push_back(c->value);
            const TemplateItem* item = find_template_item(c->id);
            ASSERT_NE(item, nullptr) << c->id;
            EXPECT_EQ(item->caption, c->caption) << c->id;
            if (c->kind == OptionKind::check_box) {
                EXPECT_EQ(item->kind, ItemKind::check_box) << c->id;
                EXPECT_EQ(controls.size(), 1u) << "a check box and other controls";
                EXPECT_EQ(field.value_name(c->value), "on") << c->id;
                EXPECT_EQ(field.value_name(c->clear_value()), "off") << c->id;
                stored.push_back(c->clear_value());
            } else {
                ASSERT_EQ(item->kind, ItemKind::radio_button) << c->id;
                const SettingField*& owner = group_field[group_of[c->id]];
                EXPECT_TRUE(owner == nullptr || owner == &field) << c->id << " joins a group";
                owner = &field;
                EXPECT_EQ(group_of[c->id], group_of[controls.front()->id]) << c->id;
            }
        }
        std::sort(stored.begin(), stored.end());
        EXPECT_EQ(stored, field.values());
    }
}

// The template keeps its place; what later features add lies in one column at its right, x 440
// to 515, within the dialog's height. Every control says what it does in one line.
TEST(DialogTemplate, NewControlsLieInTheRightColumnAndEveryControlHasATooltip) {
    std::vector<const TemplateItem*> column;
    for (const TemplateItem& item : dialog_template()) {
        const DialogUnitRect& r = item.rect;
        EXPECT_LE(r.x + r.width, dialog_width_du) << item.id;
        EXPECT_LE(r.y + r.height, dialog_height_du) << item.id;
        const bool picture_control = (item.id >= id_open && item.id <= id_background) ||
                                     item.caption == "Background" || item.caption == "Framing";
        if (r.x >= 440) {
            // The added column; the controls for reading pictures in its top part.
            EXPECT_LE(r.x + r.width, 515) << item.id;
            if (picture_control) {
                EXPECT_TRUE(r.y >= 10 && r.y + r.height <= 200) << item.id;
            }
            column.push_back(&item);
        } else {
            EXPECT_FALSE(picture_control) << item.id;
            EXPECT_LE(r.x + r.width, 435) << item.id;
        }
        const bool label = item.kind == ItemKind::static_text || item.kind == ItemKind::group_box;
        const OptionControl* option = find_option_control(item.id);
        if (!label && !option) {
            EXPECT_FALSE(item.tooltip.empty()) << item.id << " " << item.caption;
            EXPECT_EQ(item.tooltip.find('\n'), std::string_view::npos) << item.id;
        }
    }
    // Controls of the column never overlap, except those inside their group box.
    for (const TemplateItem* a : column) {
        for (const TemplateItem* b : column) {
            if (a >= b || a->kind == ItemKind::group_box || b->kind == ItemKind::group_box)
                continue;
            const DialogUnitRect &p = a->rect, &q = b->rect;
            const bool apart = p.y + p.height <= q.y || q.y + q.height <= p.y ||
                               p.x + p.width <= q.x || q.x + q.width <= p.x;
            EXPECT_TRUE(apart) << a->id << " and " << b->id;
        }
    }
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
