// Converting ahead on worker threads while the batch writes in list order: the same bytes and
// the same first failure as the sequential batch.
#include <gtest/gtest.h>

#include <filesystem>
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

// Runs the batch over `names` in a folder that `setup` fills, converting in place (workers 0)
// or on worker threads.
Outcome run(const std::function<void(const fs::path&)>& setup, const Names& names, int workers,
            bool export_on, const ConversionSettings& settings = {}) {
    test::ScratchDir dir;
    setup(dir.path());
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

void put(const fs::path& file, int width, int height, int seed) {
    test::write_file(file, test::make_noise_bmp(width, height, static_cast<std::uint32_t>(seed)));
}

}  // namespace

TEST(ParallelBatch, WritesWhatTheSequentialBatchWritesUpToTheSameFirstFailure) {
    const ConversionSettings settings{.palette = 2, .hue = 2, .index_0 = 0};
    // Jobs are dealt round: on two workers s2 follows the 256 x 192 picture on worker 0.
    const auto setup = [](const fs::path& d) {
        put(d / "big.bmp", 256, 192, 1);
        put(d / "s1.bmp", 16, 16, 2);
        put(d / "s2.bmp", 16, 16, 3);
        put(d / "notes.txt", 16, 16, 4);
        put(d / "s3.bmp", 24, 16, 5);
        put(d / "tall.bmp", 16, 200, 6);  // refused
        put(d / "s4.bmp", 16, 16, 7);
        test::write_file(d / "s4.S02", {9});
    };
    const Names names = {"big.bmp", "s1.bmp",   "s2.bmp", "notes.txt",
                         "s3.bmp",  "tall.bmp", "s4.bmp"};
    const Outcome sequential = run(setup, names, 0, true, settings);
    EXPECT_EQ(sequential.message, msg::height_exceeds_192);
    EXPECT_EQ(sequential.files.size(), 7u + 4 * 2 + 1);
    EXPECT_EQ(sequential.files.at("s4.S02"), std::vector<std::uint8_t>{9});
    // Nothing of the large picture shows in the small one converted after it.
    EXPECT_EQ(sequential.files.at("s2.S02"),
              run(setup, {"s2.bmp"}, 0, false, settings).files.at("s2.S02"));
    for (int workers : {1, 2, 3}) {
        const Outcome parallel = run(setup, names, workers, true, settings);
        EXPECT_EQ(parallel.message, sequential.message);
        EXPECT_TRUE(parallel.files == sequential.files) << workers;
        EXPECT_TRUE(parallel.in_turn.empty());
    }
}

TEST(ParallelBatch, FileThatAnEarlierFileWritesIsConvertedAfterIt) {
    // TEST_x.bmp is replaced by x's export before its turn; link.bmp leads to y's export, which
    // does not exist when the batch starts.
    const auto setup = [](const fs::path& d) {
        put(d / "x.bmp", 16, 16, 1);
        put(d / "TEST_x.bmp", 24, 24, 2);
        put(d / "y.bmp", 16, 24, 3);
        put(d / "w.bmp", 16, 16, 4);
        fs::create_symlink("TEST_y.bmp", d / "link.bmp");
    };
    const Names names = {"x.bmp", "TEST_x.bmp", "y.bmp", "w.bmp", "link.bmp"};
    const Outcome sequential = run(setup, names, 0, true);
    ASSERT_EQ(sequential.message, msg::ended);
    // What TEST_x.bmp held at the start would have given instead.
    ASSERT_NE(sequential.files.at("TEST_x.S02"),
              run(setup, {"TEST_x.bmp"}, 0, false).files.at("TEST_x.S02"));
    const Outcome parallel = run(setup, names, 3, true);
    EXPECT_EQ(parallel.message, msg::ended);
    EXPECT_TRUE(parallel.files == sequential.files);
    EXPECT_EQ(parallel.in_turn, (std::vector<int>{1, 4}));
    // Without exports nothing the batch writes is read again.
    const Outcome plain = run(setup, names, 3, false);
    EXPECT_TRUE(plain.in_turn.empty());
    EXPECT_EQ(plain.message, msg::file_not_found);  // link.bmp leads nowhere
}
