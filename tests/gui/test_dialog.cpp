// The real dialog, driven as a user would: real clicks and keys where the toolkit delivers them
// at once, drops through the dialog's drop target, and the screen read back.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dcmemory.h>
#include <wx/dnd.h>
#include <wx/listbox.h>
#include <wx/radiobut.h>

#include <filesystem>
#include <fstream>

#include "app/converter_dialog.hpp"
#include "app/dialog_template.hpp"
#include "convert/convert.hpp"
#include "io/messages.hpp"
#include "quality/auto_settings.hpp"
#include "support/gui_harness.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
using namespace lumaweave::app;
namespace fs = std::filesystem;

namespace {

using Picture = std::array<std::uint8_t, bmp_image_bytes>;

// A picture with detail in every block, so that options change the result.
std::vector<std::uint8_t> busy_picture(int w, int h, int seed) {
    return test::make_bmp(w, h, [seed](int x, int y) {
        return test::Color{static_cast<std::uint8_t>((x * 37 + y * 11 + seed * 70) & 0xFF),
                           static_cast<std::uint8_t>((y * 23 + (x ^ y) * 5 + seed * 30) & 0xFF),
                           static_cast<std::uint8_t>((x * y + seed * 90) & 0xFF)};
    });
}

// The preview a conversion of `path` with `settings` gives, computed apart from the dialog.
const Picture& reference_preview(const std::string& path, const ConversionSettings& settings) {
    static const auto conv = make_conversion();
    ScratchPool pool;
    const std::string message = convert_file(*conv, pool, path, settings, DefaultPalettes{});
    EXPECT_EQ(message, "") << path;
    return conv->preview;
}

// What a click stores, by the rules of each control, written out independently of the
// settings table: (field, value when selected or checked, value when clear).
struct Expected {
    std::int32_t ConversionSettings::*member;
    std::int32_t on, off;
};
Expected expected_for(int id) {
    using S = ConversionSettings;
    if (id >= 1005 && id <= 1013) return {&S::vertical_error_ratio, 1013 - id, 0};
    if (id == 1014 || id == 1015) return {&S::palette, id - 1013, 0};
    if (id == 1016 || id == 1017) return {&S::edge_calc, id - 1016, 0};
    if (id == 1019 || id == 1020) return {&S::color_no0, id - 1019, 0};
    if (id == 1021 || id == 1022) return {&S::dither_order, id - 1021, 0};
    if (id >= 1023 && id <= 1030) return {&S::horizontal_position_correction, id - 1023, 0};
    if (id == 1031 || id == 1032) return {&S::brightness, id - 1031, 0};
    if (id == 1033) return {&S::lumi_sort, 1, 0};
    if (id == 1034) return {&S::edge_emph, 1, 0};
    if (id == 1035) return {&S::optimization, 1, 0};
    if (id >= 1036 && id <= 1040) return {&S::hue, id - 1040, 0};
    if (id == 1041) return {&S::mitigation, 3, 1};
    if (id >= 1042 && id <= 1047) return {&S::hue, id - 1041, 0};
    if (id >= 1048 && id <= 1066) return {&S::gamma, 1056 - id, 0};
    if (id >= 1067 && id <= 1070) {
        std::int32_t S::*boxes[] = {&S::index_r, &S::index_g, &S::index_b, &S::index_0};
        return {boxes[id - 1067], 1, 0};
    }
    if (id >= 1071 && id <= 1089) return {&S::color_d, 1085 - id, 0};
    std::int32_t S::*boxes[] = {&S::sp, &S::block_noise, &S::mix, &S::col_reduction,
                                &S::dark_color};
    return {boxes[id - 1090], 1, 0};
}

class DialogTest : public ::testing::Test {
  protected:
    void SetUp() override { dialog = new ConverterDialog; }
    void TearDown() override {
        if (dialog != nullptr) dialog->Destroy();
        test::pump();
    }

