// The real dialog, driven as a user would: real clicks and keys, drops through its drop target,
// the screen read back, message boxes recorded. The pictures are noise, so options change them.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/clrpicker.h>
#include <wx/dcmemory.h>
#include <wx/dnd.h>
#include <wx/filedlg.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/statbox.h>
#include <wx/uiaction.h>
#include <wx/weakref.h>

#include <filesystem>
#include <fstream>

#include "app/converter_dialog.hpp"
#include "app/dialog_template.hpp"
#include "app/option_controls.hpp"
#include "batch/output.hpp"
#include "picture/reader.hpp"
#include "quality/auto_settings.hpp"
#include "support/picture_files.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
using namespace lumaweave::app;
namespace fs = std::filesystem;
using S = ConversionSettings;
using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;

namespace lumaweave::test {
wxImage screen_image(wxWindow& window, const wxRect& client_rect);  // screen_capture.cpp
}

namespace {

// Answers every message box with OK without showing it, and keeps its text; a file chooser is
// cancelled, its filter kept.
struct MessageBoxes final : wxModalDialogHook {
    MessageBoxes() { Register(); }
    int Enter(wxDialog* dialog) override {
        if (auto* chooser = dynamic_cast<wxFileDialog*>(dialog)) {
            filters.push_back(chooser->GetWildcard().utf8_string());
            return wxID_CANCEL;
        }
        auto* box = dynamic_cast<wxMessageDialog*>(dialog);
        if (box == nullptr) return wxID_NONE;  // other dialogs run as usual
        shown.push_back(box->GetMessage().utf8_string());
        return wxID_OK;
    }
    void Exit(wxDialog*) override {}
    std::vector<std::string> shown, filters;
};

const Bytes black(512 * 384 * 3, 0);

// A conversion computed apart from the dialog (valid until the next call).
const Result& reference(const std::string& path, const S& settings) {
    static Converter converter;
    const Result& result = converter.convert_file(path, settings);
    EXPECT_TRUE(result.ok()) << path;
    return result;
}

// What a click stores, written apart from the settings table: control `id` of first..last (one
// control: a check box), selected or checked, sets `member` to value + step * (id - first); a
// cleared box sets `off`.
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
    // Handles waiting events until the condition holds, at most `rounds` times; returns it.
    static bool pump_until(const std::function<bool()>& condition, int rounds = 2000) {
        for (int i = 0; i < rounds && !(condition && condition()); ++i) {
            wxTheApp->Yield(true);
            wxMilliSleep(5);
        }
        return condition && condition();
    }
    static void pump(int rounds = 3) { pump_until({}, rounds); }
    static void show_and_wait(wxWindow& window) {
        window.Show();
        window.Raise();
        pump_until([&] { return window.IsShownOnScreen(); });
        pump(20);
    }
    // A real key press, to the window that has the focus (first given to `focus`, if any).
    static void press_key(int key, wxWindow* focus = nullptr) {
        if (focus != nullptr) focus->SetFocus();
        wxUIActionSimulator().Char(key);
        pump(4);
    }
    void TearDown() override {
        if (dialog != nullptr) dialog->Destroy();
        pump();
    }
    wxWindow& control(int id) { return *dialog->FindWindow(id); }
    bool selected(int id) {
        auto* radio = dynamic_cast<wxRadioButton*>(&control(id));
        return radio ? radio->GetValue() : wxStaticCast(&control(id), wxCheckBox)->GetValue();
    }
    // A real click (on a check box's or radio's indicator), which a radio button or check box
    // must then show (true when it does).
    bool click(int id) {
        const bool button = dynamic_cast<wxButton*>(&control(id)) != nullptr;
        const bool want = button || dynamic_cast<wxRadioButton*>(&control(id)) || !selected(id);
        const wxSize size = control(id).GetSize();
        wxUIActionSimulator input;
        input.MouseMove(
            control(id).ClientToScreen({std::min(button ? 20 : 8, size.x / 2), size.y / 2}));
        pump(2);
        input.MouseClick();
        pump(4);
        return button || pump_until([&] { return selected(id) == want; });
    }
    // A toolkit event handled at once, for moments inside a batch that real input cannot hit.
    void send(int id) {
        auto* radio = dynamic_cast<wxRadioButton*>(&control(id));
        if (radio != nullptr) radio->SetValue(true);
        wxCommandEvent event(radio ? wxEVT_RADIOBUTTON : wxEVT_BUTTON, id);
        event.SetEventObject(&control(id));
        control(id).ProcessWindowEvent(event);
    }
    Strings listed() {
        Strings list;
        for (const wxString& name : wxStaticCast(&control(id_file_list), wxListBox)->GetStrings())
            list.push_back(name.utf8_string());
        return list;
    }
    std::string put(const std::string& name, const Bytes& bytes) {
        test::write_file(dir / name, bytes);
        return (dir / name).string();
    }
    std::string put_noise(const std::string& name, int width, int height, std::uint32_t seed) {
        return put(name, test::make_noise(width, height, seed).bmp());
    }
    // A drop as the toolkit delivers it, to the dialog's drop target; refused during a batch.
    void drop(const Strings& names) {
        wxArrayString list;
        for (const std::string& n : names)
            list.Add(wxString::FromUTF8(n));
        auto* target = dynamic_cast<wxFileDropTarget*>(dialog->GetDropTarget());
        ASSERT_NE(target, nullptr);
        EXPECT_EQ(target->OnDropFiles(10, 10, list), !dialog->busy());
    }
    // A fresh dialog with the three files dropped.
    void start() {
        dialog->Destroy();
        dialog = new ConverterDialog;
        boxes.shown.clear();
        for (const std::string& file : files)
            fs::remove(fs::path(file).replace_extension(".S02"));
        drop(files);
    }
    Bytes preview() {  // what the picture control shows
        const std::uint8_t* p = dialog->picture_control().picture();
        return Bytes(p, p + black.size());
    }

