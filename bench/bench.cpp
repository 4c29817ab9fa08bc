// Converts every 256 x 192 picture of a folder under named settings profiles and prints, per
// profile, the median time per picture on one core and with all cores, and the candidates
// evaluated per 8x2 block; then the time to read and frame a 6000 x 4000 JPEG made from the
// first picture (profile "jpeg"); then times lumaweave-cli converting the bundled samples, one
// process per picture, as scripts call it.
//
//   lumaweave-bench [FOLDER] [--repeat N] [--only PROFILE,...] [--cores N] [--cli PATH|none]
//
// One core: the converting thread's CPU time with the conversion on that thread alone, which
// other work on the machine disturbs less. All cores: wall-clock time with the process's pool.
// The JPEG's times are wall time, as libvips works on threads of its own.
#include <spawn.h>
#include <sys/wait.h>
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

#include "batch/thread_pool.hpp"
#include "formats/bmp.hpp"
#include "io/file_io.hpp"
#include "lumaweave.hpp"
#include "picture/codec_loader.hpp"
#include "picture/reader.hpp"
#include "picture/vips_codec.hpp"

extern char** environ;

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

struct Times {
    double median, min, max;
};

Times summary(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    const double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
    return {median, times.front(), times.back()};
}

// Best of `repeat` conversions of each picture, in ms: thread CPU time or wall time.
bool time_pictures(Converter& converter, const std::vector<std::string>& pictures,
                   const ConversionSettings& settings, int repeat, bool wall,
                   std::vector<double>& times, double& evaluations, double& blocks) {
    const DefaultPalettes palettes;
    for (const std::string& picture : pictures) {
        double best = 1e300;
        for (int r = 0; r < repeat; ++r) {
            const double t0 = now_ms(wall);
            const Result& result = converter.convert_file(picture, settings, palettes);
            const double t1 = now_ms(wall);
            if (!result.ok()) {
                std::fprintf(stderr, "%s: %s\n", picture.c_str(),
                             shown_text(result.outcome).c_str());
                return false;
            }
            best = std::min(best, t1 - t0);
        }
        times.push_back(best);
        const Result& result = converter.result();
        evaluations += static_cast<double>(result.candidates_evaluated);
        blocks += (result.width / 8) * (result.height / 2);
    }
    return true;
}

// The wall time of one run of `program` with `args`, in ms, or a negative number on failure.
double run_process(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const double t0 = now_ms(true);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    const double t1 = now_ms(true);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? t1 - t0 : -1;
}

std::string default_cli() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("lumaweave-cli") : (self.parent_path() / "lumaweave-cli").string();
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
    std::string samples = LUMAWEAVE_SAMPLES;
    std::string cli = default_cli();
    int repeat = 3;
    int cores = available_cores();
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--repeat" && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--only" && i + 1 < argc) {
            only = "," + std::string(argv[++i]) + ",";
        } else if (a == "--cores" && i + 1 < argc) {
            cores = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--cli" && i + 1 < argc) {
            cli = argv[++i];
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
    std::printf(
        "%zu pictures from %s, best of %d runs each; ms per picture, median [fastest, "
        "slowest]\n",
        pictures.size(), folder.c_str(), repeat);
    std::printf("%-10s %24s %24s %12s\n", "profile", "one core (thread CPU)",
                ("all " + std::to_string(cores) + " cores (wall)").c_str(), "evals/block");
    ThreadPool pool(cores);
    Converter one_core, all_cores(pool);
    for (const Profile& profile : profiles) {
        if (!only.empty() &&
            only.find("," + std::string(profile.name) + ",") == std::string::npos) {
            continue;
        }
        ConversionSettings settings;
        profile.apply(settings);
        std::vector<double> cpu, wall;
        double evaluations = 0, blocks = 0, unused = 0;
        if (!time_pictures(one_core, pictures, settings, repeat, false, cpu, evaluations, blocks) ||
            !time_pictures(all_cores, pictures, settings, repeat, true, wall, unused, unused)) {
            return 1;
        }
        const Times c = summary(cpu), w = summary(wall);
        char a[64], b[64];
        std::snprintf(a, sizeof a, "%.1f [%.1f, %.1f]", c.median, c.min, c.max);
        std::snprintf(b, sizeof b, "%.1f [%.1f, %.1f]", w.median, w.min, w.max);
        std::printf("%-10s %24s %24s %12.0f\n", profile.name, a, b, evaluations / blocks);
        std::fflush(stdout);
    }
    if (only.empty() || only.find(",jpeg,") != std::string::npos) {
        if (bench_large_jpeg(pictures.front(), std::max(repeat, 5)) != 0) return 1;
    }

    // The whole program as scripts call it: one process per picture, outputs into a scratch
    // folder.
    if (cli == "none") return 0;
    std::vector<std::string> bundled;
    for (const auto& e : std::filesystem::directory_iterator(samples, ec)) {
        if (e.path().extension() == ".bmp") bundled.push_back(e.path().string());
    }
    std::sort(bundled.begin(), bundled.end());
    char scratch[] = "/tmp/lumaweave-bench-XXXXXX";
    if (bundled.empty() || mkdtemp(scratch) == nullptr) return 0;
    std::vector<double> process;
    for (const std::string& picture : bundled) {
        double best = 1e300;
        for (int r = 0; r < repeat; ++r) {
            const double t = run_process(cli, {"--quiet", "-o", scratch, picture});
            if (t < 0) {
                std::fprintf(stderr, "%s failed on %s\n", cli.c_str(), picture.c_str());
                std::filesystem::remove_all(scratch, ec);
                return 1;
            }
            best = std::min(best, t);
        }
        process.push_back(best);
    }
    std::filesystem::remove_all(scratch, ec);
    const Times p = summary(process);
    std::printf(
        "%s --quiet PICTURE: %zu bundled samples, one process each, wall ms: median %.1f "
        "[%.1f, %.1f]\n",
        cli.c_str(), bundled.size(), p.median, p.min, p.max);
    return 0;
}
