// The batch: names, failure policies, stop requests, what the observer hears and in which order,
// where the outputs go, and the parallel run.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "batch/batch.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
using namespace lumaweave::test;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;

namespace {

// What the batch tells its front end, one line per call.
struct Recorder final : BatchObserver {
    Names events;
    std::vector<Outcome> failures;
    std::function<void()> on_between = [] {};

    void file_started(int i, const std::string&, int percent) override {
        events.push_back("start " + std::to_string(i) + " " + std::to_string(percent) + "%");
    }
    void file_converted(int i, const std::string&, const Result& r,
                        const outputs::PictureFiles&) override {
        events.push_back("done " + std::to_string(i) + (r.ok() ? "" : " not ok"));
    }
    void file_failed(int i, const std::string&, const Outcome& o) override {
        events.push_back("failed " + std::to_string(i) + " " + shown_text(o));
        failures.push_back(o);
    }
    void file_skipped(int i, const std::string&) override {
        events.push_back("skipped " + std::to_string(i));
    }
    void between_files() override {
        events.push_back("|");
        on_between();
    }
};

std::tuple<Status, Status, std::string, int, int, int> summary(const BatchOutcome& o) {
    return {o.status, o.first_failure.status, o.first_failure.file, o.converted, o.failed,
            o.skipped};
}

class BatchTest : public ::testing::Test {
  protected:
    std::string put(const std::string& name, int width = 16) {
        return put_noise(dir / name, width);
    }
    bool exists(const std::string& name) const { return fs::exists(dir / name); }
    BatchOutcome run(const Names& files, FailurePolicy policy = FailurePolicy::stop) {
        SettingsConverter converter(settings, palettes);
        return Batch(files, plan, policy).run(converter, recorder, stop);
    }

    ScratchDir dir;
    ConversionSettings settings;
    DefaultPalettes palettes;
    OutputPlan plan;
    StopToken stop;
    Recorder recorder;
};

}  // namespace

// Outputs go beside the source, or in the plan's folder under the same file name.
TEST(OutputNames, BmpTestAndTheNamesOfTheOutputs) {
    for (const char* name : {"a.bMp", "x.bmp \t\r\n", ".bmp"})
        EXPECT_TRUE(is_picture_name(name)) << name;
    for (const char* name : {"bmp", "a.bmpx", "a. bmp", "a_bmp"})
        EXPECT_FALSE(is_picture_name(name)) << name;
    EXPECT_EQ(export_name("/home/u/cat.BMP"), "/home/u/TEST_cat.bmp");
    EXPECT_EQ(export_name("a\\b/c.bmp"), "a\\b/TEST_c.bmp");
    EXPECT_EQ(export_name("a/b\\c.bmp"), "a/b\\TEST_c.bmp");
    OutputPlan plan;
    EXPECT_EQ(plan.paths("p/cat.bmp"), (Names{"p/cat.S02"}));
    plan.formats.push_back(&test_picture_output);
    for (const char* folder : {"out", "out/"}) {
        plan.directory = folder;
        EXPECT_EQ(plan.paths("p/cat.bmp"), (Names{"out/cat.S02", "out/TEST_cat.bmp"})) << folder;
    }
}

// Skipped names count as passed in the progress; the settings as they are when a file starts
// apply to it. The first failure ends the run and nothing after it is touched.
TEST_F(BatchTest, ConvertsBmpNamesInAnyCaseSkipsOthersAndEndsAtTheFirstFailure) {
    write_file(dir / "f.S02", {1, 2, 3});  // an earlier output beyond the failure
    const std::string narrow = put("narrow.bmp", 12);
    recorder.on_between = [&] { settings.palette = 2; };
    const BatchOutcome outcome =
        run({put("a.BMP"), put("b.txt"), put("c.bmp"), put("d.bmp "), narrow, put("f.bmp")});
    EXPECT_EQ(summary(outcome), std::tuple(Status::width_not_multiple_of_8,
                                           Status::width_not_multiple_of_8, narrow, 3, 1, 1));
    EXPECT_EQ(recorder.events, (Names{"start 0 0%", "done 0", "|", "skipped 1", "start 2 33%",
                                      "done 2", "|", "start 3 50%", "done 3", "|", "start 4 66%",
                                      "failed 4 " + text(Status::width_not_multiple_of_8)}));
    EXPECT_EQ(read_file(dir / "d..S02"), converted(dir / "d.bmp ", {.palette = 2}).vram);
    EXPECT_EQ(read_file(dir / "a.S02"), converted(dir / "a.BMP").vram);
    EXPECT_EQ(read_file(dir / "f.S02"), (Bytes{1, 2, 3}));
    EXPECT_FALSE(exists("b.S02") || exists("narrow.S02") || exists("TEST_a.bmp"));
}