    test::ScratchDir dir;
    MessageBoxes boxes;
    ConverterDialog* dialog = new ConverterDialog;
    Strings files = {put_noise("f0.bmp", 64, 48, 0), put_noise("f1.bmp", 64, 48, 1),
                     put_noise("f2.bmp", 64, 48, 2)};
};

// A fresh dialog: the start-up selection, and the controls apart from each other. Before any drop
// an option click only stores its value and "Auto" does nothing. A drop lists its names and shows
// file 0 on the screen at twice its size; then every option click stores its value and converts
// file 0 again, and "Auto" applies what the search chooses.
TEST_F(DialogTest, StartsUpThenOptionsAndAutoConvertFileZero) {
    EXPECT_TRUE(dialog->GetIcons().GetIcon(32).IsOk());
    show_and_wait(*dialog);
    // At start-up every field shows its initial value, the command line's default: a check box
    // is checked and a radio button selected when it stores that value. Each tells what its
    // field does.
    EXPECT_TRUE(selected(id_export_no) && !selected(id_export_yes));
    for (const OptionControl& c : option_controls()) {
        EXPECT_EQ(selected(c.id), c.value == initial_value(c.field())) << c.id;
        EXPECT_EQ(control(c.id).GetToolTipText().utf8_string(), c.field().description) << c.id;
    }
    // The other controls say what they do too.
    for (const TemplateItem& item : dialog_template()) {
        if (item.id < 0 || find_option_control(item.id)) continue;
        // A colour picker shows its tooltip on the button it is made of.
        wxWindow* shown = &control(item.id);
        if (auto* picker = dynamic_cast<wxColourPickerCtrl*>(shown))
            shown = picker->GetPickerCtrl();
        EXPECT_EQ(shown->GetToolTipText().utf8_string(), item.tooltip) << item.id;
    }
    // Each control, as the toolkit sized it, overlaps nothing but the group box that holds it.
    for (const TemplateItem& item : dialog_template()) {
        if (item.id < id_conversion) continue;
        const wxRect got = control(item.id).GetRect();
        for (wxWindow* other : dialog->GetChildren()) {
            EXPECT_TRUE(other == &control(item.id) || other->IsKindOf(wxCLASSINFO(wxStaticBox)) ||
                        !other->GetRect().Intersects(got))
                << item.id << " overlaps \"" << other->GetLabel() << "\"";
        }
    }

    ASSERT_TRUE(click(1015));
    ASSERT_TRUE(click(id_auto));
    S want{.palette = 2};
    EXPECT_EQ(dialog->settings(), want);
    EXPECT_EQ(preview(), black);

    const Strings names = {put_noise("p.BMP", 48, 32, 1), put("b.txt", {'x'})};
    const std::string& file = names[0];
    drop(names);
    EXPECT_EQ(listed(), names);
    EXPECT_TRUE(pump_until([&] {  // the screen shows the preview, pixel for pixel
        const wxImage image =
            test::screen_image(dialog->picture_control(), {0, 0, preview_width, preview_height});
        return Bytes(image.GetData(), image.GetData() + black.size()) == preview();
    }));
    EXPECT_EQ(preview(), reference(file, want).preview);
    // Check boxes both ways; "Optimizat" converts here, with "Lumi Sort" set.
    for (const Rule& r : rules) {
        for (int id = r.first; id <= r.last; ++id) {
            for (int round = 0; round < (r.first == r.last ? 2 : 1); ++round) {
                ASSERT_TRUE(click(id)) << id << " did not take the click";
                pump(2);
                want.*r.member = selected(id) ? r.on(id) : r.off;
                ASSERT_EQ(dialog->settings(), want) << "after a click on " << id;
                ASSERT_EQ(preview(), reference(file, want).preview) << "after a click on " << id;
            }
        }
    }
    // A click or space-bar press on the radio button already selected converts again: the
    // file changes on disk in between.
    for (const bool key : {false, true}) {
        const Bytes before = preview();
        put_noise("p.BMP", 48, 32, 2 + key);
        key ? press_key(WXK_SPACE, &control(1047)) : (void)click(1047);
        ASSERT_TRUE(pump_until([&] { return preview() != before; })) << key;
        EXPECT_EQ(preview(), reference(file, want).preview);
    }
    // "Optimizat" with "Lumi Sort" clear only stores its value.
    ASSERT_TRUE(click(1033));
    const Bytes before = preview();
    put_noise("p.BMP", 48, 32, 4);
    ASSERT_TRUE(click(1035));
    pump(10);
    EXPECT_EQ(preview(), before) << "\"Optimizat\" converted with \"Lumi Sort\" clear";
    ASSERT_TRUE(click(1033));
    want.optimization = 1;
    EXPECT_NE(preview(), reference(file, want).preview) << "the option shows on this picture";
    want.optimization = 0;
    EXPECT_EQ(preview(), reference(file, want).preview);

    // "Auto" with a file 0 that cannot be converted changes nothing; on a good one it searches
    // from the settings in force and applies its choice to the record, controls and preview.
    drop({put_noise("bad.bmp", 20, 16, 1)});  // width not a multiple of 8
    ASSERT_TRUE(click(id_auto));
    EXPECT_EQ(dialog->settings(), want);
    EXPECT_EQ(preview(), black);
    drop({file});
    EXPECT_EQ(listed(), Strings{file});  // the new drop replaces the list
    const S chosen = quality::choose_settings(file, want, DefaultPalettes{}).chosen;
    ASSERT_NE(chosen, want);  // so that a button doing nothing shows
    ASSERT_TRUE(click(id_auto));
    ASSERT_TRUE(pump_until([&] { return dialog->settings() != want; }));
    pump(4);
    EXPECT_EQ(dialog->settings(), chosen);
    for (const Rule& r : rules) {
        for (int id = r.first; id <= r.last; ++id)
            EXPECT_EQ(selected(id), chosen.*r.member == r.on(id)) << id;
    }
    EXPECT_EQ(preview(), reference(file, chosen).preview);
    EXPECT_TRUE(boxes.shown.empty());
}

