// Statuses and their texts, the scratch pool, whole-file input and output, and the palette
// configuration file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <set>

#include "io/config.hpp"
#include "io/file_io.hpp"
#include "support/test_pictures.hpp"

using namespace lumaweave;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::tuple<Status, std::string, std::string> parts(const Outcome& o) {
    return {o.status, o.file, o.detail};
}

const bool superuser = ::geteuid() == 0;  // permissions do not bind the superuser

}  // namespace

// Every status has a text of its own; only the configuration's name their key after it, and the
// pictures that cannot be read what is wrong.
TEST(Status, EveryStatusHasItsOwnTextAndTheConfigurationsAppendTheirKey) {
    std::set<std::string_view> texts;
    for (int i = 0; i <= static_cast<int>(Status::picture_too_large); ++i) {
        const auto status = static_cast<Status>(i);
        const std::string_view text = message_text(status);
        EXPECT_FALSE(text.empty()) << i;
        EXPECT_TRUE(texts.insert(text).second) << i << " repeats " << text;
        const bool config =
            status == Status::config_item_not_found || status == Status::config_not_enough;
        const bool picture =
            status == Status::picture_unreadable || status == Status::picture_too_large;
        EXPECT_EQ(shown_text(failure(status, "f.txt", "* MSX2 palette")),
                  std::string(text) + (config ? "* MSX2 palette" : "") +
                      (picture ? ": * MSX2 palette" : ""))
            << i;
    }
    EXPECT_EQ(shown_text(failure(Status::config_not_enough, "c.txt", "* MSX1 palette")),
              "設定数が不足しています : not enough settings : * MSX1 palette");
    EXPECT_EQ(message_text(Status::ok), "ended : 終了しました");
}

// A read names the file and, where the system gives one, its reason; a named pipe is refused, not
// waited on. A full pool refuses rather than write past its table.
TEST(ReadWholeFile, ReadsIntoThePoolWithZeroedExtraBytesOrNamesTheFileAndTheReason) {
    test::ScratchDir dir;
    ScratchPool pool;
    test::write_file(dir / "f", {1, 2, 3, 4, 5});
    std::memset(pool.alloc(5 + 64), 0xAA, 5 + 64);  // bytes the read's block may reuse
    pool.free_all();
    const FileContents f = read_whole_file(pool, (dir / "f").string(), 64);
    ASSERT_TRUE(f.outcome.ok());
    Bytes expected(5 + 64, 0);
    std::iota(expected.begin(), expected.begin() + 5, 1);
    EXPECT_EQ(Bytes(f.data, f.data + 5 + 64), expected);
    EXPECT_EQ(f.length, 5u);
    // An empty file reads as a distinct empty block; the pool keeps its other blocks.
    test::write_file(dir / "empty.bmp", {});
    const FileContents empty = read_whole_file(pool, (dir / "empty.bmp").string(), 0);
    EXPECT_TRUE(empty.outcome.ok() && empty.length == 0 && empty.data != nullptr);
    EXPECT_TRUE(empty.data != f.data && pool.count() == 2);

    ASSERT_EQ(::mkfifo((dir / "pipe.bmp").c_str(), 0644), 0);
    if (!superuser) fs::permissions(dir / "f", fs::perms::none);
    const std::tuple<fs::path, Status, std::string> cases[] = {
        {dir / "absent.bmp", Status::file_not_found, "No such file or directory"},
        {dir.path(), Status::file_cannot_open, "Is a directory"},
        {dir / "pipe.bmp", Status::file_cannot_open, ""},
        {dir / "f" / "x.bmp", Status::file_cannot_open, "Not a directory"},
        {dir / "f", superuser ? Status::ok : Status::file_cannot_open,
         superuser ? "" : "Permission denied"}};
    for (const auto& [path, status, reason] : cases) {
        const Outcome o = read_whole_file(pool, path.string(), 0).outcome;
        const std::string file = status == Status::ok ? "" : path.string();
        EXPECT_EQ(parts(o), std::tuple(status, file, reason)) << path;
    }
    pool.free_all();
    for (int i = 0; i < ScratchPool::capacity; ++i)
        ASSERT_NE(pool.alloc(i % 2 ? 8 : 0), nullptr);
    EXPECT_EQ(pool.alloc(8), nullptr);
    EXPECT_EQ(pool.count(), ScratchPool::capacity);
}

// Kernel attribute files announce a page but deliver only their text: the read falls short.
TEST(ReadWholeFile, ShortReadIsAReadErrorThatTheConversionPassesOn) {
    for (const char* path : {"/sys/kernel/profiling", "/sys/power/state",
                             "/sys/kernel/mm/transparent_hugepage/enabled"}) {
        std::error_code ec;
        const auto size = fs::file_size(path, ec);
        if (ec || size == 0 || test::read_file(path).size() >= size) continue;
        ScratchPool pool;
        const FileContents f = read_whole_file(pool, path, 16);
        EXPECT_EQ(parts(f.outcome), std::tuple(Status::read_error, path, ""));
        EXPECT_EQ(Bytes(f.data + f.length, f.data + f.length + 16), Bytes(16, 0));
        EXPECT_EQ(parts(Converter().convert_file(path).outcome),
                  std::tuple(Status::read_error, path, ""));
        return;
    }
    GTEST_SKIP() << "no file here is shorter than its announced length";
}

