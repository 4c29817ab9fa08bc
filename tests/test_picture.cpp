// Pictures of every format and BMP kind, read and framed for the conversion: the same pixels give
// the same bytes whatever the file, orientation and transparency are taken into account, framing
// puts the pixels where they belong, and bad files are refused with a reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "batch/output.hpp"
#include "formats/bmp_reader.hpp"
#include "picture/codec_loader.hpp"
#include "picture/reader.hpp"
#include "picture/vips_codec.hpp"
#include "support/picture_files.hpp"

using namespace lumaweave;
using namespace lumaweave::test;
using picture::Framing, picture::FramingOptions, picture::Resample;
namespace fs = std::filesystem;

namespace {

// The tests use the codec linked into them; the program loads the same code as a module.
const auto* linked_codec = ::testing::AddGlobalTestEnvironment([] {
    struct Linked : ::testing::Environment {
        void SetUp() override { picture::use_codec(&picture::vips_codec()); }
    };
    return new Linked;
}());

// What the reader makes of a file: its pixels (a BMP the core reads itself is decoded as the
// core decodes it), or the failure.
struct ReadResult {
    Outcome outcome;
    RgbPicture picture;
};

ReadResult read_picture(const fs::path& file, const FramingOptions& options = {},
                        const ConversionSettings& settings = {}) {
    picture::FileReader reader(options);
    const PictureReader::Picture& p = reader.read(file.string(), settings);
    ReadResult r;
    switch (p.kind) {
        case PictureReader::Picture::Kind::failed:
            r.outcome = p.outcome;
            break;
        case PictureReader::Picture::Kind::pixels:
            r.picture = {
                p.pixels.width, p.pixels.height, {p.pixels.rgb.begin(), p.pixels.rgb.end()}};
            break;
        case PictureReader::Picture::Kind::bmp_bytes: {
            // The conversion's source is the picture itself for a picture it need not crop.
            const Result& c = Converter().convert_bmp(p.bmp);
            r.outcome = c.outcome;
            r.picture = {c.width, c.height, c.source};
        }
    }
    return r;
}

// The ".S02" bytes of a file read through the reader (empty when it fails).
std::vector<std::uint8_t> s02(const fs::path& file, const FramingOptions& options = {}) {
    Converter converter;
    picture::FileReader reader(options);
    Result failure;
    const Result& r = convert_file_with(converter, &reader, failure, file.string(), {}, {});
    EXPECT_TRUE(r.ok()) << file << ": " << shown_text(r.outcome);
    return r.ok() ? r.vram : std::vector<std::uint8_t>{};
}

// A picture of at most `colours` colours in runs of random lengths (so that RLE files hold runs
// and literal groups).
RgbPicture runs_picture(int width, int height, int colours, bool grey, std::uint32_t seed) {
    Lcg lcg{seed};
    std::vector<Color> table;
    for (int i = 0; i < colours; ++i) {
        const auto v = std::uint8_t(lcg.next());
        table.push_back(grey ? Color{v, v, v}
                             : Color{v, std::uint8_t(lcg.next()), std::uint8_t(lcg.next())});
    }
    RgbPicture p{width, height, {}};
    Color c = table[0];
    for (int i = 0, left = 0; i < width * height; ++i, --left) {
        if (left <= 0) c = table[lcg.below(std::uint32_t(colours))], left = int(lcg.below(6));
        p.rgb.insert(p.rgb.end(), {c.r, c.g, c.b});
    }
    return p;
}

RgbPicture two_colours(int width, int height, Color left, Color right) {
    RgbPicture p{width, height, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Color c = x < width / 2 ? left : right;
            p.rgb.insert(p.rgb.end(), {c.r, c.g, c.b});
        }
    }
    return p;
}

void write_png_file(const fs::path& path, const RgbPicture& p, PngKind kind = PngKind::rgb8) {
    write_file(path, write_png(RgbaPicture::opaque(p), kind));
}