// Escape and Enter end an idle dialog, as cancelled and as OK; "End" as OK. After file 0 of a
// batch, "End", closing and destroying the window (put off until the batch is over) stop it with
// one message; Escape ends the dialog but lets the batch finish.
TEST_F(DialogTest, KeysEndCloseAndDestroy) {
    const struct {
        std::function<void()> act;
        int rc;               // 0: no modal loop
        Status message;       // ok: the dialog is idle
        std::string written;  // which files have their ".S02" ("100": file 0 only)
        bool in_batch;
    } cases[] = {
        {[] { press_key(WXK_ESCAPE); }, wxID_CANCEL, Status::ok, "000", false},
        {[&] { press_key(WXK_RETURN, &control(1014)); }, wxID_OK, Status::ok, "000", false},
        {[&] { click(id_end); }, wxID_OK, Status::ok, "000", false},
        {[&] { send(id_end); }, wxID_OK, Status::stopped, "100", true},
        {[&] { dialog->Close(); }, wxID_CANCEL, Status::stopped, "100", true},
        {[&] {
             wxKeyEvent key(wxEVT_CHAR_HOOK);
             key.m_keyCode = WXK_ESCAPE;
             dialog->ProcessWindowEvent(key);
         },
         wxID_CANCEL, Status::ok, "111", true},
        {[&] { dialog->Destroy(); }, 0, Status::stopped, "100", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        start();
        const auto script = [&] {
            if (!c.in_batch) return c.act();
            dialog->CallAfter(c.act);  // handled when the batch processes events after file 0
            send(id_conversion);
        };
        if (c.rc == 0) {
            const wxWeakRef<wxDialog> alive(dialog);
            script();
            ASSERT_TRUE(pump_until([&] { return !alive; }));
            dialog = nullptr;
        } else {  // modally, as the program runs it
            dialog->CallAfter([&] {
                pump_until([&] { return dialog->IsShownOnScreen(); });
                pump(10);
                script();
                if (dialog->IsModal()) dialog->EndModal(wxID_ABORT);
            });
            EXPECT_EQ(dialog->ShowModal(), c.rc);
        }
        EXPECT_EQ(boxes.shown, c.in_batch ? Strings{test::text(c.message)} : Strings{});
        std::string written;
        for (fs::path name : files)
            written += fs::exists(name.replace_extension(".S02")) ? '1' : '0';
        EXPECT_EQ(written, c.written);
    }
}

// Between files the dialog takes options (for the files not yet converted), ignores drops,
// "Auto" and a second "Conversion", and shows the progress. "BMP Export" "Yes" (no conversion
// option) adds the "TEST_" pictures; the end comes in one message box.
TEST_F(DialogTest, EventsBetweenFilesAndOutputs) {
    start();
    show_and_wait(*dialog);
    ASSERT_TRUE(click(id_export_yes));
    // The batch's event processing ends with idle time: look at the dialog then.
    std::vector<int> progress;
    dialog->Bind(wxEVT_IDLE, [&](wxIdleEvent& e) {
        e.Skip();
        const int now = dialog->progress_percent();
        if (dialog->busy() && (progress.empty() || progress.back() != now)) progress.push_back(now);
    });
    dialog->CallAfter([&] {
        send(1015);                                 // "MSX2" after file 0
        drop({put_noise("other.bmp", 16, 16, 9)});  // refused
        send(id_auto);
        send(id_conversion);
    });
    send(id_conversion);
    EXPECT_EQ(boxes.shown, Strings{test::text(Status::ok)});
    EXPECT_EQ(progress, (std::vector<int>{0, 33, 66}));
    EXPECT_EQ(listed(), files);
    EXPECT_EQ(dialog->settings(), (S{.palette = 2}));
    for (int i = 0; i < 3; ++i) {
        const Result& result = reference(files[i], {.palette = i == 0 ? 1 : 2});
        EXPECT_EQ(test::read_file(fs::path(files[i]).replace_extension(".S02")), result.vram);
        EXPECT_EQ(test::read_file(export_name(files[i])), result.export_bmp);
    }
}

// "Show on MSX" opens the cartridge of the picture shown in openMSX (here a stand-in on the PATH
// that keeps what it was given); it waits for a picture, and says when openMSX is missing.
TEST_F(DialogTest, ShowOnMsxOpensTheShownPictureInOpenMsx) {
    show_and_wait(*dialog);
    EXPECT_FALSE(control(id_show_on_msx).IsEnabled());
    EXPECT_NE(control(id_show_on_msx).GetToolTipText().Find("openMSX"), wxNOT_FOUND);
    const fs::path bin = dir / "bin", calls = dir / "calls";
    fs::create_directories(bin);
    fs::create_directories(calls);
    std::ofstream(bin / "openmsx")
        << "#!/bin/sh\ncp \"$4\" \"" << (calls / "shown.rom").string()
        << "\"\nprintf '%s\\n' \"$2\" > \"" << (calls / "machine").string() << "\"\n";
    fs::permissions(bin / "openmsx", fs::perms::owner_all);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (bin.string() + ":" + path).c_str(), 1);
    drop({files[1]});
    EXPECT_TRUE(control(id_show_on_msx).IsEnabled());
    ASSERT_TRUE(click(id_show_on_msx));
    ASSERT_TRUE(pump_until([&] { return fs::exists(calls / "machine"); }));
    const Result& result = reference(files[1], {});
    EXPECT_EQ(test::read_file(calls / "shown.rom"),
              rom_output.bytes(outputs::PictureFiles(result, files[1])));
    EXPECT_EQ(test::read_file(calls / "machine"),
              (Bytes{'C', '-', 'B', 'I', 'O', 'S', '_', 'M', 'S', 'X', '1', '\n'}));
    drop({put_noise("bad.bmp", 20, 16, 1)});  // nothing to show
    EXPECT_FALSE(control(id_show_on_msx).IsEnabled());
    ::setenv("PATH", dir.path().c_str(), 1);
    drop({files[1]});
    ASSERT_TRUE(click(id_show_on_msx));
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(boxes.shown, Strings{"Show on MSX: openMSX is not installed (on Debian: apt-get "
                                   "install openmsx cbios)"});
}

