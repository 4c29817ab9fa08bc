// Replays the fuzz targets' seeds and every input that once made a target fail (kept with its
// fix in fuzz/regressions/<target>/) through the harness the fuzzers run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "convert/fitting.hpp"
#include "fuzz/harness.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
namespace fs = std::filesystem;

namespace {

std::vector<fs::path> inputs(const char* kind, const char* target) {
    std::vector<fs::path> files;
    const fs::path folder = fs::path(LUMAWEAVE_FUZZ_DATA) / kind / target;
    std::error_code missing;  // no folder: no inputs
    for (const auto& entry : fs::directory_iterator(folder, missing))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(FuzzInputs, SeedsAndRegressionsPassEveryRule) {
    fuzz::Workspace ws;
    for (const fuzz::Target& target : fuzz::targets) {
        auto files = inputs("corpus", target.name);
        EXPECT_FALSE(files.empty()) << "no seeds for " << target.name;
        for (const fs::path& file : inputs("regressions", target.name))
            files.push_back(file);
        for (const fs::path& file : files)
            EXPECT_EQ(target.run(ws, test::read_file(file)), "") << file;
    }
}

// The convert seeds start the fuzzer in every fitting mode, both refinement tests, the Hue
// search and with each kind of companion, so that none waits on a lucky mutation.
TEST(FuzzInputs, ConvertSeedsReachEveryMode) {
    std::map<std::string, int> reached;
    for (const fs::path& file : inputs("corpus", "convert")) {
        const auto bytes = test::read_file(file);
        const ConversionSettings s = fuzz::convert_settings(bytes);
        const FitMode mode = main_pass_mode(s);
        const bool column_refinement = s.vertical_error_ratio == 8 && s.lumi_sort;
        const int companion =
            bytes.size() > fuzz::settings_bytes ? bytes[fuzz::settings_bytes] & 3 : 0;
        reached["column"] += mode == FitMode::column;
        reached["vertical cell"] += mode == FitMode::vertical_cell;
        reached["circular cell"] += mode == FitMode::circular_cell;
        reached["refinement A"] += s.block_noise && column_refinement;
        reached["refinement B"] += s.mix && !column_refinement;
        reached["Hue search"] += s.hue != 0 && !s.index_0;
        reached["companion file"] += companion == 1 || companion == 2;
        reached["companion folder"] += companion == 3;
    }
    for (const auto& [what, seeds] : reached)
        EXPECT_GT(seeds, 0) << what;
    EXPECT_EQ(reached.size(), 8u);
}

}  // namespace
