// lumaweave-icon: writes the program's icon, drawn by the same code as the window's, as a PNG
// file for the desktop entry. The build runs it; it is not installed.
//     lumaweave-icon SIZE OUTPUT.png
#include <wx/image.h>

#include <cstdio>
#include <cstdlib>

#include "app/app_icon.hpp"

int main(int argc, char** argv) {
    const int size = argc == 3 ? std::atoi(argv[1]) : 0;
    if (size < 16 || size > 1024) {
        std::fprintf(stderr, "usage: lumaweave-icon SIZE OUTPUT.png\n");
        return 2;
    }
    wxImage::AddHandler(new wxPNGHandler);
    if (!lumaweave::app::draw_app_icon(size).SaveFile(argv[2], wxBITMAP_TYPE_PNG)) {
        std::fprintf(stderr, "lumaweave-icon: could not write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
