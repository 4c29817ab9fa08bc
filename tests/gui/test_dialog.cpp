// The real dialog, driven as a user would: real clicks and keys, drops through its drop target,
// and the screen read back.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dcmemory.h>
#include <wx/dnd.h>
#include <wx/listbox.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>

#include <filesystem>
#include <fstream>
#include <set>

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
using S = ConversionSettings;
using Picture = std::array<std::uint8_t, bmp_image_bytes>;
using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;

namespace {

// A picture with detail in every block, so that options change the result.
Bytes busy_picture(int w, int h, int seed) {
    return test::make_bmp(w, h, [seed](int x, int y) {
        return test::Color{static_cast<std::uint8_t>((x * 37 + y * 11 + seed * 70) & 0xFF),
                           static_cast<std::uint8_t>((y * 23 + (x ^ y) * 5 + seed * 30) & 0xFF),
                           static_cast<std::uint8_t>((x * y + seed * 90) & 0xFF)};
    });
}

// A conversion computed apart from the dialog (valid until the next call).
const Conversion& reference(const std::string& path, const S& settings) {
    static const auto conv = make_conversion();
    ScratchPool pool;
    EXPECT_EQ(convert_file(*conv, pool, path, settings, DefaultPalettes{}), "") << path;
    return *conv;
}

// What a click stores, written apart from the settings table: control `id` of first..last,
// selected or checked, sets `member` to value + step * (id - first); a cleared box sets `off`.
// A rule of one control is a check box.
struct Rule {
    int first, last;
    std::int32_t S::*member;
    int value, step, off = 0;
    int on(int id) const { return value + step * (id - first); }
};
// clang-format off
const Rule rules[] = {
    {1005, 1013, &S::vertical_error_ratio, 8, -1}, {1014, 1015, &S::palette, 1, 1},
    {1016, 1017, &S::edge_calc, 0, 1}, {1019, 1020, &S::color_no0, 0, 1},
    {1021, 1022, &S::dither_order, 0, 1}, {1023, 1030, &S::horizontal_position_correction, 0, 1},
    {1031, 1032, &S::brightness, 0, 1}, {1033, 1033, &S::lumi_sort, 1, 0},
    {1034, 1034, &S::edge_emph, 1, 0}, {1035, 1035, &S::optimization, 1, 0},
    {1036, 1040, &S::hue, -4, 1}, {1041, 1041, &S::mitigation, 3, 0, 1}, {1042, 1047, &S::hue, 1, 1},
    {1048, 1066, &S::gamma, 8, -1}, {1067, 1067, &S::index_r, 1, 0}, {1068, 1068, &S::index_g, 1, 0},
    {1069, 1069, &S::index_b, 1, 0}, {1070, 1070, &S::index_0, 1, 0}, {1071, 1089, &S::color_d, 14, -1},
    {1090, 1090, &S::sp, 1, 0}, {1091, 1091, &S::block_noise, 1, 0}, {1092, 1092, &S::mix, 1, 0},
    {1093, 1093, &S::col_reduction, 1, 0}, {1094, 1094, &S::dark_color, 1, 0}};
// clang-format on

class DialogTest : public ::testing::Test {
  protected:
    void TearDown() override {
        if (dialog != nullptr) dialog->Destroy();
        test::pump();
    }
    wxWindow& control(int id) { return *dialog->FindWindow(id); }
    bool selected(int id) {
        auto* radio = dynamic_cast<wxRadioButton*>(&control(id));
        return radio ? radio->GetValue() : wxStaticCast(&control(id), wxCheckBox)->GetValue();
    }
    // A real click; a radio button or check box must then show it (true when it does).
    bool click(int id) {
        if (dynamic_cast<wxButton*>(&control(id))) return test::click(control(id), 20), true;
        const bool want = dynamic_cast<wxRadioButton*>(&control(id)) || !selected(id);
        test::click(control(id));
        return test::pump_until([&] { return selected(id) == want; });
    }
    // A toolkit event handled at once, for moments inside a batch that real input cannot hit.
    void send(int id, wxEventType type = wxEVT_BUTTON) {
        if (type == wxEVT_RADIOBUTTON) wxStaticCast(&control(id), wxRadioButton)->SetValue(true);
        wxCommandEvent event(type, id);
        event.SetEventObject(&control(id));
        control(id).ProcessWindowEvent(event);
    }
    Strings listed() {
        const wxArrayString names = wxStaticCast(&control(id_file_list), wxListBox)->GetStrings();
        Strings list;
        for (const wxString& name : names)
            list.push_back(name.utf8_string());
        return list;
    }
    std::string put(const std::string& name, const Bytes& bytes) {
        test::write_file(dir / name, bytes);
        return (dir / name).string();
    }
    // A drop as the toolkit delivers it, to the dialog's drop target; refused during a batch.
    void drop(const Strings& names) {
        wxArrayString list;
        for (const std::string& n : names)
            list.Add(wxString::FromUTF8(n));
        auto* target = dynamic_cast<wxFileDropTarget*>(dialog->GetDropTarget());
        ASSERT_NE(target, nullptr);
        EXPECT_EQ(target->OnDropFiles(10, 10, list), !dialog->batch().busy());
    }
    // Runs the dialog modally, as the program does, with the script inside it.
    int run_modal(const std::function<void()>& script) {
        dialog->CallAfter([this, script] {
            test::pump_until([this] { return dialog->IsShownOnScreen(); });
            test::pump(10);
            script();
            if (dialog->IsModal()) dialog->EndModal(wxID_ABORT);
        });
        return dialog->ShowModal();
    }
    const Picture& preview() { return dialog->batch().conversion().preview; }
    // Pixels of the picture control on the screen that differ from the dialog's preview.
    int wrong_pixels() {
        const wxImage image =
            test::screen_image(dialog->picture_control(), {0, 0, preview_width, preview_height});
        const std::uint8_t *shown = image.GetData(), *bgr = preview().data() + 54;
        int wrong = 0;
        for (int i = 0; i < preview_width * preview_height; ++i, shown += 3, bgr += 3)
            wrong += shown[0] != bgr[2] || shown[1] != bgr[1] || shown[2] != bgr[0];
        return wrong;
    }

