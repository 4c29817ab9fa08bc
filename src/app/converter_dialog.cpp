#include "app/converter_dialog.hpp"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/clrpicker.h>
#include <wx/dcclient.h>
#include <wx/dnd.h>
#include <wx/filedlg.h>
#include <wx/fontenum.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/utils.h>

#include <algorithm>
#include <filesystem>

#include "app/app_icon.hpp"
#include "app/dialog_template.hpp"
#include "batch/output.hpp"
#include "batch/thread_pool.hpp"
#include "outputs/emulator.hpp"
#include "quality/auto_settings.hpp"
#include "quality/quality_converter.hpp"

namespace lumaweave::app {

namespace {

wxString from_utf8(std::string_view text) {
    return wxString::FromUTF8(text.data(), text.size());
}

// File names travel as the file system's bytes; the list shows them in the toolkit's text.
wxString display_name(const std::string& name) {
    wxString shown(name.c_str(), *wxConvFileName);
    return shown.empty() && !name.empty() ? wxString::From8BitData(name.c_str()) : shown;
}

std::string file_system_name(const wxString& name) {
    const wxCharBuffer bytes = name.fn_str();
    return bytes.data() ? std::string(bytes.data()) : std::string(name.utf8_str());
}

// Drops anywhere on the dialog: the toolkit hands a drop over a child to its parent.
class FileDrop final : public wxFileDropTarget {
  public:
    explicit FileDrop(ConverterDialog& dialog) : dialog_(dialog) {}
    bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& names) override {
        std::vector<std::string> list;
        list.reserve(names.size());
        for (const wxString& name : names)
            list.push_back(file_system_name(name));
        // During a batch the drop is ignored; the source learns that it was not taken.
        const bool taken = !dialog_.busy();
        dialog_.drop_files(list);
        return taken;
    }

  private:
    ConverterDialog& dialog_;
};

// The layout was drawn for a narrow 9-point face. Noto Sans CJK JP (installed with the
// program) has narrow Latin letters as well as the full-width digits and the messages' Japanese;
// at 7.5 points every caption fits its control. Without it, the desktop's face a little
// smaller still.
wxFont dialog_font() {
    wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
    if (wxFontEnumerator::IsValidFacename("Noto Sans CJK JP")) {
        font.SetFaceName("Noto Sans CJK JP");
        font.SetFractionalPointSize(7.5);
    } else {
        font.SetPointSize(7);
    }
    return font;
}

// A push button no taller than the layout makes it: the strip under "Conversion" is lower than
// the height some toolkit themes ask of a button, and a caption needs less.
class CompactButton final : public wxButton {
  public:
    CompactButton(wxWindow* parent, int id, const wxString& caption, const wxPoint& pos,
                  const wxSize& size)
        : wxButton(parent, id, caption, pos, size) {
#ifdef __WXGTK3__
        GTKApplyCssStyle("* { min-height: 0; padding-top: 0; padding-bottom: 0; }");
        InvalidateBestSize();
#endif
    }
};

}  // namespace

ConverterDialog::ConverterDialog(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, from_utf8(dialog_title), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxDIALOG_NO_PARENT) {
    SetFont(dialog_font());
    // Enter and Escape are handled below, where a batch can be taken into account.
    SetEscapeId(wxID_NONE);
    SetIcons(app_icon_bundle());
    create_controls();
    const PixelRect size = to_pixels({0, 0, dialog_width_du, dialog_height_du});
    const wxSize client = FromDIP(wxSize(size.width, size.height));
    SetClientSize(client);
    SetMinClientSize(client);
    SetMaxClientSize(client);
    SetDropTarget(new FileDrop(*this));
    select_startup_controls();

    Bind(wxEVT_BUTTON, &ConverterDialog::on_conversion, this, id_conversion);
    Bind(wxEVT_BUTTON, &ConverterDialog::on_end, this, id_end);
    Bind(wxEVT_BUTTON, &ConverterDialog::on_auto, this, id_auto);
    Bind(wxEVT_BUTTON, &ConverterDialog::on_show, this, id_show_on_msx);
    Bind(wxEVT_BUTTON, &ConverterDialog::on_open, this, id_open);
    // Framing and background: how pictures are read, for the preview and the files to come.
    const std::pair<int, picture::Framing> framings[] = {{id_framing_none, picture::Framing::none},
                                                         {id_framing_fit, picture::Framing::fit},
                                                         {id_framing_fill, picture::Framing::fill},
                                                         {id_framing_pad, picture::Framing::pad}};
    for (const auto& [id, framing] : framings) {
        Bind(
            wxEVT_RADIOBUTTON,
            [this, framing = framing](wxCommandEvent&) {
                picture::FramingOptions options = reader_.options();
                options.framing = framing;
                set_framing(options);
            },
            id);
    }
    Bind(
        wxEVT_COLOURPICKER_CHANGED,
        [this](wxColourPickerEvent& event) {
            picture::FramingOptions options = reader_.options();
            const wxColour c = event.GetColour();
            options.background = {c.Red(), c.Green(), c.Blue()};
            set_framing(options);
        },
        id_background);
    // "BMP Export" is read when each file of a batch is written.
    Bind(
        wxEVT_RADIOBUTTON,
        [this](wxCommandEvent&) {
            outputs_.formats = {&vram_output, &test_picture_output};
        },
        id_export_yes);
    Bind(
        wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { outputs_.formats = {&vram_output}; },
        id_export_no);
    Bind(wxEVT_CLOSE_WINDOW, &ConverterDialog::on_close, this);
    Bind(wxEVT_CHAR_HOOK, &ConverterDialog::on_char_hook, this);
    Bind(wxEVT_PAINT, &ConverterDialog::on_paint, this);
    Centre();
}

