// Converting ahead on worker threads while the batch writes in list order: the same files, the
// same bytes, the same first failure and stop as the sequential batch.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>

#include "batch/batch.hpp"
#include "batch/parallel.hpp"
#include "convert/convert.hpp"
#include "io/messages.hpp"
#include "support/batch_host.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> picture(int width, int height, int seed) {
    return test::make_bmp(width, height, [seed](int x, int y) {
        return test::Color{static_cast<std::uint8_t>(x * 5 + y * 3 + seed * 40),
                           static_cast<std::uint8_t>((x ^ y) * 9 + seed),
                           static_cast<std::uint8_t>(y * 7 - x * 2 + seed * 17)};
    });
}

using Files = std::map<std::string, std::vector<std::uint8_t>>;

Files folder_contents(const fs::path& folder) {
    Files out;
    for (const auto& entry : fs::directory_iterator(folder)) {
        out[entry.path().filename().string()] = test::read_file(entry.path());
    }
    return out;
}

struct Outcome {
    std::string message;
    std::vector<int> started;
    Files files;
    std::vector<int> in_turn;  // jobs the parallel converter left for their turn
};

// Prepares a fresh folder with `setup`, runs the batch over `names` (relative to it) on
// `workers` threads (0: the batch converts in place) and collects what it wrote.
Outcome run(const std::function<void(const fs::path&)>& setup,
            const std::vector<std::string>& names, int workers, bool export_on,
            const ConversionSettings& settings,
            const std::function<void(Batch&, int)>& on_events = {}) {
    test::ScratchDir dir;
    setup(dir.path());
    std::vector<std::string> paths;
    for (const std::string& n : names)
        paths.push_back((dir.path() / n).string());
    const DefaultPalettes palettes;
    Batch batch(settings, palettes);
    test::RecordingHost host(batch);
    host.preview_on = false;
    host.export_on = export_on;
    if (on_events) host.on_events = [&](int round) { on_events(batch, round); };
    batch.on_drop_files(host, paths);
    Outcome out;
    if (workers == 0) {
        out.message = batch.run_batch(host);
    } else {
        ParallelConverter parallel(settings, palettes, paths, export_on, workers);
        out.in_turn = parallel.jobs_converted_in_turn();
        out.message = batch.run_batch(host, parallel);
    }
    EXPECT_EQ(host.messages, std::vector<std::string>{out.message});
    out.started = host.started;
    out.files = folder_contents(dir.path());
    return out;
}

void expect_same(const Outcome& parallel, const Outcome& sequential) {
    EXPECT_EQ(parallel.message, sequential.message);
    EXPECT_EQ(parallel.started, sequential.started);
    ASSERT_EQ(parallel.files.size(), sequential.files.size());
    for (const auto& [name, bytes] : sequential.files) {
        const auto it = parallel.files.find(name);
        ASSERT_NE(it, parallel.files.end()) << name;
        EXPECT_TRUE(it->second == bytes) << name << " differs";
    }
}

std::vector<std::uint8_t> converted_alone(const std::vector<std::uint8_t>& source,
                                          const ConversionSettings& settings) {
    test::ScratchDir dir;
    test::write_file(dir / "p.bmp", source);
    auto conv = make_conversion();
    ScratchPool pool;
    EXPECT_EQ(convert_file(*conv, pool, (dir / "p.bmp").string(), settings, DefaultPalettes{}), "");
    return {conv->vram.begin(), conv->vram.end()};
}

}  // namespace

TEST(ParallelBatch, WritesWhatTheSequentialBatchWrites) {
    ConversionSettings settings;
    settings.hue = 2;
    settings.index_0 = 0;
    settings.palette = 2;
    // Jobs are dealt round, so with two workers the 64 x 48 picture and the 32 x 24 one share
    // worker 0, and the 16 x 16 ones follow bigger pictures on both workers.
    const auto setup = [](const fs::path& d) {
        test::write_file(d / "big.bmp", picture(64, 48, 1));
        test::write_file(d / "s1.bmp", picture(16, 16, 2));
        test::write_file(d / "mid.bmp", picture(32, 24, 3));
        test::write_file(d / "s2.bmp", picture(16, 16, 4));
        test::write_file(d / "notes.txt", picture(16, 16, 5));
        test::write_file(d / "s3.bmp", picture(24, 16, 6));
    };
    const std::vector<std::string> names = {"big.bmp", "s1.bmp",    "mid.bmp",
                                            "s2.bmp",  "notes.txt", "s3.bmp"};
    const Outcome sequential = run(setup, names, 0, true, settings);
    ASSERT_EQ(sequential.message, msg::ended);
    ASSERT_EQ(sequential.files.size(), 6u + 5 * 2);
    EXPECT_EQ(sequential.files.at("s2.S02"), converted_alone(picture(16, 16, 4), settings));
    for (int workers : {1, 2, 3, 8}) {
        SCOPED_TRACE(workers);
        const Outcome parallel = run(setup, names, workers, true, settings);
        expect_same(parallel, sequential);
        EXPECT_TRUE(parallel.in_turn.empty());
    }
}

