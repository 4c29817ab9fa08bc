// The picture control: shows the PreviewImage, snapped to a whole multiple of 256 x 192 when
// its size is close to one. The picture is turned into a bitmap of the drawn size once per
// conversion, so a paint only copies that bitmap.
#pragma once

#include <wx/bitmap.h>
#include <wx/brush.h>
#include <wx/dc.h>
#include <wx/image.h>
#include <wx/window.h>

#include <cstdint>

#include "app/preview_geometry.hpp"

namespace lumaweave::app {

class PreviewControl : public wxWindow {
  public:
    PreviewControl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);

    // Takes a new picture: 384 rows of 512 pixels, red, green, blue, top row first (the
    // result's preview).
    void set_picture(const std::uint8_t* rgb);

    // The picture taken last, in the same layout.
    const std::uint8_t* picture() const { return picture_.GetData(); }

    // Where the picture goes inside the control's client area (from its top-left corner).
    PreviewFit fit() const { return snap_preview(GetClientSize().x, GetClientSize().y); }

    // What a paint copies: the picture at the drawn size, in device pixels.
    const wxBitmap& drawn_bitmap() const { return bitmap_; }

  private:
    void on_paint(wxPaintEvent& event);
    void on_size(wxSizeEvent& event);
    void rebuild_bitmap();

    wxImage picture_;  // 512 x 384, RGB; allocated once
    wxBitmap bitmap_;  // the picture stretched to fit(), in device pixels
};

// The progress beside the picture: "NN%", drawn in an area that holds the widest such text.
// The area is cleared to the background first, so no digit of the previous text stays. The
// text and the brush are made when the progress or the colour changes, not on every paint.
class PercentText {
  public:
    void draw(wxDC& dc, const wxRect& area, int progress_percent, const wxColour& text,
              const wxColour& background);

  private:
    int shown_ = -1;
    wxString label_;
    wxBrush brush_;
};

}  // namespace lumaweave::app
