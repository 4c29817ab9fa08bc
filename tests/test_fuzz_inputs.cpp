// Replays the fuzz targets' seeds and every input that once made a target fail (kept with its
// fix in fuzz/regressions/<target>/) through the harness the fuzzers run.
#include <gtest/gtest.h>

#include "fuzz/harness.hpp"

using namespace lumaweave;
namespace fs = std::filesystem;

TEST(FuzzInputs, SeedsAndRegressionsPassEveryRule) {
    fuzz::Workspace ws;
    for (const fuzz::Target& target : fuzz::targets) {
        int seeds = 0;
        for (const char* kind : {"corpus", "regressions"}) {
            std::error_code missing;  // no folder: no inputs
            for (const auto& entry : fs::directory_iterator(
                     fs::path(LUMAWEAVE_FUZZ_DATA) / kind / target.name, missing)) {
                seeds += kind[0] == 'c';
                EXPECT_EQ(target.run(ws, test::read_file(entry.path())), "") << entry.path();
            }
        }
        EXPECT_GT(seeds, 0) << "no seeds for " << target.name;
    }
}
