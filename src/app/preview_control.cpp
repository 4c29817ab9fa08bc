#include "app/preview_control.hpp"

#include <wx/dcclient.h>

#include <cmath>
#include <cstring>

namespace lumaweave::app {

PreviewControl::PreviewControl(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                               const wxSize& size)
    : wxWindow(parent, id, pos, size, wxBORDER_NONE | wxFULL_REPAINT_ON_RESIZE),
      picture_(preview_width, preview_height, /*clear=*/true) {
    // Black before anything was converted, and wherever the picture does not reach.
    SetBackgroundColour(*wxBLACK);
    Bind(wxEVT_PAINT, &PreviewControl::on_paint, this);
    Bind(wxEVT_SIZE, &PreviewControl::on_size, this);
    rebuild_bitmap();
}

void PreviewControl::set_picture(const std::uint8_t* rgb) {
    std::memcpy(picture_.GetData(), rgb, std::size_t{preview_width} * preview_height * 3);
    rebuild_bitmap();
}

void PreviewControl::rebuild_bitmap() {
    const PreviewFit f = fit();
    if (f.width <= 0 || f.height <= 0) {
        bitmap_ = wxBitmap();
        return;
    }
    // On a high-density screen the logical size covers more device pixels; scaling to those
    // with whole pixels keeps the preview sharp instead of letting the toolkit smooth it.
    const double scale = GetContentScaleFactor();
    const int w = static_cast<int>(std::lround(f.width * scale));
    const int h = static_cast<int>(std::lround(f.height * scale));
    if (w == preview_width && h == preview_height) {
        bitmap_ = wxBitmap(picture_, wxBITMAP_SCREEN_DEPTH, scale);
    } else {
        bitmap_ =
            wxBitmap(picture_.Scale(w, h, wxIMAGE_QUALITY_NEAREST), wxBITMAP_SCREEN_DEPTH, scale);
    }
}

void PreviewControl::on_paint(wxPaintEvent&) {
    wxPaintDC dc(this);
    if (bitmap_.IsOk()) dc.DrawBitmap(bitmap_, 0, 0, false);
}

void PreviewControl::on_size(wxSizeEvent& event) {
    rebuild_bitmap();
    event.Skip();
}

void PercentText::draw(wxDC& dc, const wxRect& area, int progress_percent, const wxColour& text,
                       const wxColour& background) {
    if (progress_percent != shown_) {
        shown_ = progress_percent;
        label_ = wxString::FromAscii(percent_text(progress_percent).data());
    }
    if (!brush_.IsOk() || brush_.GetColour() != background) brush_ = wxBrush(background);
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(brush_);
    dc.DrawRectangle(area);
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.SetTextForeground(text);
    dc.DrawText(label_, area.GetTopLeft());
}

}  // namespace lumaweave::app