    test::ScratchDir dir;
    test::MessageBoxes boxes;
    ConverterDialog* dialog = new ConverterDialog;
};

// A fresh dialog: the start-up selection, the controls at their places, a black preview and the
// progress text. Before any drop an option click stores its value but shows nothing, "Auto" does
// nothing and "Conversion" asks for a file.
TEST_F(DialogTest, StartsUpAndWaitsForFiles) {
    const std::set<int> on = {1003, 1005, 1014, 1017, 1019, 1022, 1023, 1032, 1040, 1056,
                              1085, 1033, 1035, 1041, 1070, 1090, 1091, 1092, 1093};
    for (const TemplateItem& item : dialog_template()) {
        if (item.kind == ItemKind::radio_button || item.kind == ItemKind::check_box) {
            EXPECT_EQ(selected(item.id), on.contains(item.id)) << item.id;
        }
    }
    EXPECT_EQ(dialog->settings(), S{});
    EXPECT_EQ(dialog->GetTitle(), "lumaweave");
    EXPECT_TRUE(dialog->GetIcons().GetIcon(32).IsOk());
    EXPECT_FALSE(dialog->HasFlag(wxRESIZE_BORDER));
    EXPECT_EQ(dialog->GetClientSize(), dialog->FromDIP(wxSize(761, 735)));
    EXPECT_TRUE(listed().empty());

    test::show_and_wait(*dialog);
    // Each control at its place, grown (if at all) to the right and about its middle, and
    // overlapping nothing but the group box that holds it.
    for (const TemplateItem& item : dialog_template()) {
        if (item.id < id_conversion) continue;
        const PixelRect p = to_pixels(item.rect);
        const wxRect want(dialog->FromDIP(wxPoint(p.x, p.y)),
                          dialog->FromDIP(wxSize(p.width, p.height)));
        const wxRect got = control(item.id).GetRect();
        EXPECT_EQ(got.x, want.x) << item.id;
        EXPECT_GE(got.width, want.width) << item.id;
        EXPECT_NEAR(got.y + got.height / 2.0, want.y + want.height / 2.0, 1) << item.id;
        for (wxWindow* other : dialog->GetChildren()) {
            EXPECT_TRUE(other == &control(item.id) || other->IsKindOf(wxCLASSINFO(wxStaticBox)) ||
                        !other->GetRect().Intersects(got))
                << item.id << " overlaps \"" << other->GetLabel() << "\"";
        }
    }
    PreviewControl& picture = dialog->picture_control();
    EXPECT_EQ(picture.GetClientSize(), dialog->FromDIP(wxSize(513, 384)));
    EXPECT_EQ(picture.fit(), (PreviewFit{512, 384, 2}));
    EXPECT_EQ(wrong_pixels(), 0) << "preview not black";
    // "00%" 8 pixels right of the picture, level with its top.
    EXPECT_EQ(dialog->percent_rect().GetTopLeft(),
              picture.GetPosition() + wxPoint(picture.GetSize().x + dialog->FromDIP(8), 0));
    const wxImage text = test::screen_image(*dialog, dialog->percent_rect());
    EXPECT_GT(std::count_if(text.GetData(), text.GetData() + text.GetWidth() * text.GetHeight() * 3,
                            [](unsigned char c) { return c < 128; }),
              20)
        << "no progress text drawn";

    ASSERT_TRUE(click(1015));
    ASSERT_TRUE(click(id_auto));
    EXPECT_EQ(dialog->settings(), (S{.palette = 2}));
    EXPECT_EQ(preview(), Picture{});
    EXPECT_TRUE(boxes.shown.empty());
    send(id_conversion);
    EXPECT_EQ(boxes.shown, Strings{msg::select_a_file});
}

// Every option control, clicked (check boxes both ways), stores its value and converts file 0
// again; so does a click or space-bar press on the radio button already selected. "Optimizat"
// with "Lumi Sort" clear only stores its value, for the next conversion.
TEST_F(DialogTest, OptionClicksStoreTheirValueAndConvert) {
    const std::string file = put("p.bmp", busy_picture(48, 32, 1));
    drop({file});
    test::show_and_wait(*dialog);
    S want;
    for (const Rule& r : rules) {
        for (int id = r.first; id <= r.last; ++id) {
            for (int round = 0; round < (r.first == r.last ? 2 : 1); ++round) {
                ASSERT_TRUE(click(id)) << id << " did not take the click";
                test::pump(2);
                want.*r.member = selected(id) ? r.on(id) : r.off;
                ASSERT_EQ(dialog->settings(), want) << "after a click on " << id;
                ASSERT_EQ(preview(), reference(file, want).preview) << "after a click on " << id;
            }
        }
    }
    for (const int seed : {2, 3}) {  // the file changes on disk: a conversion shows it
        const Picture before = preview();
        put("p.bmp", busy_picture(48, 32, seed));
        if (seed == 2) test::click(control(1047));
        control(1047).SetFocus();
        if (seed == 3) test::press_key(WXK_SPACE);
        ASSERT_TRUE(test::pump_until([&] { return preview() != before; })) << "seed " << seed;
        EXPECT_EQ(preview(), reference(file, want).preview);
    }

    ASSERT_TRUE(click(1033));  // "Lumi Sort" clear
    const Picture before = preview();
    put("p.bmp", busy_picture(48, 32, 4));
    ASSERT_TRUE(click(1035));
    test::pump(10);
    EXPECT_EQ(preview(), before) << "\"Optimizat\" converted with \"Lumi Sort\" clear";
    ASSERT_TRUE(click(1033));
    want.optimization = 0;
    EXPECT_EQ(dialog->settings(), want);
    EXPECT_EQ(preview(), reference(file, want).preview);
    want.optimization = 1;
    EXPECT_NE(preview(), reference(file, want).preview) << "the option shows on this picture";
    EXPECT_TRUE(boxes.shown.empty());
}

// A drop lists every name in order and shows file 0 on the screen, pixel for pixel at twice its
// size; a later drop lists only its names; a file 0 that cannot be converted shows black.
TEST_F(DialogTest, DropListsTheNamesAndShowsFileZero) {
    const Strings names = {put("a.BMP", busy_picture(64, 48, 6)), put("b.txt", {'x'}),
                           put("c.bmp", busy_picture(16, 16, 7))};
    test::show_and_wait(*dialog);
    drop(names);
    EXPECT_EQ(listed(), names);
    EXPECT_EQ(preview(), reference(names[0], S{}).preview);
    EXPECT_TRUE(test::pump_until([&] { return wrong_pixels() == 0; })) << wrong_pixels();
    drop({names[2]});
    EXPECT_EQ(listed(), Strings{names[2]});
    drop({put("bad.bmp", busy_picture(20, 16, 1))});  // width not a multiple of 8
    EXPECT_EQ(preview(), Picture{});
    EXPECT_TRUE(test::pump_until([&] { return wrong_pixels() == 0; })) << wrong_pixels();
    EXPECT_TRUE(boxes.shown.empty());
}

// "Conversion" writes the ".S02" of every ".bmp", with "BMP Export" "Yes" also the "TEST_"
// picture, and reports the end in one plain message box.
TEST_F(DialogTest, ConversionWritesTheOutputs) {
    drop({put("a.bmp", busy_picture(32, 16, 1)), put("notes.txt", {'x'}),
          put("b.bmp", busy_picture(16, 16, 2))});
    test::show_and_wait(*dialog);
    for (const int export_id : {id_export_no, id_export_yes}) {
        fs::remove(dir / "TEST_a.bmp");
        ASSERT_TRUE(click(export_id));
        ASSERT_TRUE(click(id_conversion));
        ASSERT_TRUE(test::pump_until([&] { return !boxes.shown.empty(); }));
        test::pump(4);
        EXPECT_EQ(boxes.shown, Strings{msg::ended});
        boxes.shown.clear();
        EXPECT_EQ(fs::exists(dir / "TEST_a.bmp"), export_id == id_export_yes);
    }
    EXPECT_EQ(boxes.caption, "lumaweave");
    EXPECT_EQ(boxes.style & (wxOK | wxCANCEL | wxYES_NO | wxICON_MASK), wxOK | wxICON_NONE);
    EXPECT_EQ(dialog->settings(), S{});  // "BMP Export" is no conversion option
    EXPECT_FALSE(fs::exists(dir / "notes.S02"));
    for (const std::string base : {"a", "b"}) {
        const Conversion& conv = reference((dir / (base + ".bmp")).string(), S{});
        EXPECT_EQ(test::read_file(dir / (base + ".S02")),
                  Bytes(conv.vram.begin(), conv.vram.end()));
        const Bytes exported = test::read_file(dir / ("TEST_" + base + ".bmp"));
        EXPECT_EQ(exported.size(), 54u + 12 * conv.width * conv.height);
    }
}

// "Auto" searches file 0 from the settings in force and applies what the search chooses to the
// record, the controls and the preview; a file 0 the conversion refuses changes nothing.
TEST_F(DialogTest, AutoAppliesTheChosenSettings) {
    drop({put("bad.bmp", busy_picture(20, 16, 1))});
    test::show_and_wait(*dialog);
    ASSERT_TRUE(click(1015));  // "MSX2"
    ASSERT_TRUE(click(1026));  // position correction 3
    const S start{.palette = 2, .horizontal_position_correction = 3};
    ASSERT_TRUE(click(id_auto));
    test::pump(4);
    EXPECT_EQ(dialog->settings(), start);
    EXPECT_EQ(preview(), Picture{});

    const std::string file = put("p.bmp", busy_picture(64, 48, 3));
    drop({file});
    const S chosen = quality::choose_settings(file, start, DefaultPalettes{}).chosen;
    ASSERT_NE(chosen, start);  // so that a button doing nothing shows
    ASSERT_TRUE(click(id_auto));
    ASSERT_TRUE(test::pump_until([&] { return dialog->settings() != start; }));
    test::pump(4);
    EXPECT_EQ(dialog->settings(), chosen);
    for (const Rule& r : rules) {
        for (int id = r.first; id <= r.last; ++id)
            EXPECT_EQ(selected(id), chosen.*r.member == r.on(id)) << id;
    }
    EXPECT_EQ(preview(), reference(file, chosen).preview);
    S after = chosen;  // later clicks go on from there
    after.edge_emph = !selected(1034);
    ASSERT_TRUE(click(1034));
    EXPECT_EQ(dialog->settings(), after);
    EXPECT_TRUE(boxes.shown.empty());
}

// Escape and Enter end an idle dialog, as cancelled and as OK; "End" as OK.
TEST_F(DialogTest, KeysAndEndCloseTheIdleDialog) {
    EXPECT_EQ(run_modal([] { test::press_key(WXK_ESCAPE); }), wxID_CANCEL);
    EXPECT_EQ(run_modal([this] {
                  control(1014).SetFocus();
                  test::press_key(WXK_RETURN);
              }),
              wxID_OK);
    EXPECT_EQ(run_modal([this] { click(id_end); }), wxID_OK);
    EXPECT_TRUE(boxes.shown.empty());
}

// A complete configuration file replaces the palettes; an incomplete one shows its message and
// ends the program.
TEST_F(DialogTest, ConfigurationFile) {
    std::string red;
    for (int i = 0; i < 16; ++i)
        red += "7 0 0 ";
    const fs::path path = dir / "lumaweave_config.txt";
    std::ofstream(path) << "* MSX1 palette\n" << red << "\n* MSX2 palette\n" << red;
    EXPECT_TRUE(dialog->load_configuration(path.string()));
    drop({put("p.bmp", busy_picture(16, 16, 1))});
    EXPECT_EQ(Bytes(preview().begin() + 54, preview().begin() + 57), (Bytes{0, 0, 255}));

    std::ofstream(path) << "* MSX1 palette\n0,0,0  1,1,1\n";
    const fs::path here = fs::current_path();
    fs::current_path(dir.path());
    EXPECT_EQ(dialog->run(), wxID_OK);
    fs::current_path(here);
    EXPECT_EQ(boxes.shown, Strings{std::string(msg::config_not_enough) + "* MSX1 palette"});
    EXPECT_FALSE(dialog->IsShown());
}

// A fresh dialog with three files dropped, each a little later in the batch.
class BatchTest : public DialogTest {
  protected:
    void start() {
        if (dialog != nullptr) dialog->Destroy();
        dialog = new ConverterDialog;
        boxes.shown.clear();
        files.clear();
        for (int i = 0; i < 3; ++i) {
            files.push_back(put("f" + std::to_string(i) + ".bmp", busy_picture(64, 48, i)));
            fs::remove(fs::path(files[i]).replace_extension(".S02"));
        }
        drop(files);
    }
    // Which files have their ".S02" ("100": file 0 only); no half-written file is left.
    std::string written() {
        std::string done;
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            if (entry.path().extension() != ".bmp")
                EXPECT_EQ(fs::file_size(entry.path()), 14343u) << entry.path();
        }
        for (fs::path name : files)
            done += fs::exists(name.replace_extension(".S02")) ? '1' : '0';
        return done;
    }
    Strings files;
    std::vector<int> progress;
};

