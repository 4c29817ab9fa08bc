// What each fuzz target does with one input, for the libFuzzer targets, the replay tool and the
// regression test alike. A run returns the first rule its outcome breaks (empty when all held).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "io/scratch_pool.hpp"
#include "lumaweave.hpp"
#include "support/test_pictures.hpp"

namespace lumaweave::fuzz {

using Input = std::span<const std::uint8_t>;

// A private temporary folder, and one converter and pool reused as the program does.
struct Workspace {
    test::ScratchDir dir;
    Converter converter;
    ScratchPool pool;
};

// A convert input: one byte per settings field, in record order, picking the field's allowed
// value (byte mod count, values in ascending order); a companion byte whose bits 0-1 put a
// ".s05" beside the picture (0 none, 1 a full SCREEN 5 file, 2 a file whose length follows as
// two little-endian bytes, 3 a folder), with 1 and 2 its 32 palette bytes following, and whose
// bit 2 has 48 bytes follow that replace the default palette table in use (255 standing for the
// largest number); the rest is the ".bmp" file. The fuzz target skips inputs longer than
// max_convert_input, to keep each run quick.
inline constexpr std::size_t max_convert_input = 16384;
// The settings a convert input asks for (its first setting_fields().size() bytes).
ConversionSettings convert_settings(Input input);
std::string run_convert(Workspace& ws, Input input);
// The input is a whole ".s05" file, read as a picture's companion palette.
std::string run_s05(Workspace& ws, Input input);
// The first byte gives n (byte mod 49) for direct reads of both palette keys; the rest is a
// configuration file's text, read directly and through load_palette_config.
std::string run_config(Workspace& ws, Input input);

// The input is a BMP file, read by the reader of every kind (and, when it is one, by the classic
// 24-bit reader too: both must give the same pixels). Pictures of more than max_bmp_pixels are
// only checked up to their layout, to keep each run quick.
inline constexpr std::size_t max_bmp_pixels = 1 << 16;
std::string run_bmp(Workspace& ws, Input input);
// Framing of decoded pixels: bytes 0-1 the size (1 + byte % 64 each), 2 the orientation tag
// (1 + byte % 8), 3 the framing (fit, fill, stretch, pad), 4 bit 0 nearest, bits 1-2 the alpha
// (opaque, 0 or 255, any), bit 3 a position correction, 5 the pixel aspect (0.5 + byte / 128),
// 6-8 the background; the rest, repeated, the pixels' bytes.
std::string run_frame(Workspace& ws, Input input);

struct Target {
    const char* name;
    std::string (*run)(Workspace&, Input);
};
inline constexpr Target targets[] = {{"convert", run_convert},
                                     {"s05", run_s05},
                                     {"config", run_config},
                                     {"bmp", run_bmp},
                                     {"frame", run_frame}};

// The libFuzzer entry of the named target: one run, aborting when a rule broke.
int fuzz_one(const char* target, Input input);

// What a refused conversion leaves: black images, no sizes, no source.
bool empty_result(const Result& r);
// The rules a conversion of BMP file `file` under `s` must follow: its size, the source it took
// (the middle rows, the columns from the correction on), the VRAM image, a preview that shows
// exactly what the VRAM image holds, and the "TEST_" picture made from the preview. Returns the
// first rule broken, or "".
std::string check_converted(const Result& r, Input file, const ConversionSettings& s);

}  // namespace lumaweave::fuzz
