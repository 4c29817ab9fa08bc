// The program's icon: a small monitor showing a landscape woven from two-colour runs of the
// MSX1 palette, drawn in code at each size the window system asks for.
#pragma once

#include <wx/iconbndl.h>
#include <wx/image.h>

namespace lumaweave::app {

// The icon at size x size pixels, with transparency.
wxImage draw_app_icon(int size);

// The icon at the sizes window systems use (16 to 64 pixels).
wxIconBundle app_icon_bundle();

}  // namespace lumaweave::app
