// The batch driver through a recording host: file list, outcomes, skipping, stop protocol,
// progress, output naming and the "TEST_" export.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "batch/batch.hpp"
#include "batch/output.hpp"
#include "convert/convert.hpp"
#include "formats/bmp.hpp"
#include "io/messages.hpp"
#include "support/batch_host.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
namespace fs = std::filesystem;

namespace {

test::Color pattern(int x, int y) {
    return {static_cast<std::uint8_t>(x * 9 + y * 2), static_cast<std::uint8_t>(y * 13 + x / 3 * 7),
            static_cast<std::uint8_t>((x * y) & 0xFF)};
}

std::vector<std::uint8_t> picture(int width, int height) {
    return test::make_bmp(width, height, pattern);
}

class BatchTest : public ::testing::Test {
  protected:
    std::string put(const std::string& name, int width = 16, int height = 16) {
        test::write_file(dir / name, picture(width, height));
        return (dir / name).string();
    }
    std::string at(const std::string& name) const { return (dir / name).string(); }
    bool exists(const std::string& name) const { return fs::exists(dir / name); }

    // What converting `path` alone with the batch's settings writes as its ".S02".
    std::vector<std::uint8_t> expected_vram(const std::string& path) {
        auto conv = make_conversion();
        ScratchPool pool;
        EXPECT_EQ(convert_file(*conv, pool, path, settings, palettes), "");
        return {conv->vram.begin(), conv->vram.end()};
    }

    test::ScratchDir dir;
    ConversionSettings settings;
    DefaultPalettes palettes;
    Batch batch{settings, palettes};
    test::RecordingHost host{batch};
};

}  // namespace

TEST(OutputNames, BmpTestIgnoresLetterCaseAndTrailingWhiteSpace) {
    for (const char* name : {"a.bmp", "a.BMP", "a.bMp", "x.bmp \t\r\n", ".bmp", "dir/p.bmp "}) {
        EXPECT_TRUE(is_bmp_name(name)) << '"' << name << '"';
    }
    for (const char* name :
         {"", "bmp", "a.bm", "a.bmpx", "a.bmp.txt", "a. bmp", "a.png", "a_bmp", " .bm p"}) {
        EXPECT_FALSE(is_bmp_name(name)) << '"' << name << '"';
    }
}

TEST(OutputNames, LastFourCharactersAreReplacedAndTestGoesBeforeTheFileName) {
    EXPECT_EQ(vram_name("a.BMP"), "a.S02");
    EXPECT_EQ(vram_name("/pics/cat.bmp"), "/pics/cat.S02");
    // The stored name, not the trimmed one, loses its last four characters.
    EXPECT_EQ(vram_name("d.bmp "), "d..S02");

    EXPECT_EQ(export_name("p.bmp"), "TEST_p.bmp");
    EXPECT_EQ(export_name("C:\\pics\\cat.bmp"), "C:\\pics\\TEST_cat.bmp");
    EXPECT_EQ(export_name("/home/u/pics/cat.BMP"), "/home/u/pics/TEST_cat.bmp");
    EXPECT_EQ(export_name("a\\b/c.bmp"), "a\\b/TEST_c.bmp");
    EXPECT_EQ(export_name("a/b\\c.bmp"), "a/b\\TEST_c.bmp");
    EXPECT_EQ(export_name("dir.v2/pic.bmp"), "dir.v2/TEST_pic.bmp");
}

TEST_F(BatchTest, ConversionWithoutAnyDropAsksForAFile) {
    EXPECT_EQ(batch.run_batch(host), msg::select_a_file);
    EXPECT_EQ(host.messages, std::vector<std::string>{msg::select_a_file});
    EXPECT_FALSE(batch.busy());
}