// A refusal, even part-way, leaves what was there, and no temporary file beside it; it names the
// file and the system's reason.
TEST(WriteWholeFile, ReplacesAFileEntirelyOrKeepsIt) {
    test::ScratchDir dir;
    const Bytes big(1000, 'N'), old{1, 2, 3};
    const std::string keep = (dir / "keep.S02").string();
    ASSERT_TRUE(write_whole_file(keep, big).ok() && write_whole_file(keep, old).ok());
    EXPECT_EQ(test::read_file(keep), old);
    auto reason = [&](const fs::path& p) {  // of a refusal
        const Outcome o = write_whole_file(p.string(), big);
        EXPECT_EQ(std::pair(o.status, o.file), std::pair(Status::could_not_create, p.string()));
        return o.detail;
    };
    fs::create_directory(dir / "folder.S02");
    EXPECT_EQ(reason(dir / "folder.S02"), "Is a directory");
    EXPECT_TRUE(fs::is_empty(dir / "folder.S02"));
    EXPECT_EQ(reason(dir / "missing" / "out.S02"), "No such file or directory");
    EXPECT_EQ(reason(dir / "keep.S02" / "out.S02"), "Not a directory");
    rlimit saved{};  // a write that fails part-way, at the process's file size limit
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 64;
    auto* previous_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string part_way = reason(keep);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous_handler);
    EXPECT_EQ(part_way, "File too large");
    if (!superuser) {
        fs::permissions(keep, fs::perms::owner_read);
        EXPECT_EQ(reason(keep), "Permission denied");
    }
    EXPECT_EQ(test::read_file(keep), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

// Any non-digit separates numbers, "-" and the key's digit too; "*" or the end ends the list,
// but a "*" ending a number goes with it; numbers saturate; the first exact key counts. Each
// text fills its buffer exactly, so the sanitizers catch a read past it. (More texts: the fuzz
// seeds, read by a plain reading of the same rules.)
TEST(ConfigNumbers, ReadingRules) {
    constexpr auto missing = ConfigRead::key_missing, too_few = ConfigRead::too_few,
                   complete = ConfigRead::complete;
    const std::tuple<std::string, ConfigRead, std::vector<std::int32_t>> cases[] = {
        {"* MSX1 palette:3;5;3 3 5 3 R3 G5 B3\n", complete, {3, 5, 3, 3, 5, 3, 3, 5, 3}},
        {"* MSX1 palette -3 -0 12", complete, {3, 0, 12}},
        {"* MSX1 palette 1 2\n* MSX2 palette 3", too_few, {1, 2, -5}},
        {"* MSX1 palette 7*8", complete, {7, 8}},
        {"*MSX1 palette 1 2 3", missing, {-5}},
        {"xx* MSX1 palett", missing, {-5}},
        {"* MSX1 pal 9 * MSX1 palette 4", complete, {4}},
        {"* MSX1 palette 99999999999999999999 4294967299 2147483648 2147483647",
         complete,
         {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX}}};
    for (const auto& [text, result, expected] : cases) {
        const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[text.size()]);
        std::memcpy(exact.get(), text.data(), text.size());
        std::vector<std::int32_t> values(expected.size(), -5);  // -5: left untouched
        EXPECT_EQ(read_config_numbers(exact.get(), text.size(), msx1_palette_key, values.data(),
                                      static_cast<int>(values.size())),
                  result)
            << text;
        EXPECT_EQ(values, expected) << text;
    }
}

// A missing or unreadable configuration keeps the built-in tables without a word; an empty one
// lacks the first key. (What a file with text gives is checked on every seed of the fuzz target.)
TEST(PaletteConfig, AMissingFileKeepsTheBuiltInTablesAnEmptyOneLacksTheFirstKey) {
    test::ScratchDir dir;
    fs::create_directory(dir / "folder.txt");
    test::write_file(dir / "empty.txt", {});
    for (const char* name : {"absent.txt", "folder.txt", "empty.txt"}) {
        ScratchPool pool;
        DefaultPalettes p;
        p.msx1[0] = 9;
        const std::string path = (dir / name).string();
        const Outcome want = name[0] != 'e'
                                 ? Outcome{}
                                 : failure(Status::config_item_not_found, path, msx1_palette_key);
        EXPECT_EQ(parts(load_palette_config(pool, p, path)), parts(want)) << name;
        EXPECT_TRUE(p.msx1[0] == 9 && p.msx2 == DefaultPalettes{}.msx2) << name;
    }
}