// Every file is tried; the first failure is the outcome's, writing an output can fail too.
TEST_F(BatchTest, KeepGoingTriesEveryFileAndReportsTheFirstFailure) {
    fs::create_directory(dir / "b.S02");
    const std::string narrow = put("narrow.bmp", 12), missing = (dir / "missing.bmp").string();
    const BatchOutcome outcome =
        run({put("a.bmp"), narrow, missing, put("b.bmp"), put("c.bmp")}, FailurePolicy::keep_going);
    EXPECT_EQ(summary(outcome), std::tuple(Status::width_not_multiple_of_8,
                                           Status::width_not_multiple_of_8, narrow, 2, 3, 0));
    ASSERT_EQ(recorder.failures.size(), 3u);
    EXPECT_EQ(std::tuple(recorder.failures[1].status, recorder.failures[1].file),
              std::tuple(Status::file_not_found, missing));
    EXPECT_EQ(std::tuple(recorder.failures[2].status, recorder.failures[2].file,
                         recorder.failures[2].detail),
              std::tuple(Status::could_not_create, (dir / "b.S02").string(), "Is a directory"));
    EXPECT_TRUE(exists("a.S02") && exists("c.S02") && fs::is_empty(dir / "b.S02"));
}

// A request made during a file ends the run before the next one; one made after the last file
// changes nothing. The front end clears the token.
TEST_F(BatchTest, StopRequestEndsTheRunBeforeTheNextFile) {
    const Names files = {put("a.bmp"), put("b.bmp"), put("c.bmp")};
    recorder.on_between = [&] { stop.request(); };
    EXPECT_EQ(summary(run(files)), std::tuple(Status::stopped, Status::ok, "", 1, 0, 0));
    EXPECT_TRUE(exists("a.S02") && !exists("b.S02"));
    EXPECT_EQ(summary(run(files)), std::tuple(Status::stopped, Status::ok, "", 0, 0, 0));
    stop.clear();
    recorder.events.clear();
    recorder.on_between = [&] {
        if (recorder.events.size() == 3 * 3) stop.request();
    };
    EXPECT_EQ(summary(run(files)), std::tuple(Status::ok, Status::ok, "", 3, 0, 0));
    EXPECT_EQ(recorder.events[6], "start 2 66%");
}

// The plan is read as each file is written: formats added during a run apply to the files after.
TEST_F(BatchTest, OutputsGoToThePlansFolderInThePlansFormatsAsTheyAreThen) {
    ScratchDir out;
    plan.directory = out.path().string();
    recorder.on_between = [&] { plan.formats = {&test_picture_output, &vram_output}; };
    const Names files = {put("a.bmp"), put("b.bmp", 24)};
    EXPECT_EQ(summary(run(files)), std::tuple(Status::ok, Status::ok, "", 2, 0, 0));
    EXPECT_TRUE(fs::exists(out / "a.S02") && !fs::exists(out / "TEST_a.bmp"));
    EXPECT_EQ(read_file(out / "b.S02"), converted(files[1]).vram);
    EXPECT_EQ(read_file(out / "TEST_b.bmp"), converted(files[1]).export_bmp);
    EXPECT_FALSE(exists("a.S02") || exists("b.S02") || exists("TEST_b.bmp"));
}