FramingOptions framing(Framing f, double aspect = 1) {
    FramingOptions o;
    o.framing = f;
    o.pixel_aspect = aspect;
    return o;
}

bool near(const Color& a, const Color& b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

std::string shown(const Color& c) {
    return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

}  // namespace

// The same pixels stored every way give the same ".S02" bytes as the 24-bit BMP.
TEST(Pictures, SamePixelsGiveTheSameBytesInEveryFormatAndBmpKind) {
    ScratchDir dir;
    for (const bool grey : {false, true}) {
        const RgbPicture p = runs_picture(48, 44, grey ? 120 : 200, grey, grey ? 7 : 3);
        const RgbaPicture rgba = RgbaPicture::opaque(p);
        write_file(dir / "ref.bmp", p.bmp());
        const std::vector<std::uint8_t> want =
            Converter().convert_file((dir / "ref.bmp").string()).vram;
        struct Case {
            const char* name;
            std::vector<std::uint8_t> bytes;  // empty: written with libvips
        };
        std::vector<Case> cases = {
            {"bmp8.bmp", write_bmp(rgba, {.bits = 8})},
            {"rle8.bmp", write_bmp(rgba, {.bits = 8, .compression = 1})},
            {"bmp32.bmp", write_bmp(rgba, {.bits = 32})},
            {"bmp32v5.bmp", write_bmp(rgba, {.bits = 32,
                                             .compression = 3,
                                             .header = 124,
                                             .masks = {0xFF00, 0xFF0000, 0xFF000000, 0xFF}})},
            {"topdown.bmp", write_bmp(rgba, {.top_down = true})},
            {"core8.bmp", write_bmp(rgba, {.bits = 8, .header = 12})},
            {"bmp-named.png", write_bmp(rgba, {.bits = 8, .header = 108})},
            {"rgb.png", write_png(rgba, PngKind::rgb8)},
            {"palette.png", write_png(rgba, PngKind::palette8)},
            {"deep.png", write_png(rgba, PngKind::rgb16)},
            {"alpha.png", write_png(rgba, PngKind::rgba8)},
            {"lossless.webp", {}},
            {"plain.tif", {}},
        };
        if (grey) cases.push_back({"grey.png", write_png(rgba, PngKind::grey8)});
        for (const Case& c : cases) {
            if (c.bytes.empty()) {
                write_with_vips(dir / c.name, rgba, false);
            } else {
                write_file(dir / c.name, c.bytes);
            }
            EXPECT_EQ(s02(dir / c.name), want) << c.name << (grey ? " (grey)" : "");
        }
    }
}

// A 16-bit BMP, 5-5-5 or 5-6-5, a 4-bit and its RLE4, a 1-bit: the colours the bits hold.
TEST(Pictures, SmallerBmpKindsReadTheColoursTheirBitsHold) {
    ScratchDir dir;
    auto five = [](std::uint32_t v) { return std::uint8_t((v * 255 + 15) / 31); };
    RgbPicture p{32, 16, {}};
    for (int i = 0; i < 32 * 16; ++i)
        p.rgb.insert(p.rgb.end(), {five(i % 32), five((i / 32) % 32), five((i * 7) % 32)});
    const RgbaPicture rgba = RgbaPicture::opaque(p);
    write_file(dir / "a.bmp", write_bmp(rgba, {.bits = 16}));
    EXPECT_EQ(read_picture(dir / "a.bmp").picture.rgb, p.rgb);
    // 5-6-5: the 6-bit green is read as such.
    write_file(dir / "b.bmp",
               write_bmp(rgba, {.bits = 16, .compression = 3, .masks = {0xF800, 0x7E0, 0x1F, 0}}));
    const RgbPicture b = read_picture(dir / "b.bmp").picture;
    ASSERT_EQ(b.rgb.size(), p.rgb.size());
    for (std::size_t i = 0; i < p.rgb.size(); ++i)
        EXPECT_LE(std::abs(b.rgb[i] - p.rgb[i]), i % 3 == 1 ? 2 : 0) << i;
    for (const int bits : {1, 4}) {
        const RgbPicture q = runs_picture(32, 16, 1 << bits, false, 11);
        for (const int compression : {0, bits == 4 ? 2 : 0}) {
            write_file(dir / "c.bmp", write_bmp(RgbaPicture::opaque(q),
                                                {.bits = bits, .compression = compression}));
            EXPECT_EQ(read_picture(dir / "c.bmp").picture.rgb, q.rgb) << bits << " " << compression;
        }
    }
}

// A JPEG whose orientation tag turns it is read upright: the red corner lands where the tag says.
TEST(Pictures, JpegOrientationIsApplied) {
    ScratchDir dir;
    RgbaPicture stored{16, 32, {}};
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 16; ++x) {
            const bool corner = x < 8 && y < 8;
            stored.rgba.insert(stored.rgba.end(), {std::uint8_t(corner ? 230 : 20), 20,
                                                   std::uint8_t(corner ? 20 : 230), 255});
        }
    }
    const struct {
        int orientation;
        int width, height, corner_x, corner_y;  // upright size; where the red corner is
    } cases[] = {{1, 16, 32, 0, 0}, {3, 16, 32, 8, 24}, {6, 32, 16, 24, 0}, {8, 32, 16, 0, 8}};
    for (const auto& c : cases) {
        write_with_vips(dir / "o.jpg", stored, false, c.orientation);
        const ReadResult r = read_picture(dir / "o.jpg");
        ASSERT_TRUE(r.outcome.ok()) << shown_text(r.outcome);
        ASSERT_EQ(std::tie(r.picture.width, r.picture.height), std::tie(c.width, c.height));
        for (int y = 0; y < c.height; y += 2) {
            for (int x = 0; x < c.width; x += 2) {
                const bool corner =
                    x >= c.corner_x && x < c.corner_x + 8 && y >= c.corner_y && y < c.corner_y + 8;
                const Color got = r.picture.at(x, y);
                if ((x % 8 == 7 || x % 8 == 0) || (y % 8 == 7 || y % 8 == 0)) continue;  // edges
                EXPECT_EQ(got.r > got.b, corner)
                    << "orientation " << c.orientation << " at " << x << "," << y;
            }
        }
    }
}