ConverterDialog::~ConverterDialog() = default;

void ConverterDialog::create_controls() {
    for (const TemplateItem& item : dialog_template()) {
        const PixelRect px = to_pixels(item.rect);
        const wxPoint pos = FromDIP(wxPoint(px.x, px.y));
        const wxSize size = FromDIP(wxSize(px.width, px.height));
        const wxString caption = from_utf8(item.caption);
        wxWindow* control = nullptr;
        switch (item.kind) {
            case ItemKind::list_box: {
                // The toolkit's vertical scroll bar needs more height than the layout gives
                // the list; the list takes the free room down to the picture control.
                const int room =
                    FromDIP(to_pixels(find_template_item(id_picture)->rect).y) - pos.y - FromDIP(1);
                file_list_ =
                    new wxListBox(this, item.id, pos, wxSize(size.x, std::max(size.y, room)), 0,
                                  nullptr, wxLB_SINGLE);
                file_list_->SetToolTip(from_utf8(item.tooltip));
                continue;
            }
            case ItemKind::picture:
                preview_ = new PreviewControl(this, item.id, pos, size);
                preview_->SetToolTip(from_utf8(item.tooltip));
                continue;
            case ItemKind::push_button:
                if (item.id == id_auto)
                    control = new CompactButton(this, item.id, caption, pos, size);
                else
                    control = new wxButton(this, item.id, caption, pos, size);
                break;
            case ItemKind::static_text:
                control = new wxStaticText(this, item.id < 0 ? wxID_ANY : item.id, caption, pos,
                                           size, item.id < 0 ? 0 : wxST_ELLIPSIZE_MIDDLE);
                break;
            case ItemKind::group_box:
                new wxStaticBox(this, wxID_ANY, caption, pos, size);
                continue;
            case ItemKind::radio_button: {
                auto* radio = new wxRadioButton(this, item.id, caption, pos, size,
                                                item.group_start ? wxRB_GROUP : 0);
                if (item.id == id_export_no) export_no_ = radio;
                if (find_option_control(item.id) || item.id == id_display_file) arm_reclick(*radio);
                control = radio;
                break;
            }
            case ItemKind::check_box:
                control = new wxCheckBox(this, item.id, caption, pos, size);
                break;
            case ItemKind::colour_picker:
                control = new wxColourPickerCtrl(this, item.id, *wxBLACK, pos, size);
                break;
        }
        if (const OptionControl* option = find_option_control(item.id)) {
            bind_option(*option);
            control->SetToolTip(from_utf8(option->field().description));
        } else if (!item.tooltip.empty()) {
            control->SetToolTip(from_utf8(item.tooltip));
        }
        if (item.id >= id_display_table && item.id <= id_display_file) {
            const int id = item.id;
            Bind(
                wxEVT_RADIOBUTTON, [this, id](wxCommandEvent&) { on_display(id); }, id);
        }
        if (item.id == id_show_on_msx) control->Disable();  // until a picture is shown
        // Where the toolkit's control needs more room than the layout gives, it grows around
        // its own place (taller about its middle, wider to the right) and its neighbours stay.
        const wxSize best = control->GetBestSize();
        wxRect r(pos, size);
        if (best.y > r.height) {
            r.y -= (best.y - r.height) / 2;
            r.height = best.y;
        }
        r.width = std::max(r.width, best.x);
        control->SetSize(r);
    }

    // The progress text: right of the picture control, level with its top.
    const PreviewFit fit = preview_->fit();
    wxClientDC dc(this);
    dc.SetFont(GetFont());
    wxSize text = dc.GetTextExtent("00%");
    for (const char* widest : {"88%", "44%", "77%", "99%"}) {
        const wxSize e = dc.GetTextExtent(widest);
        text.x = std::max(text.x, e.x);
        text.y = std::max(text.y, e.y);
    }
    percent_rect_ =
        wxRect(preview_->GetPosition().x + preview_->GetClientSize().x + FromDIP(percent_gap(fit)),
               preview_->GetPosition().y, text.x + 1, text.y);
}

