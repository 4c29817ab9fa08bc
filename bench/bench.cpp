// Converts every 256 x 192 picture of a folder under named settings profiles and prints, per
// profile, the median time per picture on one core and with all cores, and the candidates
// evaluated per 8x2 block; then times lumaweave-cli converting the bundled samples, one process
// per picture, as scripts call it.
//
//   lumaweave-bench [FOLDER] [--repeat N] [--only PROFILE,...] [--cores N] [--cli PATH|none]
//
// One core: the converting thread's CPU time with the conversion on that thread alone, which
// other work on the machine disturbs less. All cores: wall-clock time with the process's pool.
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

#include "batch/thread_pool.hpp"
#include "formats/bmp.hpp"
#include "io/file_io.hpp"
#include "lumaweave.hpp"

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