TEST_F(BatchTest, ConvertsBmpNamesInAnyCaseAndSkipsOthersSilently) {
    const std::vector<std::string> names = {put("a.BMP"), at("b.txt"), put("c.bmp"), put("d.bmp ")};
    test::write_file(dir / "b.txt", picture(16, 16));
    batch.on_drop_files(host, names);
    EXPECT_EQ(host.list, names);
    EXPECT_EQ(batch.file_count(), 4);

    EXPECT_EQ(batch.run_batch(host), msg::ended);
    EXPECT_EQ(host.messages, std::vector<std::string>{msg::ended});
    EXPECT_EQ(host.started, (std::vector<int>{0, 2, 3}));
    // Skipped names do not process events.
    EXPECT_EQ(host.event_rounds, 3);
    EXPECT_EQ(test::read_file(dir / "a.S02"), expected_vram(at("a.BMP")));
    EXPECT_EQ(test::read_file(dir / "c.S02"), expected_vram(at("c.bmp")));
    EXPECT_EQ(test::read_file(dir / "d..S02"), expected_vram(at("d.bmp ")));
    EXPECT_FALSE(exists("b.S02"));
    EXPECT_FALSE(exists("TEST_a.bmp"));  // "BMP Export" is "No"
    EXPECT_EQ(batch.scratch().count(), 0);
    EXPECT_EQ(batch.progress_percent(), 0);
    EXPECT_FALSE(batch.busy());
}

