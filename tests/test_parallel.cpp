// Converting ahead on worker threads: the same bytes and first failure as the sequential batch.
#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "batch/parallel.hpp"
#include "support/batch_host.hpp"

using namespace lumaweave;
using namespace lumaweave::test;
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

namespace {

struct Outcome {
    std::string message;
    std::vector<int> in_turn;                                // jobs left for their turn
    std::map<std::string, std::vector<std::uint8_t>> files;  // the folder afterwards
};

// Runs the batch, with export, over `names` in a copy of `folder`, in place (workers 0) or on
// worker threads.
const ConversionSettings settings{.palette = 2, .hue = 2, .index_0 = 0};

Outcome run(const fs::path& folder, const Names& names, int workers) {
    ScratchDir dir;
    fs::copy(folder, dir.path(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    Names paths;
    for (const std::string& n : names)
        paths.push_back((dir / n).string());
    const DefaultPalettes palettes;
    Batch batch(settings, palettes);
    RecordingHost host(batch);
    host.preview_on = false, host.export_on = true;
    batch.on_drop_files(host, paths);
    Outcome out;
    std::optional<ParallelConverter> parallel;
    if (workers > 0) parallel.emplace(settings, palettes, paths, true, workers);
    out.in_turn = parallel ? parallel->jobs_converted_in_turn() : std::vector<int>{};
    out.message = parallel ? batch.run_batch(host, *parallel) : batch.run_batch(host);
    for (const auto& entry : fs::directory_iterator(dir.path()))
        out.files[entry.path().filename().string()] = read_file(entry.path());
    return out;
}

}  // namespace

TEST(ParallelBatch, WritesWhatTheSequentialBatchWritesUpToTheSameFirstFailure) {
    // TEST_x.bmp is replaced by x's export before its turn; link.bmp leads to y's export, which
    // does not exist when the batch starts. Jobs are dealt round, so small pictures follow the
    // 256 x 192 one on its worker. The 200-row picture is refused.
    ScratchDir d;
    const Names names = {"x.bmp",  "TEST_x.bmp", "y.bmp",     "w.bmp",  "link.bmp", "big.bmp",
                         "s1.bmp", "s2.bmp",     "notes.txt", "s3.bmp", "tall.bmp", "s4.bmp"};
    const int sizes[][2] = {{16, 16}, {24, 24}, {16, 24}, {16, 16}, {},        {256, 192},
                            {16, 16}, {16, 16}, {16, 16}, {24, 16}, {16, 200}, {16, 16}};
    for (std::size_t i = 0; i < names.size(); ++i)
        if (sizes[i][0] > 0)
            put_noise(d / names[i], sizes[i][0], sizes[i][1], static_cast<std::uint32_t>(i + 1));
    fs::create_symlink("TEST_y.bmp", d / "link.bmp");
    const Outcome sequential = run(d.path(), names, 0);
    EXPECT_EQ(sequential.message, msg::height_exceeds_192);
    // What TEST_x.bmp held at the start would have given instead.
    EXPECT_NE(sequential.files.at("TEST_x.S02"),
              run(d.path(), {"TEST_x.bmp"}, 0).files.at("TEST_x.S02"));
    for (int workers : {1, 2, 3}) {
        const Outcome parallel = run(d.path(), names, workers);
        EXPECT_TRUE(parallel.message == sequential.message && parallel.files == sequential.files);
        EXPECT_EQ(parallel.in_turn, (std::vector<int>{1, 4})) << workers;
    }
}