// Transparency: a PNG (and a 32-bit BMP) with alpha gives what the same picture flattened over
// the background gives; a 32-bit BMP whose fourth bytes are all zero is opaque.
TEST(Pictures, TransparentPixelsAreLaidOverTheBackground) {
    ScratchDir dir;
    const RgbPicture p = make_noise(32, 24, 5);
    RgbaPicture rgba = RgbaPicture::opaque(p);
    const picture::Colour background{32, 64, 96};
    RgbPicture flat = p;
    for (int i = 0; i < 32 * 24; ++i) {
        const int a = i % 3 == 0 ? 0 : i % 3 == 1 ? 255 : 100;
        rgba.rgba[4 * i + 3] = std::uint8_t(a);
        const int bg[3] = {background.r, background.g, background.b};
        for (int k = 0; k < 3; ++k)
            flat.rgb[3 * i + k] =
                std::uint8_t((p.rgb[3 * i + k] * a + bg[k] * (255 - a) + 127) / 255);
    }
    write_file(dir / "flat.bmp", flat.bmp());
    const std::vector<std::uint8_t> want =
        Converter().convert_file((dir / "flat.bmp").string()).vram;
    write_file(dir / "t.png", write_png(rgba, PngKind::rgba8));
    write_file(dir / "t.bmp", write_bmp(rgba, {.bits = 32}));
    FramingOptions options;
    options.background = background;
    EXPECT_EQ(s02(dir / "t.png", options), want);
    EXPECT_EQ(s02(dir / "t.bmp", options), want);
    // Alpha zero everywhere: the file does not use it.
    for (int i = 0; i < 32 * 24; ++i)
        rgba.rgba[4 * i + 3] = 0;
    write_file(dir / "z.bmp", write_bmp(rgba, {.bits = 32}));
    write_file(dir / "o.bmp", p.bmp());
    EXPECT_EQ(s02(dir / "z.bmp", options), Converter().convert_file((dir / "o.bmp").string()).vram);
}

