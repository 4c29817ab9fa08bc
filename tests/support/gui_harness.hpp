// Driving the real dialog: message boxes answered and recorded, real input, waiting for events,
// and the screen read back.
#pragma once

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/image.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <functional>
#include <string>
#include <vector>

namespace lumaweave::test {

// Answers every message box with OK without showing it; keeps the texts, and the last caption
// and style.
class MessageBoxes final : public wxModalDialogHook {
  public:
    MessageBoxes() { Register(); }
    std::vector<std::string> shown;
    std::string caption;
    long style = 0;

  protected:
    int Enter(wxDialog* dialog) override {
        auto* box = dynamic_cast<wxMessageDialog*>(dialog);
        if (box == nullptr) return wxID_NONE;  // other dialogs run as usual
        shown.push_back(box->GetMessage().utf8_string());
        caption = box->GetTitle().utf8_string();
        style = box->GetMessageDialogStyle();
        return wxID_OK;
    }
};

// Handles waiting events until the condition holds, at most `rounds` times; returns it.
inline bool pump_until(const std::function<bool()>& condition, int rounds = 2000) {
    for (int i = 0; i < rounds && !condition(); ++i) {
        wxTheApp->Yield(true);
        wxMilliSleep(5);
    }
    return condition();
}
inline void pump(int rounds = 3) {
    pump_until([] { return false; }, rounds);
}

inline void show_and_wait(wxWindow& window) {
    window.Show();
    window.Raise();
    pump_until([&] { return window.IsShownOnScreen(); });
    pump(20);
}

// A real click at x pixels into the control (default: on a check box's or radio's indicator).
inline void click(wxWindow& control, int x = -1) {
    const wxSize size = control.GetSize();
    wxUIActionSimulator input;
    input.MouseMove(control.ClientToScreen({x >= 0 ? x : std::min(8, size.x / 2), size.y / 2}));
    pump(2);
    input.MouseClick();
    pump(4);
}

inline void press_key(int key) {
    wxUIActionSimulator().Char(key);
    pump(4);
}

// The pixels the screen shows in a rectangle of a window's client area (screen_capture.cpp).
wxImage screen_image(wxWindow& window, const wxRect& client_rect);

}  // namespace lumaweave::test