    wxWindow& control(int id) {
        wxWindow* w = dialog->FindWindow(id);
        EXPECT_NE(w, nullptr) << id;
        return *w;
    }
    wxRadioButton& radio(int id) { return *wxStaticCast(&control(id), wxRadioButton); }
    wxCheckBox& check(int id) { return *wxStaticCast(&control(id), wxCheckBox); }
    bool selected(int id) {
        if (auto* r = dynamic_cast<wxRadioButton*>(&control(id))) return r->GetValue();
        return check(id).GetValue();
    }
    wxListBox& file_list() { return *wxStaticCast(&control(id_file_list), wxListBox); }

    std::string put(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        test::write_file(dir / name, bytes);
        return (dir / name).string();
    }

    // A drop as the toolkit delivers it: to the dialog's drop target.
    void drop(const std::vector<std::string>& names) {
        wxArrayString list;
        for (const std::string& n : names)
            list.Add(wxString::FromUTF8(n.c_str()));
        auto* target = dynamic_cast<wxFileDropTarget*>(dialog->GetDropTarget());
        ASSERT_NE(target, nullptr);
        EXPECT_EQ(target->OnDropFiles(10, 10, list), !dialog->batch().busy());
    }

    // A press of a push button, delivered as the toolkit's click event (used where the moment
    // of the click matters, inside a batch).
    void press(int id) {
        wxCommandEvent event(wxEVT_BUTTON, id);
        event.SetEventObject(&control(id));
        control(id).ProcessWindowEvent(event);
    }

    // A radio button selected as the toolkit reports a click on it, at once (used inside a
    // batch, where real input would arrive at a moment the test does not control).
    void select(int id) {
        radio(id).SetValue(true);
        wxCommandEvent event(wxEVT_RADIOBUTTON, id);
        event.SetEventObject(&control(id));
        event.SetInt(1);
        control(id).ProcessWindowEvent(event);
    }

    // Runs the dialog modally, as the program does, with the script running inside it. A
    // script that does not end the dialog has it ended with wxID_ABORT.
    int run_modal(std::function<void()> script) {
        dialog->CallAfter([this, script] {
            test::pump_until([this] { return dialog->IsShownOnScreen(); });
            test::pump(10);
            script();
            if (dialog->IsModal()) dialog->EndModal(wxID_ABORT);
        });
        return dialog->ShowModal();
    }

    const Picture& shown_preview() { return dialog->batch().conversion().preview; }

