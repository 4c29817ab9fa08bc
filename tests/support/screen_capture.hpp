// Reading pixels back from the X server's screen, as a screenshot tool does.
#pragma once

#include <cstdint>
#include <vector>

namespace lumaweave::test {

// The screen's pixels in the rectangle, red, green, blue, row by row from the top; empty when
// there is no X display.
std::vector<std::uint8_t> capture_screen(int x, int y, int width, int height);

}  // namespace lumaweave::test