void ConverterDialog::select_startup_controls() {
    export_no_->SetValue(true);
    wxStaticCast(FindWindow(id_framing_none), wxRadioButton)->SetValue(true);
    show_display();
    for (const SettingField& field : setting_fields())
        show_value(field, initial_value(field));
}

// Sets the field's controls to show `value` as a click would have left them, without running
// their handlers.
void ConverterDialog::show_value(const SettingField& field, std::int32_t value) {
    for (const OptionControl* option : controls_of(field)) {
        wxWindow* window = FindWindow(option->id);
        const bool on = value == option->value;
        if (auto* radio = dynamic_cast<wxRadioButton*>(window)) {
            if (on) radio->SetValue(true);
        } else if (auto* box = dynamic_cast<wxCheckBox*>(window)) {
            box->SetValue(on);
        }
    }
}

void ConverterDialog::bind_option(const OptionControl& option) {
    const OptionControl* target = &option;  // the mapping is static
    if (option.kind == OptionKind::radio_button) {
        Bind(
            wxEVT_RADIOBUTTON, [this, target](wxCommandEvent&) { on_option(*target, true); },
            option.id);
    } else {
        Bind(
            wxEVT_CHECKBOX,
            [this, target](wxCommandEvent& event) { on_option(*target, event.IsChecked()); },
            option.id);
    }
}

void ConverterDialog::on_option(const OptionControl& option, bool checked) {
    if (option.kind == OptionKind::radio_button) {
        reclick_seen_ = true;
        settings_.*option.member = option.value;
    } else {
        settings_.*option.member = checked ? option.value : option.clear_value();
    }
    // "Optimizat" alone acts on the picture only through "Lumi Sort": with it clear, the new
    // value waits for the next conversion and the preview is only repainted.
    if (option.member == &ConversionSettings::optimization && settings_.lumi_sort != 1) {
        preview_->Refresh();
        return;
    }
    refresh_preview();
}

void ConverterDialog::arm_reclick(wxRadioButton& button) {
    // The toolkit reports no click on a radio button that is already selected, yet such a
    // click converts again. Press and release on the same selected button make that click,
    // unless the toolkit did report it after all.
    const int id = button.GetId();
    auto arm = [this, &button, id] {
        reclick_id_ = button.GetValue() ? id : 0;
        reclick_seen_ = false;
    };
    auto fire = [this, id] {
        if (reclick_id_ != id) return;
        reclick_id_ = 0;
        CallAfter([this, id] {
            if (reclick_seen_) return;
            if (const OptionControl* option = find_option_control(id)) on_option(*option, true);
            if (id == id_display_file) on_display(id);  // another file
        });
    };
    button.Bind(wxEVT_LEFT_DOWN, [arm](wxMouseEvent& event) {
        arm();
        event.Skip();
    });
    button.Bind(wxEVT_LEFT_UP, [fire, &button](wxMouseEvent& event) {
        event.Skip();
        if (wxRect(button.GetClientSize()).Contains(event.GetPosition())) fire();
    });
    button.Bind(wxEVT_KEY_DOWN, [arm](wxKeyEvent& event) {
        if (event.GetKeyCode() == WXK_SPACE) arm();  // a held key re-arms the same press
        event.Skip();
    });
    button.Bind(wxEVT_KEY_UP, [fire](wxKeyEvent& event) {
        event.Skip();
        if (event.GetKeyCode() == WXK_SPACE) fire();
    });
}

bool ConverterDialog::load_configuration(const std::string& path) {
    ScratchPool pool;
    const Outcome loaded = load_palette_config(pool, palettes_, path);
    if (loaded.ok()) return true;
    show_message(shown_text(loaded));
    SetReturnCode(wxID_OK);
    EndDialog(wxID_OK);
    return false;
}

int ConverterDialog::run(const std::vector<std::string>& files) {
    if (!load_configuration()) return GetReturnCode();
    if (!files.empty()) drop_files(files);
    return ShowModal();
}

