// Showing a picture on an emulated MSX: its cartridge in openMSX, started without waiting for
// it. POSIX, and apart from the standard C++ outputs (the web page has no use for it).
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace lumaweave::outputs {

inline constexpr const char* emulator_program = "openmsx";
inline constexpr const char* emulator_missing =
    "openMSX is not installed (on Debian: apt-get install openmsx cbios)";

// The openMSX program found on the PATH, or empty.
std::string find_emulator();

// Starts openMSX on the cartridge image `rom`, named `name` (".rom" is added), on C-BIOS's
// MSX1 machine or, for a picture made for an MSX2 palette, its MSX2 machine. The image is
// written into a temporary folder of its own, removed when openMSX ends. openMSX runs on in a
// session of its own, its standard output discarded. Returns an empty string, or why it could
// not be started.
std::string show_cartridge(std::span<const std::uint8_t> rom, const std::string& name, bool msx2);

}  // namespace lumaweave::outputs