// Pictures of other formats and sizes: a dropped PNG twice as wide as the screen is refused as it
// is (with a word on framing at the end of a conversion), and shown and converted framed once
// "Fit" is chosen, padded with the background colour picked; "Open..." offers every picture.
TEST_F(DialogTest, FramesPicturesOfAnySize) {
    show_and_wait(*dialog);
    const test::RgbPicture wide = test::make_noise(512, 192, 5);
    const std::string png =
        put("wide.png", test::write_png(test::RgbaPicture::opaque(wide), test::PngKind::rgb8));
    drop({png});
    EXPECT_EQ(preview(), black);
    send(id_conversion);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].starts_with(test::text(Status::width_exceeds_256)));
    EXPECT_NE(boxes.shown[0].find("choose Fit or Fill under Framing"), std::string::npos);

    auto framed = [&](const picture::FramingOptions& options) {
        static Converter converter;
        picture::FileReader reader(options);
        Result failure;
        const Result& r = convert_file_with(converter, &reader, failure, png, {}, {});
        EXPECT_TRUE(r.ok()) << shown_text(r.outcome);
        return r.preview;
    };
    picture::FramingOptions fit;
    fit.framing = picture::Framing::fit;
    ASSERT_TRUE(click(id_framing_fit));
    EXPECT_EQ(dialog->framing().framing, picture::Framing::fit);
    EXPECT_EQ(preview(), framed(fit));
    // A colour picked: the padding changes.
    auto* picker = wxStaticCast(&control(id_background), wxColourPickerCtrl);
    picker->SetColour(wxColour(255, 255, 255));
    wxColourPickerEvent picked(picker, id_background, wxColour(255, 255, 255));
    picker->ProcessWindowEvent(picked);
    fit.background = {255, 255, 255};
    EXPECT_EQ(preview(), framed(fit));
    picture::FramingOptions black_padding;
    black_padding.framing = picture::Framing::fit;
    EXPECT_NE(framed(fit), framed(black_padding));
    send(id_conversion);
    EXPECT_EQ(test::read_file(dir / "wide.S02").size(), 14343u);
    ASSERT_TRUE(click(id_open));
    ASSERT_EQ(boxes.filters.size(), 1u);
    for (const std::string_view extension : picture_extensions) {
        std::string pattern = "*";
        pattern.append(extension).append(";");
        EXPECT_NE(boxes.filters[0].find(pattern), std::string::npos) << extension;
    }
}

