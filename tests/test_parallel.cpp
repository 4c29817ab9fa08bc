// Converting ahead on worker threads while the batch writes in list order: the same bytes and
// the same first failure as the sequential batch.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "batch/batch.hpp"
#include "batch/parallel.hpp"
#include "io/messages.hpp"
#include "support/batch_host.hpp"
#include "support/conversion_fixture.hpp"

using namespace lumaweave;
namespace fs = std::filesystem;

namespace {

struct Outcome {
    std::string message;
    std::vector<int> in_turn;  // jobs the workers left for their turn
    std::map<std::string, std::vector<std::uint8_t>> files;
};

// Runs the batch over `names` in a folder that `setup` fills, on `workers` threads (0: the
// batch converts in place), and collects the folder.
Outcome run(const std::function<void(const fs::path&)>& setup,
            const std::vector<std::string>& names, int workers, bool export_on,
            const ConversionSettings& settings = {}) {
    test::ScratchDir dir;
    setup(dir.path());
    std::vector<std::string> paths;
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

void expect_same(const Outcome& a, const Outcome& b) {
    EXPECT_TRUE(a.message == b.message && a.files == b.files) << a.message;
}

void put(const fs::path& file, int width, int height, int seed) {
    test::write_file(file, test::make_noise_bmp(width, height, static_cast<std::uint32_t>(seed)));
}

}  // namespace

TEST(ParallelBatch, WritesWhatTheSequentialBatchWrites) {
    const ConversionSettings settings{.palette = 2, .hue = 2, .index_0 = 0};
    // Jobs are dealt round: on two workers s2 follows the 256 x 192 picture on worker 0.
    const auto setup = [](const fs::path& d) {
        put(d / "big.bmp", 256, 192, 1);
        put(d / "s1.bmp", 16, 16, 2);
        put(d / "s2.bmp", 16, 16, 3);
        put(d / "notes.txt", 16, 16, 4);
        put(d / "s3.bmp", 24, 16, 5);
    };
    const std::vector<std::string> names = {"big.bmp", "s1.bmp", "s2.bmp", "notes.txt", "s3.bmp"};
    const Outcome sequential = run(setup, names, 0, true, settings);
    ASSERT_EQ(sequential.message, msg::ended);
    ASSERT_EQ(sequential.files.size(), 5u + 4 * 2);
    // Nothing of the large picture shows in the small one converted after it.
    EXPECT_EQ(sequential.files.at("s2.S02"),
              run(setup, {"s2.bmp"}, 0, false, settings).files.at("s2.S02"));
    for (int workers : {1, 2, 3}) {
        SCOPED_TRACE(workers);
        const Outcome parallel = run(setup, names, workers, true, settings);
        expect_same(parallel, sequential);
        EXPECT_TRUE(parallel.in_turn.empty());
    }
}

TEST(ParallelBatch, StopsAtTheSameFailureAndWritesNothingAfterIt) {
    const auto setup = [](const fs::path& d) {
        for (const char* n : {"a.bmp", "b.bmp", "d.bmp", "e.bmp"})
            put(d / n, 16, 16, n[0]);
        put(d / "c.bmp", 16, 200, 3);  // too high
        test::write_file(d / "e.S02", {9, 9, 9});
    };
    const std::vector<std::string> names = {"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp"};
    const Outcome sequential = run(setup, names, 0, true);
    ASSERT_EQ(sequential.message, msg::height_exceeds_192);
    EXPECT_EQ(sequential.files.count("d.S02"), 0u);
    EXPECT_EQ(sequential.files.at("e.S02"), (std::vector<std::uint8_t>{9, 9, 9}));
    for (int workers : {2, 3})
        expect_same(run(setup, names, workers, true), sequential);
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
    const std::vector<std::string> names = {"x.bmp", "TEST_x.bmp", "y.bmp", "w.bmp", "link.bmp"};
    const Outcome sequential = run(setup, names, 0, true);
    ASSERT_EQ(sequential.message, msg::ended);
    // What TEST_x.bmp held at the start would have given instead.
    ASSERT_NE(sequential.files.at("TEST_x.S02"),
              run(setup, {"TEST_x.bmp"}, 0, false).files.at("TEST_x.S02"));
    const Outcome parallel = run(setup, names, 3, true);
    expect_same(parallel, sequential);
    EXPECT_EQ(parallel.in_turn, (std::vector<int>{1, 4}));
    // Without exports nothing the batch writes is read again.
    const Outcome plain = run(setup, names, 3, false);
    EXPECT_TRUE(plain.in_turn.empty());
    EXPECT_EQ(plain.message, msg::file_not_found);  // link.bmp leads nowhere
}
