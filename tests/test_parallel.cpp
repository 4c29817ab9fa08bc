// Converting ahead on worker threads: the same bytes and first failure as the sequential batch.
#include <gtest/gtest.h>

#include <map>

#include "batch/parallel.hpp"
#include "support/batch_host.hpp"

using namespace lumaweave;
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

namespace {

struct Outcome {
    std::string message;
    std::vector<int> in_turn;                                // jobs left for their turn
    std::map<std::string, std::vector<std::uint8_t>> files;  // the folder afterwards
};

// Runs the batch over `names` in a copy of `folder`, converting in place (workers 0) or on
// worker threads.
Outcome run(const fs::path& folder, const Names& names, int workers, bool export_on,
            const ConversionSettings& settings = {}) {
    test::ScratchDir dir;
    fs::copy(folder, dir.path(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    Names paths;
    for (const std::string& n : names)
        paths.push_back((dir / n).string());
    const DefaultPalettes palettes;
    Batch batch(settings, palettes);
    test::RecordingHost host(batch);
    host.preview_on = false;
    host.export_on = export_on;
    batch.on_drop_files(host, paths);
    Outcome out;
    if (workers == 0) {
        out.message = batch.run_batch(host);
    } else {
        ParallelConverter parallel(settings, palettes, paths, export_on, workers);
        out.in_turn = parallel.jobs_converted_in_turn();
        out.message = batch.run_batch(host, parallel);
    }
    for (const auto& entry : fs::directory_iterator(dir.path()))
        out.files[entry.path().filename().string()] = test::read_file(entry.path());
    return out;
}

void put(const fs::path& file, int width, int height, std::uint32_t seed) {
    test::write_file(file, test::make_noise_bmp(width, height, seed));
}

}  // namespace

TEST(ParallelBatch, WritesWhatTheSequentialBatchWritesUpToTheSameFirstFailure) {
    const ConversionSettings settings{.palette = 2, .hue = 2, .index_0 = 0};
    // Jobs are dealt round: on two workers s2 follows the 256 x 192 picture on worker 0.
    test::ScratchDir d;
    put(d / "big.bmp", 256, 192, 1);
    put(d / "s1.bmp", 16, 16, 2);
    put(d / "s2.bmp", 16, 16, 3);
    put(d / "notes.txt", 16, 16, 4);
    put(d / "s3.bmp", 24, 16, 5);
    put(d / "tall.bmp", 16, 200, 6);  // refused
    put(d / "s4.bmp", 16, 16, 7);
    test::write_file(d / "s4.S02", {9});
    const Names names = {"big.bmp", "s1.bmp",   "s2.bmp", "notes.txt",
                         "s3.bmp",  "tall.bmp", "s4.bmp"};
    const Outcome sequential = run(d.path(), names, 0, true, settings);
    EXPECT_EQ(sequential.message, msg::height_exceeds_192);
    EXPECT_EQ(sequential.files.at("s4.S02"), std::vector<std::uint8_t>{9});
    // Nothing of the large picture shows in the small one converted after it.
    EXPECT_EQ(sequential.files.at("s2.S02"),
              run(d.path(), {"s2.bmp"}, 0, false, settings).files.at("s2.S02"));
    for (int workers : {1, 2, 3}) {
        const Outcome parallel = run(d.path(), names, workers, true, settings);
        EXPECT_EQ(parallel.message, sequential.message);
        EXPECT_TRUE(parallel.files == sequential.files) << workers;
        EXPECT_TRUE(parallel.in_turn.empty());
    }
}

TEST(ParallelBatch, FileThatAnEarlierFileWritesIsConvertedAfterIt) {
    // TEST_x.bmp is replaced by x's export before its turn; link.bmp leads to y's export, which
    // does not exist when the batch starts.
    test::ScratchDir d;
    put(d / "x.bmp", 16, 16, 1);
    put(d / "TEST_x.bmp", 24, 24, 2);
    put(d / "y.bmp", 16, 24, 3);
    put(d / "w.bmp", 16, 16, 4);
    fs::create_symlink("TEST_y.bmp", d / "link.bmp");
    const Names names = {"x.bmp", "TEST_x.bmp", "y.bmp", "w.bmp", "link.bmp"};
    const Outcome sequential = run(d.path(), names, 0, true);
    ASSERT_EQ(sequential.message, msg::ended);
    // What TEST_x.bmp held at the start would have given instead.
    ASSERT_NE(sequential.files.at("TEST_x.S02"),
              run(d.path(), {"TEST_x.bmp"}, 0, false).files.at("TEST_x.S02"));
    const Outcome parallel = run(d.path(), names, 3, true);
    EXPECT_TRUE(parallel.message == msg::ended && parallel.files == sequential.files);
    EXPECT_EQ(parallel.in_turn, (std::vector<int>{1, 4}));
}