    test::ScratchDir dir;
    test::MessageBoxes boxes;
    ConverterDialog* dialog = nullptr;
};

// A fresh dialog: the start-up selection, nothing converted, black preview and "00%".
TEST_F(DialogTest, StartsWithTheInitialSelectionAndABlackPreview) {
    const std::set<int> on = {1003, 1005, 1014, 1017, 1019, 1022, 1023, 1032, 1040, 1056,
                              1085, 1033, 1035, 1041, 1070, 1090, 1091, 1092, 1093};
    for (const TemplateItem& item : dialog_template()) {
        if (item.kind != ItemKind::radio_button && item.kind != ItemKind::check_box) continue;
        EXPECT_EQ(selected(item.id), on.contains(item.id)) << item.id;
    }
    EXPECT_EQ(dialog->settings(), ConversionSettings{});
    EXPECT_EQ(dialog->GetTitle(), "lumaweave");
    EXPECT_TRUE(dialog->GetIcons().GetIcon(32).IsOk());
    EXPECT_FALSE(dialog->HasFlag(wxRESIZE_BORDER));
    EXPECT_EQ(dialog->GetClientSize(), dialog->FromDIP(wxSize(761, 735)));
    EXPECT_EQ(file_list().GetCount(), 0u);

    test::show_and_wait(*dialog);
    PreviewControl& picture = dialog->picture_control();
    EXPECT_EQ(picture.GetClientSize(), dialog->FromDIP(wxSize(513, 384)));
    EXPECT_EQ(picture.fit(), (PreviewFit{512, 384, 2}));
    const wxImage shown = test::screen_image(picture, wxRect(0, 0, 512, 384));
    for (int y = 0; y < 384; y += 7) {
        for (int x = 0; x < 512; x += 7) {
            ASSERT_EQ(shown.GetRed(x, y) | shown.GetGreen(x, y) | shown.GetBlue(x, y), 0)
                << x << "," << y;
        }
    }
    // The progress text stands 8 pixels right of the picture control, level with its top.
    EXPECT_EQ(dialog->percent_rect().GetTopLeft(),
              picture.GetPosition() + wxPoint(picture.GetSize().x + dialog->FromDIP(8), 0));
    const wxImage text = test::screen_image(*dialog, dialog->percent_rect());
    int dark = 0;
    for (int y = 0; y < text.GetHeight(); ++y)
        for (int x = 0; x < text.GetWidth(); ++x)
            dark += text.GetGreen(x, y) < 128;
    EXPECT_GT(dark, 10) << "no progress text drawn";
    EXPECT_TRUE(boxes.shown.empty());
}

// Before anything was dropped, an option click stores its value, shows black, and says nothing.
TEST_F(DialogTest, OptionClickWithoutFilesGivesBlackAndNoMessage) {
    test::show_and_wait(*dialog);
    test::click(control(1015));
    test::click(control(1036));
    EXPECT_EQ(dialog->settings().palette, 2);
    EXPECT_EQ(dialog->settings().hue, -4);
    EXPECT_TRUE(std::all_of(shown_preview().begin(), shown_preview().end(),
                            [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(boxes.shown.empty());
}

// Every option control, clicked with the pointer: it stores its value (check boxes both ways)
// and file 0 is converted again with the settings in force.
TEST_F(DialogTest, EveryOptionClickStoresItsValueAndConvertsFileZero) {
    const std::string file = put("p.bmp", busy_picture(32, 24, 1));
    drop({file});
    test::show_and_wait(*dialog);
    ConversionSettings expected;
    for (const TemplateItem& item : dialog_template()) {
        if (item.id < 1005) continue;
        const bool is_check = item.kind == ItemKind::check_box;
        if (item.kind != ItemKind::radio_button && !is_check) continue;
        const Expected e = expected_for(item.id);
        for (int round = 0; round < (is_check ? 2 : 1); ++round) {
            const bool was = selected(item.id);
            test::click(control(item.id));
            ASSERT_TRUE(test::pump_until([&] {
                return selected(item.id) == (is_check ? !was : true);
            })) << "control "
                << item.id << " did not take the click";
            test::pump(2);
            expected.*e.member = selected(item.id) ? e.on : e.off;
            ASSERT_EQ(dialog->settings(), expected) << "after a click on " << item.id;
            ASSERT_EQ(shown_preview(), reference_preview(file, expected))
                << "preview after a click on " << item.id;
        }
    }
    EXPECT_EQ(dialog->settings().mitigation, 3);
    EXPECT_TRUE(boxes.shown.empty());
}

// A click on the radio button that is already selected converts again: after the file has
// changed on disk, the preview shows the new picture.
TEST_F(DialogTest, ClickOnTheSelectedRadioButtonConvertsAgain) {
    const std::string file = put("p.bmp", busy_picture(32, 24, 1));
    drop({file});
    test::show_and_wait(*dialog);
    ASSERT_TRUE(radio(1040).GetValue());
    const Picture before = shown_preview();
    put("p.bmp", busy_picture(32, 24, 2));
    test::click(control(1040));
    ASSERT_TRUE(test::pump_until([&] { return shown_preview() != before; }))
        << "no conversion after clicking the selected button";
    EXPECT_EQ(shown_preview(), reference_preview(file, ConversionSettings{}));
    EXPECT_EQ(dialog->settings().hue, 0);

    // The keyboard's press of the focused, selected button does the same.
    put("p.bmp", busy_picture(32, 24, 3));
    radio(1040).SetFocus();
    test::pump(4);
    const Picture second = shown_preview();
    test::press_key(WXK_SPACE);
    ASSERT_TRUE(test::pump_until([&] { return shown_preview() != second; }));
    EXPECT_EQ(shown_preview(), reference_preview(file, ConversionSettings{}));
}

// "Optimizat" with "Lumi Sort" clear stores its value but converts nothing; the next
// conversion uses it.
TEST_F(DialogTest, OptimizatWaitsForTheNextConversionWhenLumiSortIsClear) {
    const std::string file = put("p.bmp", busy_picture(48, 32, 4));
    drop({file});
    test::show_and_wait(*dialog);
    test::click(control(1033));  // "Lumi Sort" clear: converts
    ASSERT_EQ(dialog->settings().lumi_sort, 0);
    const Picture before = shown_preview();
    put("p.bmp", busy_picture(48, 32, 5));  // a conversion now would show a new picture
    test::click(control(1035));
    ASSERT_TRUE(test::pump_until([&] { return dialog->settings().optimization == 0; }));
    test::pump(10);
    EXPECT_EQ(shown_preview(), before) << "\"Optimizat\" converted with \"Lumi Sort\" clear";

    test::click(control(1033));  // "Lumi Sort" checked again: converts with optimization 0
    ASSERT_TRUE(test::pump_until([&] { return dialog->settings().lumi_sort == 1; }));
    ConversionSettings expected;
    expected.optimization = 0;
    EXPECT_EQ(shown_preview(), reference_preview(file, expected));
    // The picture is one on which the option shows, so the old value would have been seen.
    EXPECT_NE(shown_preview(), reference_preview(file, ConversionSettings{}));
}

// A drop lists every name in order and shows file 0, at twice its size, on the screen.
TEST_F(DialogTest, DropListsTheNamesAndShowsFileZero) {
    const std::string a = put("a.BMP", busy_picture(64, 48, 6));
    const std::string b = put("b.txt", {'x'});
    const std::string c = put("c.bmp", busy_picture(16, 16, 7));
    test::show_and_wait(*dialog);
    drop({a, b, c});
    ASSERT_EQ(file_list().GetCount(), 3u);
    EXPECT_EQ(file_list().GetString(0).utf8_string(), a);
    EXPECT_EQ(file_list().GetString(1).utf8_string(), b);
    EXPECT_EQ(file_list().GetString(2).utf8_string(), c);
    EXPECT_EQ(shown_preview(), reference_preview(a, ConversionSettings{}));

    // The screen shows the preview pixel for pixel: sharp, at twice the picture's size.
    const Picture& p = shown_preview();
    wxImage shown;
    auto wrong_pixels = [&] {
        shown = test::screen_image(dialog->picture_control(),
                                   wxRect(0, 0, preview_width, preview_height));
        int wrong = 0;
        for (int y = 0; y < preview_height; ++y) {
            for (int x = 0; x < preview_width; ++x) {
                const std::uint8_t* bgr = p.data() + 54 + y * 1536 + x * 3;
                wrong += shown.GetRed(x, y) != bgr[2] || shown.GetGreen(x, y) != bgr[1] ||
                         shown.GetBlue(x, y) != bgr[0];
            }
        }
        return wrong;
    };
    EXPECT_TRUE(test::pump_until([&] { return wrong_pixels() == 0; }))
        << wrong_pixels() << " pixels on the screen differ from the preview";
    // The converted 64 x 48 picture fills the top-left 128 x 96 pixels, in 2 x 2 squares.
    EXPECT_EQ(shown.GetRed(0, 0), shown.GetRed(1, 1));

    // A second, smaller drop shows only its own names.
    drop({c});
    ASSERT_EQ(file_list().GetCount(), 1u);
    EXPECT_EQ(file_list().GetString(0).utf8_string(), c);
    EXPECT_TRUE(boxes.shown.empty());
}

// A file that cannot be converted shows black and no message.
TEST_F(DialogTest, UnconvertibleFileZeroShowsBlack) {
    drop({put("good.bmp", busy_picture(16, 16, 1))});
    ASSERT_NE(shown_preview(), Picture{});
    drop({put("bad.bmp", busy_picture(20, 16, 1))});  // width not a multiple of 8
    EXPECT_EQ(shown_preview(), Picture{});
    EXPECT_TRUE(boxes.shown.empty());
}

// "Conversion" writes the ".S02" of every ".bmp", and the "TEST_" picture when "BMP Export" is
// "Yes"; one message box reports the end.
TEST_F(DialogTest, ConversionWritesTheOutputs) {
    const std::string a = put("a.bmp", busy_picture(32, 16, 1));
    const std::string skipped = put("notes.txt", {'x'});
    const std::string b = put("b.bmp", busy_picture(16, 16, 2));
    drop({a, skipped, b});
    test::show_and_wait(*dialog);
    test::click(control(id_export_yes));
    ASSERT_TRUE(test::pump_until([&] { return radio(id_export_yes).GetValue(); }));
    EXPECT_EQ(dialog->settings(), ConversionSettings{}) << "\"BMP Export\" is no conversion option";
    test::click(control(id_conversion), 20);
    ASSERT_TRUE(test::pump_until([&] { return !boxes.shown.empty(); }));
    test::pump(4);
    ASSERT_EQ(boxes.messages(), std::vector<std::string>{msg::ended});
    EXPECT_EQ(boxes.shown[0].caption, "lumaweave");
    EXPECT_EQ(boxes.shown[0].style & (wxOK | wxCANCEL | wxYES_NO), wxOK);
    EXPECT_EQ(boxes.shown[0].style & wxICON_MASK, wxICON_NONE);

    for (const std::string& source : {a, b}) {
        auto conv = make_conversion();
        ScratchPool pool;
        ASSERT_EQ(convert_file(*conv, pool, source, ConversionSettings{}, DefaultPalettes{}), "");
        const std::string base = source.substr(0, source.size() - 4);
        const auto vram = test::read_file(base + ".S02");
        EXPECT_TRUE(std::equal(vram.begin(), vram.end(), conv->vram.begin(), conv->vram.end()))
            << base;
        const fs::path p(base);
        const auto exported =
            test::read_file(p.parent_path() / ("TEST_" + p.filename().string() + ".bmp"));
        ASSERT_GT(exported.size(), 54u);
        EXPECT_EQ(exported[18] | exported[19] << 8, 2 * conv->width);
    }
    EXPECT_FALSE(fs::exists(dir / "notes.S02"));
    EXPECT_EQ(dialog->batch().progress_percent(), 0);

    // With "No", only the ".S02" files.
    fs::remove(dir / "TEST_a.bmp");
    test::click(control(id_export_no));
    ASSERT_TRUE(test::pump_until([&] { return radio(id_export_no).GetValue(); }));
    test::click(control(id_conversion), 20);
    ASSERT_TRUE(test::pump_until([&] { return boxes.shown.size() == 2; }));
    EXPECT_FALSE(fs::exists(dir / "TEST_a.bmp"));
}

TEST_F(DialogTest, ConversionWithoutFilesAsksForOne) {
    press(id_conversion);
    EXPECT_EQ(boxes.messages(), std::vector<std::string>{msg::select_a_file});
}

// "Auto" lies under "Conversion" on the screen, clear of every other control and inside the
// dialog, whatever height the toolkit's theme gives buttons.
TEST_F(DialogTest, AutoButtonOverlapsNothing) {
    test::show_and_wait(*dialog);
    const wxRect button = control(id_auto).GetRect();
    EXPECT_TRUE(wxRect(dialog->GetClientSize()).Contains(button));
    for (wxWindow* child : dialog->GetChildren()) {
        if (child == &control(id_auto)) continue;
        EXPECT_FALSE(child->GetRect().Intersects(button))
            << "\"Auto\" overlaps control " << child->GetId() << " \""
            << child->GetLabel().utf8_string() << "\"";
    }
    const wxRect conversion = control(id_conversion).GetRect();
    EXPECT_GE(button.GetTop(), conversion.GetBottom());
    EXPECT_EQ(button.GetLeft(), conversion.GetLeft());
    EXPECT_EQ(control(id_auto).GetLabel(), "Auto");
}

// "Auto" searches file 0 from the settings in force and applies what the search chooses: the
// record, every option control and the preview, with the palette and the position correction
// left as the user set them. Later clicks go on from there.
TEST_F(DialogTest, AutoAppliesTheChosenSettings) {
    const std::string file = put("p.bmp", busy_picture(64, 48, 3));
    drop({file});
    test::show_and_wait(*dialog);
    test::click(control(1015));  // "MSX2"
    test::click(control(1026));  // position correction 3
    ConversionSettings start;
    start.palette = 2;
    start.horizontal_position_correction = 3;
    ASSERT_TRUE(test::pump_until([&] { return dialog->settings() == start; }));

    const quality::SearchResult expected = quality::choose_settings(file, start, DefaultPalettes{});
    ASSERT_EQ(expected.message, "");
    // A picture on which the search leaves the start, so that a button doing nothing shows.
    ASSERT_NE(expected.chosen, start);
    ASSERT_EQ(expected.chosen.palette, 2);
    ASSERT_EQ(expected.chosen.horizontal_position_correction, 3);

    test::click(control(id_auto), 20);
    ASSERT_TRUE(test::pump_until([&] { return dialog->settings() != start; }))
        << "\"Auto\" changed nothing";
    test::pump(4);
    EXPECT_EQ(dialog->settings(), expected.chosen);
    for (const TemplateItem& item : dialog_template()) {
        if (item.id < 1005) continue;
        if (item.kind != ItemKind::radio_button && item.kind != ItemKind::check_box) continue;
        const Expected e = expected_for(item.id);
        EXPECT_EQ(selected(item.id), expected.chosen.*e.member == e.on) << item.id;
    }
    EXPECT_EQ(shown_preview(), reference_preview(file, expected.chosen));
    EXPECT_TRUE(boxes.shown.empty());

    // The controls and the record agree: a click on "Edge Emph" turns the shown state over.
    const bool emphasised = selected(1034);
    test::click(control(1034));
    ASSERT_TRUE(test::pump_until([&] { return selected(1034) != emphasised; }));
    ConversionSettings after = expected.chosen;
    after.edge_emph = emphasised ? 0 : 1;
    EXPECT_EQ(dialog->settings(), after);
    EXPECT_EQ(shown_preview(), reference_preview(file, after));
}

// Without a file, or with a file 0 the conversion refuses, "Auto" changes nothing and says
// nothing.
TEST_F(DialogTest, AutoWithoutAConvertibleFileDoesNothing) {
    test::show_and_wait(*dialog);
    test::click(control(id_auto), 20);
    test::pump(4);
    EXPECT_EQ(dialog->settings(), ConversionSettings{});
    EXPECT_EQ(shown_preview(), Picture{});

    drop({put("bad.bmp", busy_picture(20, 16, 1))});  // width not a multiple of 8
    test::click(control(id_auto), 20);
    test::pump(4);
    EXPECT_EQ(dialog->settings(), ConversionSettings{});
    EXPECT_EQ(shown_preview(), Picture{});
    EXPECT_TRUE(selected(1040));
    EXPECT_TRUE(boxes.shown.empty());
}

// Three files, each a little later in the batch: files and the dialog's state after each.
class BatchTest : public DialogTest {
  protected:
    void SetUp() override {
        DialogTest::SetUp();
        for (int i = 0; i < 3; ++i) {
            files.push_back(put(numbered(i, ".bmp"), busy_picture(64, 48, i)));
        }
        drop(files);
    }
    bool written(int i) { return fs::exists(dir / numbered(i, ".S02")); }
    static std::string numbered(int i, const char* extension) {
        std::string name = "f0";
        name[1] = static_cast<char>('0' + i);
        return name.append(extension);
    }
    // Nothing but the sources and complete outputs in the folder: no half-written file.
    void expect_only_complete_outputs() {
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            const std::string name = entry.path().filename().string();
            if (entry.path().extension() == ".S02") {
                EXPECT_EQ(fs::file_size(entry.path()), 14343u) << name;
            } else {
                EXPECT_EQ(entry.path().extension(), ".bmp") << "left behind: " << name;
            }
        }
    }
    std::vector<std::string> files;
};

// "End" in the middle of a batch: the batch stops before its next file, one message says so,
// and the dialog ends with OK.
TEST_F(BatchTest, EndStopsBeforeTheNextFile) {
    const int rc = run_modal([this] {
        // Handled when the batch lets the dialog process its events after file 0.
        dialog->CallAfter([this] { press(id_end); });
        press(id_conversion);
    });
    EXPECT_EQ(rc, wxID_OK);
    EXPECT_EQ(boxes.messages(), std::vector<std::string>{msg::stopped});
    EXPECT_TRUE(written(0));
    EXPECT_FALSE(written(1));
    EXPECT_FALSE(written(2));
    EXPECT_FALSE(dialog->batch().busy());
    expect_only_complete_outputs();
}

// Closing the window mid-batch does the same, as cancelled.
TEST_F(BatchTest, ClosingTheWindowStopsBeforeTheNextFile) {
    const int rc = run_modal([this] {
        dialog->CallAfter([this] { dialog->Close(); });
        press(id_conversion);
    });
    EXPECT_EQ(rc, wxID_CANCEL);
    EXPECT_EQ(boxes.messages(), std::vector<std::string>{msg::stopped});
    EXPECT_TRUE(written(0));
    EXPECT_FALSE(written(1));
    expect_only_complete_outputs();
}

// Destroying the window mid-batch stops the batch and destroys the window once it is over.
TEST_F(BatchTest, DestroyingTheWindowMidBatchStopsItSafely) {
    test::show_and_wait(*dialog);
    bool destroyed = false;
    dialog->Bind(wxEVT_DESTROY, [&](wxWindowDestroyEvent& e) {
        if (e.GetEventObject() == dialog) destroyed = true;
        e.Skip();
    });
    dialog->CallAfter([this] { dialog->Destroy(); });
    press(id_conversion);
    EXPECT_EQ(boxes.messages(), std::vector<std::string>{msg::stopped});
    EXPECT_TRUE(written(0));
    EXPECT_FALSE(written(1));
    ASSERT_TRUE(test::pump_until([&] { return destroyed; }));
    dialog = nullptr;
    expect_only_complete_outputs();
}

// Escape ends the dialog but lets a running batch finish its files.
TEST_F(BatchTest, EscapeDuringABatchLetsItFinish) {
    const int rc = run_modal([this] {
        dialog->CallAfter([this] {
            wxKeyEvent key(wxEVT_CHAR_HOOK);
            key.m_keyCode = WXK_ESCAPE;
            dialog->ProcessWindowEvent(key);
        });
        press(id_conversion);
    });
    EXPECT_EQ(rc, wxID_CANCEL);
    EXPECT_EQ(boxes.messages(), std::vector<std::string>{msg::ended});
    EXPECT_TRUE(written(0) && written(1) && written(2));
}

// Between files the dialog handles options (which apply to the files not yet converted),
// ignores drops and a second "Conversion", and shows the progress.
TEST_F(BatchTest, EventsBetweenFiles) {
    test::show_and_wait(*dialog);
    std::vector<int> progress;
    // The batch's event processing ends with idle time: look at the dialog then.
    dialog->Bind(wxEVT_IDLE, [&](wxIdleEvent& e) {
        e.Skip();
        const int now = dialog->batch().progress_percent();
        if (dialog->batch().busy() && (progress.empty() || progress.back() != now)) {
            progress.push_back(now);
        }
    });
    const std::string other = put("other.bmp", busy_picture(16, 16, 9));
    dialog->CallAfter([&] {
        select(1015);          // "MSX2" after file 0
        drop({other});         // refused: a batch runs
        press(id_conversion);  // ignored
    });
    press(id_conversion);

    EXPECT_EQ(boxes.messages(), std::vector<std::string>{msg::ended});
    EXPECT_EQ(progress, (std::vector<int>{0, 33, 66}));
    EXPECT_EQ(dialog->batch().progress_percent(), 0);
    ASSERT_EQ(file_list().GetCount(), 3u) << "a drop was taken during the batch";
    EXPECT_EQ(dialog->batch().file_count(), 3);
    // File 0 was converted with MSX1, files 1 and 2 with MSX2.
    ConversionSettings msx2;
    msx2.palette = 2;
    auto vram_of = [&](int i, const ConversionSettings& s) {
        auto conv = make_conversion();
        ScratchPool pool;
        EXPECT_EQ(convert_file(*conv, pool, files[i], s, DefaultPalettes{}), "");
        return std::vector<std::uint8_t>(conv->vram.begin(), conv->vram.end());
    };
    EXPECT_EQ(test::read_file(dir / "f0.S02"), vram_of(0, ConversionSettings{}));
    EXPECT_EQ(test::read_file(dir / "f1.S02"), vram_of(1, msx2));
    EXPECT_EQ(test::read_file(dir / "f2.S02"), vram_of(2, msx2));
}

// "Auto" between two files of a batch is ignored: the files not yet converted keep the settings
// in force.
TEST_F(BatchTest, AutoDuringABatchIsIgnored) {
    test::show_and_wait(*dialog);
    bool during_batch = false;
    dialog->CallAfter([&] {
        during_batch = dialog->batch().busy();
        press(id_auto);
    });
    press(id_conversion);
    EXPECT_TRUE(during_batch);
    EXPECT_EQ(boxes.messages(), std::vector<std::string>{msg::ended});
    EXPECT_EQ(dialog->settings(), ConversionSettings{});
    EXPECT_TRUE(written(0) && written(1) && written(2));
}

// Escape and Enter end an idle dialog, as cancelled and as OK; "End" as OK.
TEST_F(DialogTest, KeysAndEndCloseTheIdleDialog) {
    EXPECT_EQ(run_modal([] { test::press_key(WXK_ESCAPE); }), wxID_CANCEL);
    EXPECT_EQ(run_modal([this] {
                  radio(1014).SetFocus();
                  test::pump(4);
                  test::press_key(WXK_RETURN);
              }),
              wxID_OK);
    EXPECT_EQ(run_modal([this] { test::click(control(id_end), 20); }), wxID_OK);
    EXPECT_TRUE(boxes.shown.empty());
}

// A configuration file that is present but incomplete: its message, then the end.
TEST_F(DialogTest, IncompleteConfigurationEndsTheProgram) {
    std::ofstream(dir / "lumaweave_config.txt") << "* MSX1 palette\n0,0,0  1,1,1\n";
    const fs::path here = fs::current_path();
    fs::current_path(dir.path());
    const int rc = dialog->run();
    fs::current_path(here);
    EXPECT_EQ(rc, wxID_OK);
    EXPECT_EQ(boxes.messages(),
              std::vector<std::string>{std::string(msg::config_not_enough) + "* MSX1 palette"});
    EXPECT_FALSE(dialog->IsShown());
}

// A complete configuration replaces the palette the conversion uses.
TEST_F(DialogTest, CompleteConfigurationReplacesThePalette) {
    std::ofstream config(dir / "lumaweave_config.txt");
    config << "* MSX1 palette\n";
    for (int i = 0; i < 48; ++i)
        config << (i % 3 == 0 ? 7 : 0) << ' ';  // all red
    config << "\n* MSX2 palette\n";
    for (int i = 0; i < 48; ++i)
        config << 3 << ' ';
    config.close();
    EXPECT_TRUE(dialog->load_configuration((dir / "lumaweave_config.txt").string()));
    drop({put("p.bmp", busy_picture(16, 16, 1))});
    const Picture& p = shown_preview();
    EXPECT_EQ(p[54 + 0], 0);    // blue
    EXPECT_EQ(p[54 + 1], 0);    // green
    EXPECT_EQ(p[54 + 2], 255);  // red
    EXPECT_TRUE(boxes.shown.empty());
}

}  // namespace

namespace {

// The progress text replaces the old one: nothing of "88%" stays under "00%" or "11%".
TEST(PercentText, ReplacesThePreviousText) {
    const wxRect area(2, 1, 40, 18);
    auto draw = [&](std::initializer_list<int> values) {
        wxBitmap bitmap(48, 22, 24);
        wxMemoryDC dc(bitmap);
        dc.SetBackground(*wxWHITE_BRUSH);
        dc.Clear();
        dc.SetFont(*wxNORMAL_FONT);
        PercentText text;
        for (int v : values)
            text.draw(dc, area, v, *wxBLACK, *wxWHITE);
        dc.SelectObject(wxNullBitmap);
        const wxImage image = bitmap.ConvertToImage();
        return std::vector<unsigned char>(image.GetData(), image.GetData() + 48 * 22 * 3);
    };
    EXPECT_EQ(draw({88, 0}), draw({0}));
    EXPECT_EQ(draw({88, 11}), draw({11}));
    EXPECT_NE(draw({88}), draw({0}));
}

}  // namespace