TEST(ParallelBatch, StopsAtTheSameFailureAndWritesNothingAfterIt) {
    const auto setup = [](const fs::path& d) {
        for (const char* n : {"a.bmp", "b.bmp", "d.bmp", "e.bmp"}) {
            test::write_file(d / n, picture(16, 16, n[0]));
        }
        test::write_file(d / "c.bmp", picture(16, 200, 3));  // too high
        test::write_file(d / "e.S02", {9, 9, 9});
    };
    const std::vector<std::string> names = {"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp"};
    const Outcome sequential = run(setup, names, 0, true, ConversionSettings{});
    ASSERT_EQ(sequential.message, msg::height_exceeds_192);
    EXPECT_EQ(sequential.files.count("d.S02"), 0u);
    for (int workers : {2, 3}) {
        SCOPED_TRACE(workers);
        const Outcome parallel = run(setup, names, workers, true, ConversionSettings{});
        expect_same(parallel, sequential);
        EXPECT_EQ(parallel.files.at("e.S02"), (std::vector<std::uint8_t>{9, 9, 9}));
    }
}

TEST(ParallelBatch, StopRequestEndsTheBatchBeforeTheNextFile) {
    const auto setup = [](const fs::path& d) {
        for (const char* n : {"a.bmp", "b.bmp", "c.bmp", "d.bmp"}) {
            test::write_file(d / n, picture(16, 16, n[0]));
        }
    };
    const auto stop_after_first = [](Batch& batch, int round) {
        if (round == 1) batch.request_stop();
    };
    const std::vector<std::string> names = {"a.bmp", "b.bmp", "c.bmp", "d.bmp"};
    const Outcome parallel = run(setup, names, 3, false, ConversionSettings{}, stop_after_first);
    EXPECT_EQ(parallel.message, msg::stopped);
    EXPECT_EQ(parallel.started, std::vector<int>{0});
    EXPECT_EQ(parallel.files.count("a.S02"), 1u);
    EXPECT_EQ(parallel.files.size(), 5u);
}

TEST(ParallelBatch, FileThatAnEarlierFileWritesIsConvertedAfterIt) {
    // TEST_x.bmp is replaced by x's export before its own turn; link.bmp leads to y's export,
    // which does not exist yet when the batch starts.
    const auto setup = [](const fs::path& d) {
        test::write_file(d / "x.bmp", picture(16, 16, 1));
        test::write_file(d / "TEST_x.bmp", picture(24, 24, 2));
        test::write_file(d / "y.bmp", picture(16, 24, 3));
        test::write_file(d / "w.bmp", picture(16, 16, 4));
        fs::create_symlink("TEST_y.bmp", d / "link.bmp");
    };
    const std::vector<std::string> names = {"x.bmp", "TEST_x.bmp", "y.bmp", "w.bmp", "link.bmp"};
    const Outcome sequential = run(setup, names, 0, true, ConversionSettings{});
    ASSERT_EQ(sequential.message, msg::ended);
    // What the files held at the start would have given instead.
    ASSERT_NE(sequential.files.at("TEST_x.S02"),
              converted_alone(picture(24, 24, 2), ConversionSettings{}));
    const Outcome parallel = run(setup, names, 3, true, ConversionSettings{});
    expect_same(parallel, sequential);
    EXPECT_EQ(parallel.in_turn, (std::vector<int>{1, 4}));

    // Without exports nothing the batch writes is read again.
    const Outcome plain = run(setup, names, 3, false, ConversionSettings{});
    EXPECT_TRUE(plain.in_turn.empty());
    EXPECT_EQ(plain.message, msg::file_not_found);  // link.bmp leads nowhere
}

TEST(ParallelBatch, EachWorkerConvertsWithItsOwnConverterFromTheFactory) {
    // The factory's converters convert with settings of their own; the batch writes their
    // results in list order, as the sequential batch with those settings would.
    ConversionSettings own;
    own.gamma = -3;
    own.vertical_error_ratio = 5;
    const auto setup = [](const fs::path& d) {
        for (int i = 0; i < 5; ++i) {
            std::string name = "p";
            name += std::to_string(i);
            test::write_file(d / (name + ".bmp"), picture(24, 16, i));
        }
    };
    const std::vector<std::string> names = {"p0.bmp", "p1.bmp", "p2.bmp", "p3.bmp", "p4.bmp"};
    const Outcome sequential = run(setup, names, 0, false, own);

    test::ScratchDir dir;
    setup(dir.path());
    std::vector<std::string> paths;
    for (const std::string& n : names)
        paths.push_back((dir.path() / n).string());
    const DefaultPalettes palettes;
    const ConversionSettings batch_settings;  // not what the workers use
    Batch batch(batch_settings, palettes);
    test::RecordingHost host(batch);
    host.preview_on = false;
    batch.on_drop_files(host, paths);
    std::atomic<int> made{0};
    {
        ParallelConverter parallel(paths, false, 3, [&]() -> std::unique_ptr<FileConverter> {
            ++made;
            return std::make_unique<StandaloneConverter>(own, palettes);
        });
        EXPECT_EQ(batch.run_batch(host, parallel), msg::ended);
    }
    EXPECT_EQ(made.load(), 3);
    EXPECT_EQ(host.started, sequential.started);
    const Files files = folder_contents(dir.path());
    ASSERT_EQ(files.size(), sequential.files.size());
    for (const auto& [name, bytes] : sequential.files) {
        const auto it = files.find(name);
        ASSERT_NE(it, files.end()) << name;
        EXPECT_TRUE(it->second == bytes) << name << " differs";
    }
}
