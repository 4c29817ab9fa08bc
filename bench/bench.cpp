// Converts every 256 x 192 picture of a folder under named settings profiles and prints, per
// profile, the median time per picture and the candidates evaluated per 8x2 block; then the time
// to read and frame a 6000 x 4000 JPEG made from the first picture (profile "jpeg").
//
//   lumaweave-bench [FOLDER] [--repeat N] [--only PROFILE,...] [--wall]
//
// Times are the converting thread's CPU time unless --wall is given, so that other work on the
// machine disturbs them less; the JPEG's are wall time, as libvips works on threads of its own.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>
#include <vips/vips8>

#include "formats/bmp.hpp"
#include "io/file_io.hpp"
#include "lumaweave.hpp"
#include "picture/codec_loader.hpp"
#include "picture/reader.hpp"
#include "picture/vips_codec.hpp"

using namespace lumaweave;

namespace {

struct Profile {
    const char* name;
    void (*apply)(ConversionSettings&);
};

const Profile profiles[] = {
    {"initial", [](ConversionSettings&) {}},
    {"norefine",
     [](ConversionSettings& s) {
         s.mix = 0;
         s.block_noise = 0;
     }},
    {"vertical6",
     [](ConversionSettings& s) {
         s.mix = 0;
         s.vertical_error_ratio = 6;
         s.dither_order = 0;
     }},
    {"circular4",
     [](ConversionSettings& s) {
         s.mix = 0;
         s.vertical_error_ratio = 4;
         s.dither_order = 1;
     }},
    {"mix5", [](ConversionSettings& s) { s.vertical_error_ratio = 5; }},
    {"plain",
     [](ConversionSettings& s) {
         s.lumi_sort = 0;
         s.mix = 0;
         s.block_noise = 0;
         s.col_reduction = 0;
         s.color_no0 = 1;
     }},
};

double now_ms(bool wall) {
    if (wall) {
        return std::chrono::duration<double, std::milli>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

bool is_256x192(const std::string& path) {
    ScratchPool pool;
    const FileContents f = read_whole_file(pool, path, 0);
    return f.outcome.ok() && f.length >= 54 && bmp::get_i32(f.data + bmp::width_at) == 256 &&
           bmp::get_i32(f.data + bmp::height_at) == 192;
}

// Reading and framing (--fit, --fill) a 6000 x 4000 JPEG made from a 256 x 192 BMP picture,
// written to a temporary folder: what a photo costs before its conversion.
int bench_large_jpeg(const std::string& picture, int repeat) {
    ScratchPool pool;
    const FileContents file = read_whole_file(pool, picture, 0);
    bmp::Header header;
    if (!file.outcome.ok() || !bmp::read_header(file.bytes(), header)) return 1;
    std::vector<std::uint8_t> rgb(std::size_t{3} * header.width * header.height);
    bmp::decode_rows(file.bytes(), header, rgb.data());
    picture::use_codec(&picture::vips_codec());
    std::string failure;
    picture::load_codec(failure);  // starts libvips, outside the times
    const std::filesystem::path jpeg = std::filesystem::temp_directory_path() /
                                       ("lumaweave-bench-" + std::to_string(::getpid()) + ".jpg");
    try {
        vips::VImage::new_from_memory(rgb.data(), rgb.size(), header.width, header.height, 3,
                                      VIPS_FORMAT_UCHAR)
            .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
            .resize(6000.0 / header.width,
                    vips::VImage::option()->set("vscale", 4000.0 / header.height))
            .jpegsave(jpeg.c_str(), vips::VImage::option()->set("Q", 90));
    } catch (const vips::VError& e) {
        std::fprintf(stderr, "cannot write the JPEG: %s\n", e.what());
        return 1;
    }
    std::printf("\n6000 x 4000 JPEG from %s, read and framed, wall time, %d runs each\n",
                picture.c_str(), repeat);
    std::printf("%-10s %10s %10s\n", "framing", "median ms", "min ms");
    for (const picture::Framing framing : {picture::Framing::fit, picture::Framing::fill}) {
        picture::FramingOptions options;
        options.framing = framing;
        picture::FileReader reader(options);
        std::vector<double> times;
        for (int r = 0; r < repeat; ++r) {
            const double t0 = now_ms(true);
            const PictureReader::Picture& p = reader.read(jpeg.string(), {});
            times.push_back(now_ms(true) - t0);
            if (p.kind != PictureReader::Picture::Kind::pixels) {
                std::fprintf(stderr, "%s: %s\n", jpeg.c_str(), shown_text(p.outcome).c_str());
                return 1;
            }
        }
        std::sort(times.begin(), times.end());
        std::printf("%-10s %10.1f %10.1f\n", std::string(picture::framing_name(framing)).c_str(),
                    times[times.size() / 2], times.front());
    }
    std::filesystem::remove(jpeg);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder = "../shared/corpus";
    int repeat = 3;
    bool wall = false;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--repeat" && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--only" && i + 1 < argc) {
            only = "," + std::string(argv[++i]) + ",";
        } else if (a == "--wall") {
            wall = true;
        } else {
            folder = a;
        }
    }
    std::vector<std::string> pictures;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
        const std::string p = e.path().string();
        if (e.path().extension() == ".bmp" && is_256x192(p)) pictures.push_back(p);
    }
    std::sort(pictures.begin(), pictures.end());
    if (pictures.empty()) {
        std::fprintf(stderr, "no 256 x 192 BMP pictures in %s\n", folder.c_str());
        return 1;
    }
    std::printf("%zu pictures from %s, %s time, best of %d runs each\n", pictures.size(),
                folder.c_str(), wall ? "wall" : "thread CPU", repeat);
    std::printf("%-10s %10s %10s %10s %14s\n", "profile", "median ms", "min ms", "max ms",
                "evals/block");
    Converter converter;
    const DefaultPalettes palettes;
    for (const Profile& profile : profiles) {
        if (!only.empty() &&
            only.find("," + std::string(profile.name) + ",") == std::string::npos) {
            continue;
        }
        ConversionSettings settings;
        profile.apply(settings);
        std::vector<double> times;
        double evaluations = 0, blocks = 0;
        for (const std::string& picture : pictures) {
            double best = 1e300;
            for (int r = 0; r < repeat; ++r) {
                const double t0 = now_ms(wall);
                const Result& result = converter.convert_file(picture, settings, palettes);
                const double t1 = now_ms(wall);
                if (!result.ok()) {
                    std::fprintf(stderr, "%s: %s\n", picture.c_str(),
                                 shown_text(result.outcome).c_str());
                    return 1;
                }
                best = std::min(best, t1 - t0);
            }
            times.push_back(best);
            const Result& result = converter.result();
            evaluations += static_cast<double>(result.candidates_evaluated);
            blocks += (result.width / 8) * (result.height / 2);
        }
        std::vector<double> sorted = times;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t n = sorted.size();
        const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
        std::printf("%-10s %10.1f %10.1f %10.1f %14.0f\n", profile.name, median, sorted.front(),
                    sorted.back(), evaluations / blocks);
        std::fflush(stdout);
    }
    if (only.empty() || only.find(",jpeg,") != std::string::npos)
        return bench_large_jpeg(pictures.front(), std::max(repeat, 5));
    return 0;
}