// After file 0: "End", closing and destroying the window stop the batch before its next file
// with one message (the dialog ends as OK, as cancelled, and is destroyed once the batch is
// over); Escape ends the dialog but lets the batch finish.
TEST_F(BatchTest, EndCloseDestroyAndEscapeDuringABatch) {
    struct Case {
        std::function<void()> act;
        int rc;  // 0: run without a modal loop
        const char* message;
        std::string written;
    };
    const Case cases[] = {{[&] { send(id_end); }, wxID_OK, msg::stopped, "100"},
                          {[&] { dialog->Close(); }, wxID_CANCEL, msg::stopped, "100"},
                          {[&] {
                               wxKeyEvent key(wxEVT_CHAR_HOOK);
                               key.m_keyCode = WXK_ESCAPE;
                               dialog->ProcessWindowEvent(key);
                           },
                           wxID_CANCEL, msg::ended, "111"},
                          {[&] { dialog->Destroy(); }, 0, msg::stopped, "100"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        start();
        const auto script = [&] {
            dialog->CallAfter(c.act);  // handled when the batch processes events after file 0
            send(id_conversion);
        };
        if (c.rc != 0) {
            EXPECT_EQ(run_modal(script), c.rc);
        } else {
            bool destroyed = false;
            dialog->Bind(wxEVT_DESTROY, [&](wxWindowDestroyEvent& e) {
                destroyed = destroyed || e.GetEventObject() == dialog;
                e.Skip();
            });
            test::show_and_wait(*dialog);
            script();
            ASSERT_TRUE(test::pump_until([&] { return destroyed; }));
            dialog = nullptr;
        }
        EXPECT_EQ(boxes.shown, Strings{c.message});
        EXPECT_EQ(written(), c.written);
    }
}

// Between files the dialog takes options (for the files not yet converted), ignores drops,
// "Auto" and a second "Conversion", and shows the progress.
TEST_F(BatchTest, EventsBetweenFiles) {
    start();
    test::show_and_wait(*dialog);
    // The batch's event processing ends with idle time: look at the dialog then.
    dialog->Bind(wxEVT_IDLE, [this](wxIdleEvent& e) {
        e.Skip();
        const int now = dialog->batch().progress_percent();
        if (dialog->batch().busy() && (progress.empty() || progress.back() != now))
            progress.push_back(now);
    });
    dialog->CallAfter([&] {
        send(1015, wxEVT_RADIOBUTTON);                      // "MSX2" after file 0
        drop({put("other.bmp", busy_picture(16, 16, 9))});  // refused
        send(id_auto);
        send(id_conversion);
    });
    send(id_conversion);
    EXPECT_EQ(boxes.shown, Strings{msg::ended});
    EXPECT_EQ(progress, (std::vector<int>{0, 33, 66}));
    EXPECT_EQ(dialog->batch().progress_percent(), 0);
    EXPECT_EQ(listed(), files);
    EXPECT_EQ(dialog->settings(), (S{.palette = 2}));
    for (int i = 0; i < 3; ++i) {
        const auto& vram = reference(files[i], i == 0 ? S{} : S{.palette = 2}).vram;
        EXPECT_EQ(test::read_file(fs::path(files[i]).replace_extension(".S02")),
                  Bytes(vram.begin(), vram.end()))
            << i;
    }
}

// The progress text replaces the old one: nothing of "88%" stays under "00%" or "11%".
TEST(PercentText, ReplacesThePreviousText) {
    auto draw = [&](std::initializer_list<int> values) {
        wxBitmap bitmap(48, 22, 24);
        wxMemoryDC dc(bitmap);
        dc.SetBackground(*wxWHITE_BRUSH);
        dc.Clear();
        PercentText text;
        for (int v : values)
            text.draw(dc, wxRect(2, 1, 40, 18), v, *wxBLACK, *wxWHITE);
        dc.SelectObject(wxNullBitmap);
        const wxImage image = bitmap.ConvertToImage();
        return Bytes(image.GetData(), image.GetData() + 48 * 22 * 3);
    };
    EXPECT_EQ(draw({88, 0}), draw({0}));
    EXPECT_EQ(draw({88, 11}), draw({11}));
    EXPECT_NE(draw({88}), draw({0}));
}

}  // namespace