// A complete configuration file replaces the palettes the dialog converts with.
TEST_F(DialogTest, ConfigurationPalettesReachTheConversions) {
    std::string red;
    for (int i = 0; i < 16; ++i)
        red += "7 0 0 ";
    const fs::path path = dir / "lumaweave_config.txt";
    std::ofstream(path) << "* MSX1 palette\n" << red << "\n* MSX2 palette\n" << red;
    EXPECT_TRUE(dialog->load_configuration(path.string()));
    drop({files[0]});
    const Bytes shown = preview();
    EXPECT_EQ(Bytes(shown.begin(), shown.begin() + 3), (Bytes{255, 0, 0}));
}

// The progress text replaces the old one: nothing of "88%" stays under "00%" or "11%".
TEST(PercentText, ReplacesThePreviousText) {
    auto draw = [&](std::initializer_list<int> values) {
        wxBitmap bitmap(48, 22, 24);
        wxMemoryDC dc(bitmap);
        PercentText text;
        for (int v : values)
            text.draw(dc, wxRect(0, 0, 48, 22), v, *wxBLACK, *wxWHITE);
        dc.SelectObject(wxNullBitmap);
        const wxImage image = bitmap.ConvertToImage();
        return Bytes(image.GetData(), image.GetData() + 48 * 22 * 3);
    };
    EXPECT_EQ(draw({88, 0}), draw({0}));
    EXPECT_EQ(draw({88, 11}), draw({11}));
    EXPECT_NE(draw({88}), draw({0}));
}

}  // namespace
