// The main dialog: file list, preview, "Conversion", "End" and the option controls. It owns
// the conversion settings, the dropped file list and the conversion that the preview shows, and
// runs the batch with itself as its observer (progress, preview, events between files).
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
#include "batch/thread_pool.hpp"
#include "lumaweave.hpp"
#include "picture/reader.hpp"

namespace lumaweave::app {

class ConverterDialog : public wxDialog, private BatchObserver {
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
    const Display& display() const { return display_; }

    // Takes the palette file as the display, as "File..." does once a file is chosen: on
    // success selects "File..." and shows the file's name, converts file 0 again and returns
    // true; otherwise shows what is wrong and keeps the display in force.
    bool choose_display_file(const std::string& path);

    // The framing and background the pictures are read with.
    const picture::FramingOptions& framing() const { return reader_.options(); }
    const std::vector<std::string>& files() const { return files_; }
    bool busy() const { return busy_; }
    int progress_percent() const { return progress_percent_; }
    PreviewControl& picture_control() { return *preview_; }

    // Converts file 0 with the settings in force and shows it; a picture that cannot be
    // converted shows black, without a message.
    void refresh_preview();

    // Where the progress text is drawn, in the dialog's client coordinates.
    wxRect percent_rect() const { return percent_rect_; }

  private:
    // BatchObserver
    void file_started(int index, const std::string& name, int percent) override;
    void file_converted(int index, const std::string& name, const Result& result,
                        const outputs::PictureFiles& files) override;
    void between_files() override;

    void draw_preview(const Result& result);
    void draw_progress();
    void show_message(const std::string& text);

    void create_controls();
    void select_startup_controls();
    void show_value(const SettingField& field, std::int32_t value);
    void bind_option(const OptionControl& option);
    void on_option(const OptionControl& option, bool checked);
    void arm_reclick(wxRadioButton& button);

    void on_open(wxCommandEvent& event);
    void set_framing(const picture::FramingOptions& framing);
    // Converts file `name` as the dialog reads pictures.
    const Result& convert(const std::string& name);
    void on_conversion(wxCommandEvent& event);
    void on_auto(wxCommandEvent& event);
    void on_display(int id);
    void show_display();
    void on_show(wxCommandEvent& event);
    void on_end(wxCommandEvent& event);
    void on_close(wxCloseEvent& event);
    void on_char_hook(wxKeyEvent& event);
    void on_paint(wxPaintEvent& event);

    ConversionSettings settings_;
    Display display_;  // the screen the pictures are made for
    DefaultPalettes palettes_;
    OutputPlan outputs_;  // "BMP Export" adds the "TEST_" picture
    std::vector<std::string> files_;
    // Converts for the preview and for the batch, which shows each file it converts, on every
    // core, with the pictures read (and framed) by the reader.
    Converter converter_{process_pool()};
    std::string shown_name_;  // the file whose conversion the preview shows
    picture::FileReader reader_;
    Result failure_;     // of a picture that cannot be read
    bool busy_ = false;  // a batch is under way
    StopToken stop_;
    int progress_percent_ = 0;
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