// Where framing puts a picture, for sizes and shapes whose right answer is known: the canvas, the
// picture's place, the padding's colour, the pixel aspect, whole-number factors with nearest.
TEST(Framing, PlansScaleAndPlaceAsEachFramingSays) {
    const struct {
        Framing framing;
        int width, height;
        double aspect;
        Resample resample;
        picture::FramePlan want;  // crop x, y, w, h; scaled w, h; left, top
    } cases[] = {
        {Framing::fit, 512, 192, 1, Resample::smooth, {0, 0, 512, 192, 256, 96, 0, 48}},
        {Framing::fit, 100, 50, 1, Resample::smooth, {0, 0, 100, 50, 256, 128, 0, 32}},
        {Framing::fit, 256, 192, 8.0 / 7, Resample::smooth, {0, 0, 256, 192, 224, 192, 16, 0}},
        {Framing::fill, 512, 192, 1, Resample::smooth, {128, 0, 256, 192, 256, 192, 0, 0}},
        {Framing::fill, 256, 384, 1, Resample::smooth, {0, 96, 256, 192, 256, 192, 0, 0}},
        {Framing::fill, 16384, 1, 1, Resample::smooth, {8191, 0, 1, 1, 256, 192, 0, 0}},
        {Framing::stretch, 30, 500, 1, Resample::smooth, {0, 0, 30, 500, 256, 192, 0, 0}},
        {Framing::pad, 100, 50, 1, Resample::smooth, {0, 0, 100, 50, 100, 50, 78, 71}},
        {Framing::pad, 300, 50, 2, Resample::smooth, {22, 0, 256, 50, 256, 50, 0, 71}},
        {Framing::fit, 40, 30, 1, Resample::nearest, {0, 0, 40, 30, 240, 180, 8, 6}},
        {Framing::fit, 1024, 768, 1, Resample::nearest, {0, 0, 1024, 768, 256, 192, 0, 0}},
        {Framing::fit, 1000, 700, 1, Resample::nearest, {0, 0, 1000, 700, 250, 175, 3, 8}},
        {Framing::fit, 40, 30, 8.0 / 7, Resample::nearest, {0, 0, 40, 30, 200, 180, 28, 6}},
        {Framing::fill, 100, 100, 1, Resample::nearest, {7, 18, 86, 64, 258, 192, -1, 0}},
    };
    for (const auto& c : cases) {
        FramingOptions o{c.framing, c.aspect, {}, c.resample};
        const picture::FramePlan p = picture::plan_frame(c.width, c.height, o);
        const picture::FramePlan& w = c.want;
        EXPECT_EQ(std::tie(p.crop_x, p.crop_y, p.crop_width, p.crop_height, p.scaled_width,
                           p.scaled_height, p.left, p.top),
                  std::tie(w.crop_x, w.crop_y, w.crop_width, w.crop_height, w.scaled_width,
                           w.scaled_height, w.left, w.top))
            << picture::framing_name(c.framing) << " " << c.width << "x" << c.height << " "
            << c.aspect;
        EXPECT_EQ(std::tie(p.canvas_width, p.canvas_height), std::tuple(256, 192));
    }
    // A position correction widens the canvas by 8 columns, the picture in their middle.
    const picture::FramePlan wide = picture::plan_frame(512, 192, framing(Framing::fit), 3);
    EXPECT_EQ(std::tie(wide.canvas_width, wide.left), std::tuple(264, 4));
    EXPECT_TRUE(picture::plan_frame(256, 192, framing(Framing::pad)).identity(256, 192));
    EXPECT_FALSE(picture::plan_frame(256, 192, framing(Framing::fit, 8.0 / 7)).identity(256, 192));
}

