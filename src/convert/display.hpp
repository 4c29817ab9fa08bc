// The screen a picture is made for: which colours it shows colour numbers 0..15 with. `table` is
// the palette's own colours (the MSX1 or MSX2 table, or a companion ".s05" palette), as every
// conversion always assumed; any other display has 16 fixed colours of its own, which the
// fitting matches against at full precision and the preview draws.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "convert/types.hpp"

namespace lumaweave {

struct Display {
    std::string name = "table";
    // None for `table`: the colours then come from the palette choice or the companion palette.
    std::optional<Palette> colours;
    // Whether these are a video chip's own colours for an MSX1's colour numbers (the screen
    // sets no palette), rather than colours an MSX2's palette is to be set to.
    bool chip = false;

    bool table() const { return !colours.has_value(); }
    bool operator==(const Display&) const = default;
};

// The displays known by name: table, then tms9918 (a real MSX1 video chip's colours as the
// emulator most users view results in renders them).
std::span<const Display> named_displays();
const Display& table_display();
std::optional<Display> find_display(std::string_view name);

// The largest palette file read; anything longer is refused unread.
inline constexpr std::size_t max_display_file_bytes = 65536;

// A display read from palette text: 16 colours, one per line, each three whole numbers 0..255
// (red, green, blue) separated by spaces, tabs or commas. Blank lines and everything after a
// '#' are ignored. A GIMP palette (a first line "GIMP Palette") is read too: its header lines
// are skipped and the text after a colour's three numbers is its name. On failure `error` says
// what is wrong and where ("line 4: 300 is not in 0..255").
struct DisplayText {
    std::optional<Palette> colours;
    // Whether these are a video chip's own colours for an MSX1's colour numbers (the screen
    // sets no palette), rather than colours an MSX2's palette is to be set to.
    bool chip = false;
    std::string error;
};
DisplayText parse_display_text(std::string_view text);

// A display named on a command line: a known name (in any letter case), else a palette file.
// On failure `error` names the file and says what is wrong.
struct DisplayChoice {
    std::optional<Display> display;
    std::string error;
};
DisplayChoice load_display(const std::string& name_or_path);

}  // namespace lumaweave