TEST_F(BatchTest, ListWithoutBmpNamesEndsAndWritesNothing) {
    test::write_file(dir / "x.txt", picture(16, 16));
    batch.on_drop_files(host, {at("x.txt"), at("y.png"), at("z.bmpx")});
    EXPECT_EQ(batch.run_batch(host), msg::ended);
    EXPECT_TRUE(host.started.empty());
    EXPECT_EQ(host.event_rounds, 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST_F(BatchTest, ProgressCountsTheFilesAlreadyPassed) {
    batch.on_drop_files(host, {put("a.bmp"), put("b.bmp"), put("c.bmp")});
    batch.run_batch(host);
    EXPECT_EQ(host.progress, (std::vector<int>{0, 33, 66}));
    EXPECT_EQ(batch.progress_percent(), 0);

    // Skipped names count as passed files too.
    test::RecordingHost second(batch);
    batch.on_drop_files(second, {at("x.txt"), at("y.txt"), at("z.txt"), put("d.bmp")});
    batch.run_batch(second);
    EXPECT_EQ(second.progress, std::vector<int>{75});
}

TEST_F(BatchTest, StopRequestEndsTheBatchBeforeTheNextFile) {
    batch.on_drop_files(host, {put("a.bmp"), put("b.bmp"), put("c.bmp")});
    host.on_events = [&](int round) {
        if (round == 1) batch.request_stop();
    };
    EXPECT_EQ(batch.run_batch(host), msg::stopped);
    EXPECT_EQ(host.messages, std::vector<std::string>{msg::stopped});
    EXPECT_EQ(host.started, std::vector<int>{0});
    EXPECT_TRUE(exists("a.S02"));
    EXPECT_FALSE(exists("b.S02"));
    EXPECT_FALSE(exists("c.S02"));
    EXPECT_EQ(batch.progress_percent(), 0);
    EXPECT_EQ(batch.scratch().count(), 0);
    EXPECT_FALSE(batch.busy());

    // The request was used up: the next batch runs to its end.
    host.on_events = nullptr;
    EXPECT_EQ(batch.run_batch(host), msg::ended);
    EXPECT_TRUE(exists("c.S02"));
}

TEST_F(BatchTest, StopRequestAfterTheLastFileIsNotSeenAndNotKept) {
    batch.on_drop_files(host, {put("a.bmp"), put("b.bmp")});
    host.on_events = [&](int round) {
        if (round == 2) batch.request_stop();
    };
    EXPECT_EQ(batch.run_batch(host), msg::ended);
    EXPECT_TRUE(exists("b.S02"));

    // A later batch does not stop because of it.
    host.on_events = nullptr;
    host.started.clear();
    EXPECT_EQ(batch.run_batch(host), msg::ended);
    EXPECT_EQ(host.started, (std::vector<int>{0, 1}));
}

TEST_F(BatchTest, StopRequestWhileIdleIsIgnored) {
    batch.on_drop_files(host, {put("a.bmp"), put("b.bmp")});
    batch.request_stop();
    EXPECT_EQ(batch.run_batch(host), msg::ended);
    EXPECT_EQ(host.started, (std::vector<int>{0, 1}));
}

TEST_F(BatchTest, DropsAndConversionClicksDuringABatchAreIgnored) {
    batch.on_drop_files(host, {put("a.bmp"), put("b.bmp")});
    std::string nested = "not called";
    host.on_events = [&](int round) {
        if (round != 1) return;
        batch.on_drop_files(host, {put("other.bmp")});
        nested = batch.run_batch(host);
    };
    EXPECT_EQ(batch.run_batch(host), msg::ended);
    EXPECT_EQ(nested, "");
    EXPECT_EQ(host.messages, std::vector<std::string>{msg::ended});
    EXPECT_EQ(batch.file_count(), 2);
    EXPECT_EQ(host.list, (std::vector<std::string>{at("a.bmp"), at("b.bmp")}));
    EXPECT_FALSE(exists("other.S02"));
}

TEST_F(BatchTest, FirstFailingFileEndsTheBatchWithItsMessage) {
    fs::create_directory(dir / "folder.bmp");
    test::write_file(dir / "narrow.bmp", picture(12, 16));
    const struct {
        std::string name;
        const char* message;
    } cases[] = {{"missing.bmp", msg::file_not_found},
                 {"narrow.bmp", msg::width_not_multiple_of_8},
                 {"folder.bmp", msg::file_cannot_open}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(dir / "a.S02");
        // An output from an earlier run beyond the failure stays as it was.
        test::write_file(dir / "c.S02", {1, 2, 3});
        test::RecordingHost h(batch);
        batch.on_drop_files(h, {put("a.bmp"), at(c.name), put("c.bmp")});
        EXPECT_EQ(batch.run_batch(h), c.message);
        EXPECT_EQ(h.messages, std::vector<std::string>{c.message});
        EXPECT_EQ(h.started, (std::vector<int>{0, 1}));
        EXPECT_EQ(h.event_rounds, 1);
        EXPECT_TRUE(exists("a.S02"));
        EXPECT_EQ(test::read_file(dir / "c.S02"), (std::vector<std::uint8_t>{1, 2, 3}));
        EXPECT_EQ(batch.scratch().count(), 0);
        EXPECT_FALSE(batch.busy());
    }
    EXPECT_EQ(test::read_file(dir / "narrow.bmp"), picture(12, 16));
}

TEST_F(BatchTest, OutputThatCannotBeCreatedEndsTheBatch) {
    // Folders in place of the outputs: refused whoever runs the test.
    fs::create_directory(dir / "b.S02");
    batch.on_drop_files(host, {put("a.bmp"), put("b.bmp"), put("c.bmp")});
    EXPECT_EQ(batch.run_batch(host), msg::could_not_create);
    EXPECT_TRUE(exists("a.S02"));
    EXPECT_FALSE(exists("c.S02"));

    // A failing export leaves the ".S02" written before it.
    fs::create_directory(dir / "TEST_e.bmp");
    test::RecordingHost h(batch);
    h.export_on = true;
    batch.on_drop_files(h, {put("d.bmp"), put("e.bmp"), put("f.bmp")});
    EXPECT_EQ(batch.run_batch(h), msg::could_not_create);
    EXPECT_TRUE(exists("TEST_d.bmp"));
    EXPECT_EQ(test::read_file(dir / "e.S02"), expected_vram(at("e.bmp")));
    EXPECT_FALSE(exists("f.S02"));
    EXPECT_EQ(h.messages, std::vector<std::string>{msg::could_not_create});
    // No temporary file is left beside the outputs.
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        EXPECT_EQ(entry.path().filename().string().find("tmp"), std::string::npos) << entry.path();
    }
}

TEST_F(BatchTest, ExportGoesBesideTheSourceWithAndWithoutAFolder) {
    host.export_on = true;
    fs::create_directory(dir / "sub.d");
    test::write_file(dir / "sub.d" / "p.bmp", picture(16, 16));
    batch.on_drop_files(host, {at("sub.d/p.bmp")});
    EXPECT_EQ(batch.run_batch(host), msg::ended);
    EXPECT_TRUE(exists("sub.d/TEST_p.bmp"));
    EXPECT_FALSE(exists("TEST_sub.d/p.bmp"));

    // A bare name: the export lands in the current folder.
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    put("q.bmp");
    test::RecordingHost h(batch);
    h.export_on = true;
    batch.on_drop_files(h, {"q.bmp"});
    const std::string message = batch.run_batch(h);
    fs::current_path(before);
    EXPECT_EQ(message, msg::ended);
    EXPECT_TRUE(exists("TEST_q.bmp"));
    EXPECT_TRUE(exists("q.S02"));
}

namespace {

void expect_standard_header(const std::vector<std::uint8_t>& f, std::int32_t w, std::int32_t h) {
    const std::int32_t row = (w * 3 + 3) & ~3;
    const std::int32_t pixel_bytes = h * row;
    ASSERT_EQ(f.size(), 54u + static_cast<std::size_t>(pixel_bytes));
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    EXPECT_EQ(bmp::get_i32(&f[2]), 54 + pixel_bytes);
    EXPECT_EQ(bmp::get_i32(&f[6]), 0);
    EXPECT_EQ(bmp::get_i32(&f[10]), 54);
    EXPECT_EQ(bmp::get_i32(&f[14]), 40);
    EXPECT_EQ(bmp::get_i32(&f[18]), w);
    EXPECT_EQ(bmp::get_i32(&f[22]), h);
    EXPECT_EQ(bmp::get_u16(&f[26]), 1);
    EXPECT_EQ(bmp::get_u16(&f[28]), 24);
    EXPECT_EQ(bmp::get_i32(&f[30]), 0);
    EXPECT_EQ(bmp::get_i32(&f[34]), pixel_bytes);
    EXPECT_EQ(bmp::get_i32(&f[46]), 0);
    EXPECT_EQ(bmp::get_i32(&f[50]), 0);
}

}  // namespace

TEST_F(BatchTest, ExportIsAStandardDoubleSizeBmpOfThePreview) {
    // The cheaper fitting keeps the full-size case quick; the export does not depend on it.
    settings.mix = 0;
    settings.block_noise = 0;
    host.export_on = true;
    const struct {
        int width, height;  // source
        int export_width, export_height;
        std::size_t file_size;
    } cases[] = {{256, 192, 512, 384, 589878},
                 {16, 16, 32, 32, 54 + 32 * 96},
                 // The batch works on 16 of the 20 rows.
                 {24, 20, 48, 32, 54 + 32 * 144}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        std::vector<std::uint8_t> source = picture(c.width, c.height);
        // Header fields of the source that a standard header does not copy...
        bmp::put_i32(&source[2], 12345);
        bmp::put_i32(&source[6], 0x01020304);
        bmp::put_i32(&source[14], 108);
        bmp::put_u16(&source[26], 0);
        bmp::put_i32(&source[34], 0);
        bmp::put_i32(&source[46], 7);
        bmp::put_i32(&source[50], 3);
        // ...and the resolution, which it may keep.
        bmp::put_i32(&source[38], 2835);
        bmp::put_i32(&source[42], 1234);
        test::write_file(dir / "s.bmp", source);
        batch.on_drop_files(host, {at("s.bmp")});
        ASSERT_EQ(batch.run_batch(host), msg::ended);

        const std::vector<std::uint8_t> out = test::read_file(dir / "TEST_s.bmp");
        EXPECT_EQ(out.size(), c.file_size);
        expect_standard_header(out, c.export_width, c.export_height);
        EXPECT_EQ(bmp::get_i32(&out[38]), 2835);
        EXPECT_EQ(bmp::get_i32(&out[42]), 1234);
        // Rows bottom-up: the file's first row is the preview's last converted row.
        const std::size_t row = static_cast<std::size_t>(c.export_width) * 3;
        const std::uint8_t* preview = batch.conversion().preview.data() + 54;
        bool rows_match = out.size() == c.file_size;
        for (int j = 0; rows_match && j < c.export_height; ++j) {
            rows_match =
                std::equal(out.begin() + 54 + static_cast<std::ptrdiff_t>(j * row),
                           out.begin() + 54 + static_cast<std::ptrdiff_t>((j + 1) * row),
                           preview + static_cast<std::size_t>(c.export_height - 1 - j) * 1536);
        }
        EXPECT_TRUE(rows_match);
        EXPECT_EQ(test::read_file(dir / "s.bmp"), source);
    }
}

TEST_F(BatchTest, RefusedDropEmptiesTheListAndLeavesNothingToConvert) {
    batch.on_drop_files(host, {put("a.bmp")});
    ASSERT_EQ(batch.file_count(), 1);
    host.previews = 0;

    std::vector<std::string> many(file_list_capacity, at("a.bmp"));
    batch.on_drop_files(host, many);
    EXPECT_EQ(host.messages, std::vector<std::string>{msg::too_many_files});
    EXPECT_TRUE(host.list.empty());
    EXPECT_EQ(batch.file_count(), 0);
    EXPECT_EQ(host.previews, 0);
    EXPECT_EQ(batch.scratch().count(), 0);

    EXPECT_EQ(batch.run_batch(host), msg::select_a_file);
    EXPECT_FALSE(exists("a.S02"));

    // One name fewer is accepted.
    many.pop_back();
    test::RecordingHost h(batch);
    h.preview_on = false;
    batch.on_drop_files(h, many);
    EXPECT_EQ(batch.file_count(), file_list_capacity - 1);
    EXPECT_EQ(h.list.size(), many.size());
    EXPECT_TRUE(h.messages.empty());
}

TEST_F(BatchTest, LaterSmallerDropReplacesTheList) {
    batch.on_drop_files(host, {put("a.bmp"), put("b.bmp"), put("c.bmp")});
    batch.on_drop_files(host, {put("d.bmp")});
    EXPECT_EQ(host.list, std::vector<std::string>{at("d.bmp")});
    EXPECT_EQ(batch.file_count(), 1);
    EXPECT_EQ(batch.run_batch(host), msg::ended);
    EXPECT_EQ(host.started, std::vector<int>{0});
    EXPECT_TRUE(exists("d.S02"));
    EXPECT_FALSE(exists("a.S02"));
}

TEST_F(BatchTest, DropConvertsTheFirstFileForThePreview) {
    batch.on_drop_files(host, {put("a.bmp"), at("b.txt")});
    EXPECT_EQ(host.previews, 1);
    const auto& preview = batch.conversion().preview;
    EXPECT_NE(std::count(preview.begin(), preview.end(), 0), std::ptrdiff_t(preview.size()));
    EXPECT_EQ(batch.scratch().count(), 0);

    // A first file that cannot be converted gives a black preview and no message.
    batch.on_drop_files(host, {at("missing.bmp"), put("a.bmp")});
    EXPECT_EQ(host.previews, 2);
    EXPECT_EQ(std::count(preview.begin(), preview.end(), 0), std::ptrdiff_t(preview.size()));
    EXPECT_TRUE(host.messages.empty());

    // Without a preview nothing is converted on a drop.
    host.preview_on = false;
    batch.on_drop_files(host, {put("a.bmp")});
    EXPECT_EQ(host.previews, 2);
    EXPECT_EQ(std::count(preview.begin(), preview.end(), 0), std::ptrdiff_t(preview.size()));
}

TEST_F(BatchTest, OptionChangedBetweenFilesAppliesToTheFilesNotYetConverted) {
    batch.on_drop_files(host, {put("a.bmp"), put("b.bmp")});
    host.on_events = [&](int round) {
        if (round == 1) settings.palette = 2;
    };
    EXPECT_EQ(batch.run_batch(host), msg::ended);
    EXPECT_EQ(test::read_file(dir / "b.S02"), expected_vram(at("b.bmp")));
    settings.palette = 1;
    EXPECT_EQ(test::read_file(dir / "a.S02"), expected_vram(at("a.bmp")));
    settings.palette = 2;
    EXPECT_NE(test::read_file(dir / "a.S02"), expected_vram(at("a.bmp")));
}