// The framed pixels themselves, read from PNG files and (through the same code once they are
// pixels) from BMP files.
TEST(Framing, FramedPixelsAreWhereThePlanPutsThem) {
    ScratchDir dir;
    const Color red{220, 30, 30}, blue{30, 30, 220}, bg{0, 200, 100};
    FramingOptions options;
    options.background = {bg.r, bg.g, bg.b};
    auto framed = [&](const fs::path& file, Framing framing, double aspect = 1,
                      Resample resample = Resample::smooth) {
        options.framing = framing;
        options.pixel_aspect = aspect;
        options.resample = resample;
        const ReadResult r = read_picture(file, options);
        EXPECT_TRUE(r.outcome.ok()) << shown_text(r.outcome);
        EXPECT_EQ(std::tie(r.picture.width, r.picture.height), std::tuple(256, 192));
        return r.picture;
    };
    // 512 x 192, red and blue halves. Points away from the halves' meeting line.
    write_png_file(dir / "wide.png", two_colours(512, 192, red, blue));
    write_file(dir / "wide.bmp",
               write_bmp(RgbaPicture::opaque(two_colours(512, 192, red, blue)), {.bits = 8}));
    write_png_file(dir / "wider.png", two_colours(2048, 768, red, blue));  // reduced on loading
    const struct {
        Framing framing;
        int x, y;
        Color want;
    } points[] = {
        {Framing::fit, 10, 20, bg},         {Framing::fit, 10, 47, bg},
        {Framing::fit, 10, 50, red},        {Framing::fit, 250, 140, blue},
        {Framing::fit, 200, 144, bg},       {Framing::fill, 60, 100, red},
        {Framing::fill, 200, 0, blue},      {Framing::stretch, 5, 5, red},
        {Framing::stretch, 250, 190, blue},
    };
    for (const char* name : {"wide.png", "wide.bmp", "wider.png"}) {
        for (const Framing framing : {Framing::fit, Framing::fill, Framing::stretch}) {
            const RgbPicture f = framed(dir / name, framing);
            for (const auto& pt : points) {
                if (pt.framing != framing) continue;
                EXPECT_TRUE(near(f.at(pt.x, pt.y), pt.want, 2))
                    << name << " " << picture::framing_name(framing) << " at " << pt.x << ","
                    << pt.y << ": " << shown(f.at(pt.x, pt.y));
            }
        }
    }
    EXPECT_EQ(framed(dir / "wide.png", Framing::fit).rgb,
              framed(dir / "wide.bmp", Framing::fit).rgb);

    // --pad: 1:1 in the middle, the padding exactly the background.
    const RgbPicture small = make_noise(100, 50, 9);
    write_png_file(dir / "small.png", small);
    const RgbPicture padded = framed(dir / "small.png", Framing::pad);
    for (int y = 0; y < 192; ++y) {
        for (int x = 0; x < 256; ++x) {
            const bool inside = x >= 78 && x < 178 && y >= 71 && y < 121;
            const Color want = inside ? small.at(x - 78, y - 71) : bg;
            ASSERT_TRUE(near(padded.at(x, y), want, 0)) << x << "," << y;
        }
    }
    // --pixel-aspect 8:7 narrows a 256 x 192 picture to 224 columns under --fit.
    write_png_file(dir / "square.png", two_colours(256, 192, red, red));
    const RgbPicture narrowed = framed(dir / "square.png", Framing::fit, 8.0 / 7);
    for (const auto& [x, want] : {std::pair{15, bg}, {16, red}, {239, red}, {240, bg}})
        EXPECT_TRUE(near(narrowed.at(x, 96), want, 2)) << x << ": " << shown(narrowed.at(x, 96));

    // Nearest: pixel art scaled by 6, each pixel a 6 x 6 block; 1024 x 768 reduced by 4.
    const RgbPicture art = make_noise(40, 30, 4);
    write_png_file(dir / "art.png", art);
    const RgbPicture big = framed(dir / "art.png", Framing::fit, 1, Resample::nearest);
    for (int y = 0; y < 180; ++y)
        for (int x = 0; x < 240; ++x)
            ASSERT_TRUE(near(big.at(8 + x, 6 + y), art.at(x / 6, y / 6), 0)) << x << "," << y;
    const RgbPicture large = make_noise(1024, 768, 8);
    write_png_file(dir / "large.png", large);
    const RgbPicture reduced = framed(dir / "large.png", Framing::fit, 1, Resample::nearest);
    for (int y = 0; y < 192; ++y)
        for (int x = 0; x < 256; ++x)
            ASSERT_TRUE(near(reduced.at(x, y), large.at(4 * x, 4 * y), 0)) << x << "," << y;

    // A picture that is already 256 x 192 is left exactly as it is by every framing.
    const RgbPicture exact = make_noise(256, 192, 2);
    write_png_file(dir / "exact.png", exact);
    for (const Framing framing : {Framing::fit, Framing::fill, Framing::stretch, Framing::pad})
        EXPECT_EQ(framed(dir / "exact.png", framing).rgb, exact.rgb);
}

