// Runs saved inputs through a fuzz target's harness without libFuzzer, with any compiler:
//   lumaweave_fuzz_replay TARGET FILE_OR_FOLDER...     (TARGET: convert, s05 or config)
// Prints each input that breaks a check and exits 1 if any did. Useful to reproduce a finding
// in a debugger, or to measure the coverage of a corpus.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/harness.hpp"

namespace {

namespace fs = std::filesystem;
using namespace lumaweave;

std::vector<std::uint8_t> read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s convert|s05|config FILE_OR_FOLDER...\n", argv[0]);
        return 2;
    }
    const std::string target = argv[1];
    auto run = target == "convert"  ? fuzz::run_convert
               : target == "s05"    ? fuzz::run_s05
               : target == "config" ? fuzz::run_config
                                    : nullptr;
    if (run == nullptr) {
        std::fprintf(stderr, "unknown target %s\n", argv[1]);
        return 2;
    }
    std::vector<fs::path> files;
    for (int i = 2; i < argc; ++i) {
        if (fs::is_directory(argv[i])) {
            for (const auto& entry : fs::directory_iterator(argv[i])) {
                if (entry.is_regular_file()) files.push_back(entry.path());
            }
        } else {
            files.emplace_back(argv[i]);
        }
    }
    fuzz::Workspace ws;
    int failed = 0;
    for (const fs::path& file : files) {
        const std::string failure = run(ws, read_bytes(file));
        if (!failure.empty()) {
            std::printf("%s: %s\n", file.c_str(), failure.c_str());
            ++failed;
        }
    }
    std::printf("%zu inputs, %d failed\n", files.size(), failed);
    return failed == 0 ? 0 : 1;
}