void ConverterDialog::drop_files(const std::vector<std::string>& names) {
    if (busy_) return;
    file_list_->Freeze();
    file_list_->Clear();
    if (names.size() >= file_list_capacity) {
        // The list shows nothing now, so "Conversion" must not work through older names.
        files_.clear();
        file_list_->Thaw();
        show_message(std::string(message_text(Status::too_many_files)));
        return;
    }
    files_ = names;
    for (const std::string& name : files_)
        file_list_->Append(display_name(name));
    file_list_->Thaw();
    refresh_preview();
}

void ConverterDialog::refresh_preview() {
    static const std::string no_name;
    const std::string& name = files_.empty() ? no_name : files_.front();
    shown_name_ = name;
    // A failed conversion leaves a black picture.
    draw_preview(convert(name));
}

const Result& ConverterDialog::convert(const std::string& name) {
    return convert_file_with(converter_, &reader_, failure_, name, settings_, palettes_, display_);
}

void ConverterDialog::set_framing(const picture::FramingOptions& framing) {
    reader_.set_options(framing);
    refresh_preview();
}

// The radio button of the display in force, and the file's name under them.
void ConverterDialog::show_display() {
    const bool file = !display_.table() && !find_display(display_.name);
    const int id = display_.table() ? id_display_table
                   : file           ? id_display_file
                                    : id_display_tms9918;
    wxStaticCast(FindWindow(id), wxRadioButton)->SetValue(true);
    auto* name = wxStaticCast(FindWindow(id_display_file_name), wxStaticText);
    name->SetLabel(file ? display_name(std::filesystem::path(display_.name).filename().string())
                        : wxString());
    name->SetToolTip(file ? display_name(display_.name) : wxString());
}

void ConverterDialog::on_display(int id) {
    reclick_seen_ = true;
    if (id == id_display_file) {
        wxFileDialog ask(this, "Palette file of the display", "", "",
                         "Palette files (*.txt;*.gpl)|*.txt;*.gpl|All files|*",
                         wxFD_OPEN | wxFD_FILE_MUST_EXIST);
        if (ask.ShowModal() != wxID_OK || !choose_display_file(file_system_name(ask.GetPath()))) {
            show_display();  // the choice in force stays
        }
        return;
    }
    display_ = id == id_display_table ? table_display() : *find_display("tms9918");
    show_display();
    refresh_preview();
}

bool ConverterDialog::choose_display_file(const std::string& path) {
    const DisplayChoice choice = load_display(path);
    if (!choice.display) {
        show_message(choice.error);
        show_display();
        return false;
    }
    display_ = *choice.display;
    show_display();
    refresh_preview();
    return true;
}

void ConverterDialog::on_open(wxCommandEvent&) {
    if (busy_) return;
    // Every picture extension, in lower and upper case (the file chooser may tell them apart).
    wxString patterns;
    for (const std::string_view extension : picture_extensions) {
        const wxString e = from_utf8(extension);
        patterns += (patterns.empty() ? "*" : ";*") + e + ";*" + e.Upper();
    }
    wxFileDialog chooser(this, "Open pictures", "", "",
                         "Pictures (BMP, PNG, JPEG, GIF, WebP, TIFF)|" + patterns + "|All files|*",
                         wxFD_OPEN | wxFD_FILE_MUST_EXIST | wxFD_MULTIPLE);
    if (chooser.ShowModal() != wxID_OK) return;
    wxArrayString paths;
    chooser.GetPaths(paths);
    std::vector<std::string> names;
    for (const wxString& path : paths)
        names.push_back(file_system_name(path));
    drop_files(names);
}

bool ConverterDialog::Destroy() {
    if (busy_) {
        stop_.request();
        destroy_after_batch_ = true;
        Hide();
        return true;
    }
    return wxDialog::Destroy();
}

void ConverterDialog::on_conversion(wxCommandEvent&) {
    if (busy_) return;
    busy_ = true;
    // A request made while no batch ran is not carried into this one.
    stop_.clear();
    Batch batch(files_, outputs_);
    // Reads the settings in force at each file: options clicked meanwhile apply to the files not
    // yet converted.
    class LiveConverter final : public FileConverter {
      public:
        explicit LiveConverter(ConverterDialog& dialog) : dialog_(dialog) {}
        const Result& convert(int, const std::string& name) override {
            return dialog_.convert(name);
        }

      private:
        ConverterDialog& dialog_;
    } converter(*this);
    const BatchOutcome outcome = batch.run(converter, *this, stop_);
    busy_ = false;
    progress_percent_ = 0;
    std::string message = ending_text(outcome);
    if (reader_.options().framing == picture::Framing::none &&
        picture::framing_would_help(outcome.first_failure.status)) {
        message += "\nTo convert a picture of any size, choose Fit or Fill under Framing.";
    }
    show_message(message);
    if (destroy_after_batch_) {
        destroy_after_batch_ = false;
        wxDialog::Destroy();
    }
}