// Outputs are named after the picture without its extension, whatever its length; the companion
// palette is NAME.s05.
TEST(Pictures, NamesReplaceTheWholeExtension) {
    const struct {
        const char* name;
        const char* vram;
        const char* test;
        const char* companion;
    } cases[] = {
        {"photo.jpeg", "photo.S02", "TEST_photo.bmp", "photo.s05"},
        {"dir/Photo.JPG", "dir/Photo.S02", "dir/TEST_Photo.bmp", "dir/Photo.s05"},
        {"a.b.tiff", "a.b.S02", "TEST_a.b.bmp", "a.b.s05"},
        {"art.webp", "art.S02", "TEST_art.bmp", "art.s05"},
        {"cat.bmp", "cat.S02", "TEST_cat.bmp", "cat.s05"},
        {"cat.bmp ", "cat..S02", "TEST_cat..bmp", "cat..s05"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(is_picture_name(c.name)) << c.name;
        EXPECT_EQ(
            std::tuple(vram_name(c.name), export_name(c.name), companion_palette_name(c.name)),
            std::tuple(c.vram, c.test, c.companion));
    }
    for (const char* other : {"notes.txt", "photo.jpe", "a.png.old", "x.heic"})
        EXPECT_FALSE(is_picture_name(other)) << other;
}

// A companion NAME.s05 beside a PNG gives its palette, as beside a BMP.
TEST(Pictures, CompanionPaletteOfAnyPicture) {
    ScratchDir dir;
    const RgbPicture p = make_noise(32, 16, 3);
    write_png_file(dir / "p.png", p);
    write_file(dir / "p.bmp", p.bmp());
    std::vector<std::uint8_t> s05(0x7680 + 7 + 32, 0);
    s05[0] = 0xFE;
    for (int i = 0; i < 32; ++i)
        s05[7 + 0x7680 + i] = std::uint8_t(0x35 + i);
    write_file(dir / "p.s05", s05);
    const std::vector<std::uint8_t> with = s02(dir / "p.png");
    EXPECT_EQ(with, Converter().convert_file((dir / "p.bmp").string()).vram);
    fs::remove(dir / "p.s05");
    EXPECT_NE(s02(dir / "p.png"), with);
}

// Bad and hostile files: refused with the reason, never decoded past their limits.
TEST(Pictures, BadFilesAreRefusedWithWhatIsWrong) {
    ScratchDir dir;
    const RgbaPicture p = RgbaPicture::opaque(runs_picture(32, 16, 100, false, 6));
    const std::vector<std::uint8_t> png = write_png(p, PngKind::rgb8);
    std::vector<std::uint8_t> bmp8 = write_bmp(p, {.bits = 8});
    auto with = [](std::vector<std::uint8_t> bytes, std::size_t at, std::uint32_t v) {
        put32(bytes, at, v);
        return bytes;
    };
    std::vector<std::uint8_t> rle = write_bmp(p, {.bits = 8, .compression = 1});
    auto cut = [](std::vector<std::uint8_t> bytes, std::size_t n) {
        bytes.resize(n);
        return bytes;
    };
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        Framing framing;
        Status status;
        const char* detail;  // found in the detail
    } cases[] = {
        {"cut.png",
         {png.begin(), png.begin() + std::ptrdiff_t(png.size() / 2)},
         Framing::none,
         Status::picture_unreadable,
         ""},
        {"text.png",
         {'h', 'e', 'l', 'l', 'o', '\n'},
         Framing::none,
         Status::format_not_convertible,
         "not a PNG, JPEG, GIF, WebP, TIFF or BMP picture"},
        {"empty.jpg", {}, Framing::fit, Status::format_not_convertible, "not a PNG"},
        {"bomb.png", write_png(p, PngKind::rgb8, {}, nullptr, 20000, 20000), Framing::fit,
         Status::picture_too_large, "20000 x 20000 pixels; pictures of at most 16384"},
        {"wide.png", write_png(p, PngKind::rgb8, {}, nullptr, 16000, 7000), Framing::none,
         Status::picture_too_large, "100 megapixels"},
        {"bomb.bmp", with(with(rle, 18, 16000), 22, 16000), Framing::fit, Status::picture_too_large,
         "16000 x 16000"},
        {"offset.bmp", with(bmp8, 10, 1u << 30), Framing::none, Status::format_not_convertible, ""},
        {"width.bmp", with(bmp8, 18, 0), Framing::none, Status::format_not_convertible, ""},
        {"bits.bmp", with(bmp8, 28, 7), Framing::fit, Status::format_not_convertible, ""},
        {"short.bmp",
         {bmp8.begin(), bmp8.end() - 40},
         Framing::none,
         Status::format_not_convertible,
         ""},
        {"rows.bmp", with(bmp8, 22, 17), Framing::none, Status::format_not_convertible, ""},
        {"short24.bmp", cut(write_bmp(p, {}), 60), Framing::fit, Status::format_not_convertible,
         ""},
    };
    for (const auto& c : cases) {
        write_file(dir / c.name, c.bytes);
        FramingOptions o;
        o.framing = c.framing;
        const ReadResult r = read_picture(dir / c.name, o);
        EXPECT_EQ(r.outcome.status, c.status) << c.name << ": " << shown_text(r.outcome);
        EXPECT_NE(r.outcome.detail.find(c.detail), std::string::npos)
            << c.name << ": " << r.outcome.detail;
    }
    // Every time: libvips can lose a decoder's error on a thread of its own.
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(read_picture(dir / "cut.png").outcome.status, Status::picture_unreadable) << i;
    // A missing file and a folder: the system's messages.
    fs::create_directory(dir / "folder.png");
    EXPECT_EQ(read_picture(dir / "absent.png").outcome.status, Status::file_not_found);
    EXPECT_EQ(read_picture(dir / "folder.png").outcome.status, Status::file_cannot_open);
}

// Without framing, a picture is held to the conversion's size rules before it is decoded, with
// the rule's own message; a horizontal position correction lets it be 264 wide.
TEST(Pictures, UnframedPicturesKeepTheSizeRules) {
    ScratchDir dir;
    const struct {
        int width, height, correction;
        Status status;
    } cases[] = {
        {100, 50, 0, Status::width_not_multiple_of_8},
        {640, 480, 0, Status::width_exceeds_256},
        {256, 200, 0, Status::height_exceeds_192},
        {8, 8, 0, Status::image_too_small},
        {264, 192, 3, Status::ok},
    };
    for (const auto& c : cases) {
        write_png_file(dir / "p.png", make_noise(c.width, c.height, 1));
        ConversionSettings s;
        s.horizontal_position_correction = c.correction;
        EXPECT_EQ(read_picture(dir / "p.png", {}, s).outcome.status, c.status)
            << c.width << "x" << c.height;
    }
}