TEST_F(BatchTest, EmptyAndOverlongListsAreRefusedAndConvertNothing) {
    EXPECT_EQ(summary(run({})), std::tuple(Status::no_files, Status::ok, "", 0, 0, 0));
    Names many(file_list_capacity, "notes.txt");
    many[0] = put("a.bmp");
    EXPECT_EQ(summary(run(many)), std::tuple(Status::too_many_files, Status::ok, "", 0, 0, 0));
    EXPECT_TRUE(recorder.events.empty() && !exists("a.S02"));
    many.pop_back();  // one name fewer is a list the batch takes
    EXPECT_EQ(summary(run(many)),
              std::tuple(Status::ok, Status::ok, "", 1, 0, int{file_list_capacity} - 2));
}

// Converting ahead on worker threads writes, reports and ends as the sequential run does, also
// where a picture is an output of an earlier one (which waits for its turn): TEST_x.bmp is
// replaced by x's export before its turn; link.bmp leads to y's export, which does not exist when
// the batch starts. Jobs are dealt round, so small pictures follow the 256 x 192 one on its
// worker. The 200-row picture is refused.
TEST_F(BatchTest, ParallelRunWritesAndReportsWhatTheSequentialRunDoes) {
    const Names names = {"x.bmp",  "TEST_x.bmp", "y.bmp",     "w.bmp",  "link.bmp", "big.bmp",
                         "s1.bmp", "s2.bmp",     "notes.txt", "s3.bmp", "tall.bmp", "s4.bmp"};
    const int sizes[][2] = {{16, 16}, {24, 24}, {16, 24}, {16, 16}, {},        {256, 192},
                            {16, 16}, {16, 16}, {16, 16}, {24, 16}, {16, 200}, {16, 16}};
    for (std::size_t i = 0; i < names.size(); ++i)
        if (sizes[i][0] > 0)
            put_noise(dir / names[i], sizes[i][0], sizes[i][1], static_cast<std::uint32_t>(i + 1));
    fs::create_symlink("TEST_y.bmp", dir / "link.bmp");
    settings = {.palette = 2, .hue = 2, .index_0 = 0};
    plan.formats.push_back(&test_picture_output);
    // Runs over a copy of the folder: the outcome, the reports, the folder's files afterwards.
    auto run_copy = [&](const Names& files, int workers, FailurePolicy policy) {
        ScratchDir copy;
        fs::copy(dir.path(), copy.path(),
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        Names paths;
        for (const std::string& name : files)
            paths.push_back((copy / name).string());
        Batch batch(paths, plan, policy);
        Recorder reports;
        SettingsConverter one(settings, palettes);
        const BatchOutcome o =
            workers == 0
                ? batch.run(one, reports, stop)
                : batch.run([&] { return std::make_unique<SettingsConverter>(settings, palettes); },
                            workers, reports, stop);
        std::map<std::string, Bytes> written;
        for (const auto& entry : fs::directory_iterator(copy.path()))
            written[entry.path().filename().string()] = read_file(entry.path());
        return std::tuple(o.status, fs::path(o.first_failure.file).filename(), o.converted,
                          o.failed, reports.events, written);
    };
    for (const FailurePolicy policy : {FailurePolicy::stop, FailurePolicy::keep_going}) {
        const bool keep_going = policy == FailurePolicy::keep_going;
        const auto sequential = run_copy(names, 0, policy);
        EXPECT_EQ(std::tuple(std::get<0>(sequential), std::get<1>(sequential).string(),
                             std::get<2>(sequential)),
                  std::tuple(Status::height_exceeds_192, "tall.bmp", keep_going ? 10 : 9));
        // What TEST_x.bmp held at the start would have given instead.
        EXPECT_NE(std::get<5>(sequential).at("TEST_x.S02"),
                  std::get<5>(run_copy({"TEST_x.bmp"}, 0, policy)).at("TEST_x.S02"));
        for (int workers : {2, 3})
            EXPECT_TRUE(run_copy(names, workers, policy) == sequential) << workers << keep_going;
    }
}
