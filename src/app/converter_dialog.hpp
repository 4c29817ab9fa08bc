// The main dialog: file list, preview, "Conversion", "End" and the option controls. It owns
// the conversion settings and the batch, and is the batch's host (list box, preview, message
// boxes, "BMP Export", event processing between files).
#pragma once

#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/listbox.h>
#include <wx/radiobut.h>

#include <string>
#include <vector>

#include "app/option_controls.hpp"
#include "app/preview_control.hpp"
#include "batch/batch.hpp"
#include "convert/settings.hpp"
#include "io/config.hpp"

namespace lumaweave::app {

class ConverterDialog : public wxDialog, private BatchHost {
  public:
    explicit ConverterDialog(wxWindow* parent = nullptr);
    ~ConverterDialog() override;

    // Reads the palette configuration file. When it is present but incomplete, shows its
    // message, ends the dialog with wxID_OK and returns false: the program is to end.
    bool load_configuration(const std::string& path = config_file_name);

    // The program's whole run: the configuration, then the dialog until it is ended. Names
    // given here are taken as a first drop.
    int run(const std::vector<std::string>& files = {});

    // A drop of files onto the dialog (ignored while a batch runs).
    void drop_files(const std::vector<std::string>& names);

    // A top-level window's Destroy() while a batch is on the stack is put off until the batch
    // has ended, after asking it to stop.
    bool Destroy() override;

    const ConversionSettings& settings() const { return settings_; }
    Batch& batch() { return batch_; }
    PreviewControl& picture_control() { return *preview_; }

    // Where the progress text is drawn, in the dialog's client coordinates.
    wxRect percent_rect() const { return percent_rect_; }

  private:
    // BatchHost
    void clear_file_list() override;
    void append_file_list(const std::string& name) override;
    void draw_preview() override;
    bool export_requested() override;
    void process_pending_events() override;
    void show_message(const std::string& text) override;

    void create_controls();
    void select_startup_controls();
    void show_value(const SettingField& field, std::int32_t value);
    void bind_option(const OptionControl& option);
    void on_option(const OptionControl& option, bool checked);
    void arm_reclick(wxRadioButton& button);

    void on_conversion(wxCommandEvent& event);
    void on_auto(wxCommandEvent& event);
    void on_end(wxCommandEvent& event);
    void on_close(wxCloseEvent& event);
    void on_char_hook(wxKeyEvent& event);
    void on_paint(wxPaintEvent& event);

    ConversionSettings settings_;
    DefaultPalettes palettes_;
    Batch batch_;
    wxListBox* file_list_ = nullptr;
    PreviewControl* preview_ = nullptr;
    wxRadioButton* export_no_ = nullptr;
    wxRect percent_rect_;
    PercentText percent_text_;
    bool destroy_after_batch_ = false;

    // A click on the radio button that is already selected: armed by the press, fired by the
    // release unless the toolkit reported the click itself.
    int reclick_id_ = 0;
    bool reclick_seen_ = false;
};

}  // namespace lumaweave::app
