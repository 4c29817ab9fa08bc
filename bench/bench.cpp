// Converts every 256 x 192 picture of a folder under named settings profiles and prints, per
// profile, the median time per picture and the candidates evaluated per 8x2 block.
//
//   lumaweave-bench [FOLDER] [--repeat N] [--only PROFILE,...] [--wall]
//
// Times are the converting thread's CPU time unless --wall is given, so that other work on the
// machine disturbs them less.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/bmp.hpp"
#include "io/file_io.hpp"
#include "lumaweave.hpp"

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
    return 0;
}
