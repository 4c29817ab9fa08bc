// The batch driver: names, outcomes, stop requests, progress, the "TEST_" export and drops.
#include <gtest/gtest.h>

#include "formats/bmp.hpp"
#include "support/batch_host.hpp"

using namespace lumaweave;
using namespace lumaweave::test;
using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;
using Ints = std::vector<int>;

namespace {

class BatchTest : public ::testing::Test {
  protected:
    std::string put(const std::string& n, int w = 16) { return put_noise(dir / n, w); }
    bool exists(const std::string& name) const { return std::filesystem::exists(dir / name); }
    // Runs the batch, which must end with `message`, shown once, and leave no state behind.
    void run(const std::string& message) {
        host.messages.clear(), host.started.clear(), host.progress.clear();
        EXPECT_EQ(batch.run_batch(host), message);
        EXPECT_EQ(host.messages, Names{message});
        EXPECT_EQ(std::tuple(batch.scratch().count(), batch.progress_percent(), batch.busy()),
                  std::tuple(0, 0, false));
    }

    ScratchDir dir;
    ConversionSettings settings;
    DefaultPalettes palettes;
    Batch batch{settings, palettes};
    RecordingHost host{batch};
};

}  // namespace

TEST(OutputNames, BmpTestAndTheNamesOfTheOutputs) {
    for (const char* name : {"a.bMp", "x.bmp \t\r\n", ".bmp"})
        EXPECT_TRUE(is_bmp_name(name)) << name;
    for (const char* name : {"bmp", "a.bmpx", "a. bmp", "a_bmp"})
        EXPECT_FALSE(is_bmp_name(name)) << name;
    EXPECT_EQ(export_name("cat.BMP"), "TEST_cat.bmp");
    EXPECT_EQ(export_name("/home/u/cat.BMP"), "/home/u/TEST_cat.bmp");
    EXPECT_EQ(export_name("a\\b/c.bmp"), "a\\b/TEST_c.bmp");
    EXPECT_EQ(export_name("a/b\\c.bmp"), "a/b\\TEST_c.bmp");
}

TEST_F(BatchTest, ConvertsBmpNamesInAnyCaseSkipsOthersAndEndsAtTheFirstFailure) {
    write_file(dir / "f.S02", {1, 2, 3});  // an earlier output beyond the failure
    batch.on_drop_files(host, {put("a.BMP"), put("b.txt"), put("c.bmp"), put("d.bmp "),
                               put("narrow.bmp", 12), put("f.bmp")});
    host.on_events = [&] { settings.palette = 2; };  // reaches the files not yet converted
    run(msg::width_not_multiple_of_8);
    EXPECT_EQ(host.started, (Ints{0, 2, 3, 4}));
    EXPECT_EQ(host.progress, (Ints{0, 33, 50, 66}));  // skipped names count as passed
    EXPECT_EQ(read_file(dir / "d..S02"), converted_vram(dir / "d.bmp ", settings));
    EXPECT_EQ(read_file(dir / "a.S02"), converted_vram(dir / "a.BMP"));
    EXPECT_EQ(read_file(dir / "f.S02"), (Bytes{1, 2, 3}));
    EXPECT_FALSE(exists("b.S02") || exists("narrow.S02") || exists("TEST_a.bmp"));
}

TEST_F(BatchTest, StopRequestEndsTheBatchBeforeTheNextFileAndIsNotKept) {
    batch.on_drop_files(host, {put("a.bmp"), put("b.bmp"), put("c.bmp")});
    host.on_events = [&] { batch.request_stop(); };
    run(msg::stopped);
    EXPECT_EQ(host.started, Ints{0});
    EXPECT_TRUE(exists("a.S02") && !exists("b.S02"));
    // One while idle is ignored; one after the last file is neither seen nor kept.
    batch.request_stop();
    host.on_events = [&] {
        if (host.started.size() == 3) batch.request_stop();
    };
    run(msg::ended);
    run(msg::ended);
    EXPECT_EQ(host.started, (Ints{0, 1, 2}));
    EXPECT_EQ(host.progress, (Ints{0, 33, 66}));
}

TEST_F(BatchTest, ExportIsAStandardDoubleSizeBmpOfThePreview) {
    settings.mix = settings.block_noise = 0;  // quicker; the export does not depend on them
    host.export_on = true;
    // 24 x 20: the batch converts 16 of the 20 rows, shown 48 x 32.
    for (auto [w, h] : {std::pair{24, 20}, {16, 16}, {256, 192}}) {
        const int ew = 2 * w, eh = 2 * (h - h % 8), row = 3 * ew;
        Bytes source = make_noise_bmp(w, h, 2);
        // Fields a standard header does not copy, and the resolution (38, 42), which it keeps.
        for (int at : {2, 6, 34, 38, 42, 46, 50})
            bmp::put_i32(&source[at], 1000 + at);
        bmp::put_i32(&source[14], 108);
        bmp::put_u16(&source[26], 0);
        write_file(dir / "s.bmp", source);
        batch.on_drop_files(host, {(dir / "s.bmp").string()});
        run(msg::ended);
        // A standard header, then the preview's rows bottom-up.
        Bytes expected = make_flat_bmp(ew, eh, {});
        for (int at : {38, 42})
            bmp::put_i32(&expected[at], 1000 + at);
        for (int j = 0; j < eh; ++j)
            std::copy_n(batch.conversion().preview.begin() + 54 + (eh - 1 - j) * preview_row_bytes,
                        row, expected.begin() + 54 + j * row);
        EXPECT_TRUE(read_file(dir / "TEST_s.bmp") == expected) << w << " x " << h;
    }
}

TEST_F(BatchTest, DropOf100000NamesIsRefusedAndLeavesNothingToConvert) {
    const Names many(file_list_capacity, put("a.bmp"));
    batch.on_drop_files(host, {many[0]});
    batch.on_drop_files(host, many);
    EXPECT_EQ(host.messages, Names{msg::too_many_files});
    EXPECT_EQ(batch.file_count(), 0);
    run(msg::select_a_file);
    EXPECT_FALSE(exists("a.S02"));
    host.preview_on = false;  // one name fewer is listed
    batch.on_drop_files(host, {many.begin() + 1, many.end()});
    EXPECT_EQ(batch.file_count(), file_list_capacity - 1);
}