void ConverterDialog::on_auto(wxCommandEvent&) {
    // A batch reads the settings between its files, and a search needs a picture.
    if (busy_ || files_.empty()) return;
    quality::SearchResult found;
    {
        // About a second of work, the trials shared among the cores.
        wxBusyCursor busy;
        const PictureReader::Picture& picture = reader_.read(files_.front(), settings_);
        quality::SettingsSearch search(process_pool());
        found =
            quality::search_picture(search, picture, settings_, palettes_, {.display = display_});
    }
    // A picture the conversion refuses keeps its settings and its black preview.
    if (!found.outcome.ok()) return;
    for (const SettingField& field : setting_fields()) {
        // The palette and the position correction are the user's statement about the picture.
        if (!quality::searched_field(field)) continue;
        settings_.*field.member = found.chosen.*field.member;
        show_value(field, settings_.*field.member);
    }
    refresh_preview();
}

void ConverterDialog::on_show(wxCommandEvent&) {
    const Result& result = converter_.result();
    if (!result.ok()) return;
    const outputs::PictureFiles files(result, shown_name_);
    const std::string failed =
        outputs::show_cartridge(files.cartridge(), base_name(shown_name_), result.msx2_palette);
    if (!failed.empty()) show_message("Show on MSX: " + failed);
}

void ConverterDialog::on_end(wxCommandEvent&) {
    stop_.request();
    SetReturnCode(wxID_OK);
    EndDialog(wxID_OK);
}

void ConverterDialog::on_close(wxCloseEvent& event) {
    stop_.request();
    // The dialog's own close processing ends it as cancelled.
    event.Skip();
}

void ConverterDialog::on_char_hook(wxKeyEvent& event) {
    // Enter and Escape end the dialog but leave a running batch to finish its files: only
    // "End" and closing the window stop it.
    switch (event.GetKeyCode()) {
        case WXK_ESCAPE:
            SetReturnCode(wxID_CANCEL);
            EndDialog(wxID_CANCEL);
            return;
        case WXK_RETURN:
        case WXK_NUMPAD_ENTER:
            // A focused push button takes Enter as its own press.
            if (dynamic_cast<wxButton*>(FindFocus())) break;
            SetReturnCode(wxID_OK);
            EndDialog(wxID_OK);
            return;
        default:
            break;
    }
    event.Skip();
}

void ConverterDialog::on_paint(wxPaintEvent&) {
    wxPaintDC dc(this);
#ifdef __WXMSW__
    // Where the platform paints a minimised window, it shows the icon in the middle.
    if (IsIconized()) {
        const wxSize client = GetClientSize();
        const int w = wxSystemSettings::GetMetric(wxSYS_ICON_X, this);
        const int h = wxSystemSettings::GetMetric(wxSYS_ICON_Y, this);
        dc.DrawIcon(GetIcon(), (client.x - w + 1) / 2, (client.y - h + 1) / 2);
        return;
    }
#endif
    dc.SetFont(GetFont());
    percent_text_.draw(dc, percent_rect_, progress_percent_, GetForegroundColour(),
                       GetBackgroundColour());
}

void ConverterDialog::file_started(int, const std::string&, int percent) {
    progress_percent_ = percent;
}

void ConverterDialog::file_converted(int, const std::string& name, const Result& result,
                                     const outputs::PictureFiles&) {
    shown_name_ = name;
    draw_preview(result);
}

void ConverterDialog::between_files() {
    if (wxTheApp) wxTheApp->Yield(true);
}

void ConverterDialog::draw_preview(const Result& result) {
    preview_->set_picture(result.preview.data());
    FindWindow(id_show_on_msx)->Enable(result.ok());
    // Painting goes through the paint handlers: a window's surface is only reliably drawn on
    // there (not every display server lets a program draw on a window from outside).
    preview_->Refresh();
    RefreshRect(percent_rect_);
    preview_->Update();
    Update();
}

void ConverterDialog::show_message(const std::string& text) {
    wxMessageDialog box(this, wxString::FromUTF8(text.c_str()), from_utf8(dialog_title),
                        wxOK | wxICON_NONE | wxCENTRE);
    box.ShowModal();
}

}  // namespace lumaweave::app
