// Driving the real dialog in GUI tests: the toolkit started once for the test program, message
// boxes answered and recorded, real mouse and keyboard input, waiting for events, and reading
// back what is on the screen.
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

#include "support/screen_capture.hpp"

namespace lumaweave::test {

// Answers every message box with OK without showing it, and keeps what it said.
class MessageBoxes final : public wxModalDialogHook {
  public:
    struct Shown {
        std::string message, caption;
        long style;
    };
    MessageBoxes() { Register(); }
    ~MessageBoxes() override { Unregister(); }

    std::vector<Shown> shown;

    std::vector<std::string> messages() const {
        std::vector<std::string> m;
        for (const Shown& s : shown)
            m.push_back(s.message);
        return m;
    }

  protected:
    int Enter(wxDialog* dialog) override {
        auto* box = dynamic_cast<wxMessageDialog*>(dialog);
        if (box == nullptr) return wxID_NONE;  // other dialogs run as usual
        shown.push_back({box->GetMessage().utf8_string(), box->GetTitle().utf8_string(),
                         box->GetMessageDialogStyle()});
        return wxID_OK;
    }
};

// Lets the toolkit handle what is waiting (input, paints, posted calls).
inline void pump(int rounds = 3) {
    for (int i = 0; i < rounds; ++i) {
        wxTheApp->Yield(true);
        wxMilliSleep(5);
    }
}

// Pumps until the condition holds or about ten seconds have passed; returns the condition.
inline bool pump_until(const std::function<bool()>& condition) {
    for (int i = 0; i < 2000 && !condition(); ++i) {
        wxTheApp->Yield(true);
        wxMilliSleep(5);
    }
    return condition();
}

// Shows the window and waits until it is on the screen where it says it is.
inline void show_and_wait(wxWindow& window) {
    window.Show();
    window.Raise();
    pump_until([&] { return window.IsShownOnScreen(); });
    pump(20);
}

// A real click with the system's pointer, a few pixels into the control from its left edge,
// at its middle height: on the indicator of a check box or radio button.
inline void click(wxWindow& control, int x = -1) {
    const wxSize size = control.GetSize();
    const wxPoint at =
        control.ClientToScreen(wxPoint(x >= 0 ? x : std::min(8, size.x / 2), size.y / 2));
    wxUIActionSimulator input;
    input.MouseMove(at);
    pump(2);
    input.MouseClick();
    pump(4);
}

// A real key press sent to the window that has the keyboard focus.
inline void press_key(int key) {
    wxUIActionSimulator input;
    input.Char(key);
    pump(4);
}

// The pixels the screen shows in a rectangle of a window's client area.
inline wxImage screen_image(wxWindow& window, const wxRect& client_rect) {
    window.Update();
    pump(2);
    const wxPoint origin = window.ClientToScreen(client_rect.GetTopLeft());
    const int w = client_rect.GetWidth(), h = client_rect.GetHeight();
    const std::vector<std::uint8_t> rgb = capture_screen(origin.x, origin.y, w, h);
    wxImage image(w, h, /*clear=*/true);
    if (rgb.size() == static_cast<std::size_t>(w) * h * 3) {
        std::copy(rgb.begin(), rgb.end(), image.GetData());
    }
    return image;
}

}  // namespace lumaweave::test
