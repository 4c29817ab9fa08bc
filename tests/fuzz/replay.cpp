// Runs saved inputs through a fuzz target without libFuzzer, with any compiler, e.g. to follow
// a finding in a debugger or to measure a corpus's coverage. Prints each input that breaks a
// rule; exits 1 if any did.   Usage: lumaweave_fuzz_replay convert|s05|config FILE_OR_FOLDER...
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/harness.hpp"

namespace fs = std::filesystem;
using namespace lumaweave::fuzz;

int main(int argc, char** argv) {
    const auto* target = std::find_if(std::begin(targets), std::end(targets), [&](const Target& t) {
        return argc > 1 && std::string(argv[1]) == t.name;
    });
    if (argc < 3 || target == std::end(targets)) {
        std::fprintf(stderr, "usage: %s convert|s05|config FILE_OR_FOLDER...\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> files;
    for (int i = 2; i < argc; ++i) {
        if (!fs::is_directory(argv[i])) files.emplace_back(argv[i]);
        if (!fs::is_directory(argv[i])) continue;
        for (const auto& entry : fs::directory_iterator(argv[i]))
            if (entry.is_regular_file()) files.push_back(entry.path());
    }
    Workspace ws;
    int failed = 0;
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
        const std::string failure = target->run(ws, bytes);
        if (!failure.empty()) std::printf("%s: %s\n", file.c_str(), failure.c_str());
        failed += !failure.empty();
    }
    std::printf("%zu inputs, %d failed\n", files.size(), failed);
    return failed == 0 ? 0 : 1;
}
