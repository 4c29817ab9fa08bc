// Replays the fuzz targets' seeds and every input that once made a target fail, through the
// same harness the fuzzers run, so a fixed fault stays fixed in the normal test suite.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/fitting.hpp"
#include "fuzz/harness.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;

namespace {

namespace fs = std::filesystem;

const fs::path fuzz_data = LUMAWEAVE_FUZZ_DATA;

std::vector<fs::path> inputs_in(const fs::path& folder) {
    std::vector<fs::path> files;
    if (!fs::is_directory(folder)) return files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

using Run = std::string (*)(fuzz::Workspace&, std::span<const std::uint8_t>);

struct Target {
    const char* name;
    Run run;
};

void PrintTo(const Target& target, std::ostream* os) {
    *os << target.name;
}

class FuzzInputs : public ::testing::TestWithParam<Target> {};

// Every seed is a valid or near-valid input and every regression input once made the target
// fail (tests/fuzz/regressions/<target>/, kept with the fix): all of them must pass its checks.
TEST_P(FuzzInputs, SavedInputsPassEveryCheck) {
    const auto seeds = inputs_in(fuzz_data / "corpus" / GetParam().name);
    ASSERT_FALSE(seeds.empty()) << "no seeds for " << GetParam().name;
    auto files = inputs_in(fuzz_data / "regressions" / GetParam().name);
    files.insert(files.end(), seeds.begin(), seeds.end());
    fuzz::Workspace ws;
    for (const fs::path& file : files) {
        const auto bytes = test::read_file(file);
        EXPECT_EQ(GetParam().run(ws, bytes), "") << file;
    }
}

// The convert seeds start the fuzzer in every fitting mode, both refinement tests, the Hue
// search and with each kind of companion file, so none of them waits on a lucky mutation.
TEST(FuzzSeeds, ConvertSeedsReachEveryMode) {
    bool column = false, vertical = false, circular = false, refine_a = false, refine_b = false;
    bool hue_search = false, companion_file = false, companion_folder = false;
    for (const fs::path& file : inputs_in(fuzz_data / "corpus" / "convert")) {
        const auto bytes = test::read_file(file);
        const ConversionSettings s = fuzz::convert_settings(bytes);
        const FitMode mode = main_pass_mode(s);
        column = column || mode == FitMode::column;
        vertical = vertical || mode == FitMode::vertical_cell;
        circular = circular || mode == FitMode::circular_cell;
        const bool column_refinement = s.vertical_error_ratio == 8 && s.lumi_sort;
        refine_a = refine_a || (s.block_noise && column_refinement);
        refine_b = refine_b || (s.mix && !column_refinement);
        hue_search = hue_search || (s.hue != 0 && !s.index_0);
        const int companion = fuzz::convert_companion(bytes) & 3;
        companion_file = companion_file || companion == 1 || companion == 2;
        companion_folder = companion_folder || companion == 3;
    }
    EXPECT_TRUE(column);
    EXPECT_TRUE(vertical);
    EXPECT_TRUE(circular);
    EXPECT_TRUE(refine_a);
    EXPECT_TRUE(refine_b);
    EXPECT_TRUE(hue_search);
    EXPECT_TRUE(companion_file);
    EXPECT_TRUE(companion_folder);
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzInputs,
                         ::testing::Values(Target{"convert", fuzz::run_convert},
                                           Target{"s05", fuzz::run_s05},
                                           Target{"config", fuzz::run_config}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
