// The scratch pool, whole-file input and output, and the palette configuration file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "io/file_io.hpp"
#include "io/messages.hpp"
#include "support/conversion_fixture.hpp"

using namespace lumaweave;
namespace fs = std::filesystem;

static std::vector<std::uint8_t> bytes_of(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(ReadWholeFile, ReadsIntoThePoolWithZeroedExtraBytesOrGivesItsMessage) {
    test::ScratchDir dir;
    ScratchPool pool;
    test::write_file(dir / "f", {1, 2, 3, 4, 5});
    std::memset(pool.alloc(5 + 64), 0xAA, 5 + 64);  // bytes the read's block may reuse
    pool.free_all();
    const FileContents f = read_whole_file(pool, (dir / "f").string(), 64);
    ASSERT_EQ(f.message, "");
    EXPECT_EQ(f.length, 5u);
    EXPECT_EQ(std::vector(f.data, f.data + 5 + 64), bytes_of("\1\2\3\4\5" + std::string(64, 0)));

    auto message = [&](const fs::path& p) { return read_whole_file(pool, p.string(), 0).message; };
    EXPECT_EQ(message(dir / "absent.bmp"), "file not found : ファイルが見つかりません");
    EXPECT_EQ(message(dir.path()), "file cannot open : ファイルをオープンできません");
    // An empty file read with no extra bytes asks the pool for nothing, which empties it.
    test::write_file(dir / "empty.bmp", {});
    EXPECT_EQ(message(dir / "empty.bmp"), "memory error : メモリを確保できませんでした");
    EXPECT_EQ(pool.count(), 0);
    if (::geteuid() != 0) {  // permissions do not bind the superuser
        fs::permissions(dir / "f", fs::perms::none);
        EXPECT_EQ(message(dir / "f"), msg::file_cannot_open);
    }
    for (int i = 0; i < ScratchPool::capacity; ++i)
        ASSERT_NE(pool.alloc(8), nullptr);
    EXPECT_EQ(pool.alloc(8), nullptr);  // a full pool refuses rather than write past its table
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
        EXPECT_EQ(f.message, "読込エラー");
        EXPECT_EQ(std::vector(f.data + f.length, f.data + f.length + 16),
                  bytes_of(std::string(16, 0)));
        EXPECT_EQ(convert_file(*make_conversion(), pool, path, {}, {}), "読込エラー");
        return;
    }
    GTEST_SKIP() << "no file here is shorter than its announced length";
}

// A refusal, even part-way, leaves what was there, and no temporary file beside it.
TEST(WriteWholeFile, ReplacesAFileEntirelyOrKeepsIt) {
    test::ScratchDir dir;
    const std::vector<std::uint8_t> big(1000, 'N'), old{1, 2, 3};
    auto write = [&](const fs::path& p, const std::vector<std::uint8_t>& bytes) {
        return write_whole_file(p.string(), bytes.data(), bytes.size());
    };
    ASSERT_EQ(write(dir / "keep.S02", big), "");
    ASSERT_EQ(write(dir / "keep.S02", old), "");
    EXPECT_EQ(test::read_file(dir / "keep.S02"), old);
    fs::create_directory(dir / "folder.S02");
    EXPECT_EQ(write(dir / "folder.S02", big),
              "could not create file : ファイルを作成できませんでした");
    EXPECT_TRUE(fs::is_empty(dir / "folder.S02"));
    EXPECT_EQ(write(dir / "missing" / "out.S02", big), msg::could_not_create);
    EXPECT_EQ(write(dir / "keep.S02" / "out.S02", big), msg::could_not_create);
    rlimit saved{};  // a write that fails part-way, at the process's file size limit
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 64;
    auto* previous_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string message = write(dir / "keep.S02", big);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous_handler);
    EXPECT_EQ(message, msg::could_not_create);
    if (::geteuid() != 0) {  // permissions do not bind the superuser
        fs::permissions(dir / "keep.S02", fs::perms::owner_read);
        EXPECT_EQ(write(dir / "keep.S02", big), msg::could_not_create);
    }
    EXPECT_EQ(test::read_file(dir / "keep.S02"), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

// Any non-digit separates numbers, "-" and the key's digit too; "*" or the end ends the list,
// but a "*" ending a number goes with it; numbers saturate; the first exact key counts. Each
// text fills its buffer exactly, so the sanitizers catch a read past it.
TEST(ConfigNumbers, ReadingRules) {
    const std::tuple<std::string, int, std::vector<std::int32_t>> cases[] = {
        {"* MSX1 palette:3;5;3 3 5 3 R3 G5 B3\n", 2, {3, 5, 3, 3, 5, 3, 3, 5, 3}},
        {"* MSX1 palette -3 -0 12", 2, {3, 0, 12}},
        {"* MSX1 palette 1 2\n* MSX2 palette 3", 1, {1, 2, -5}},
        {"* MSX1 palette 7*8", 2, {7, 8}},
        {"* MSX1 palette 1 2", 1, {1, 2, -5}},
        {"* MSX1 palette 1 2 3 4", 2, {1, 2}},
        {"* msx1 palette 1 2 3", 0, {-5}},
        {"*MSX1 palette 1 2 3", 0, {-5}},
        {"xx* MSX1 palett", 0, {-5}},
        {"* MSX1 pal 9 * MSX1 palette 4", 2, {4}},
        {"* MSX1 palette 99999999999999999999 4294967299 2147483648 2147483647",
         2,
         {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX}}};
    for (const auto& [text, result, expected] : cases) {
        const std::vector<std::uint8_t> bytes = bytes_of(text);
        std::vector<std::int32_t> values(expected.size(), -5);  // -5: left untouched
        const int got = read_config_numbers(bytes.data(), bytes.size(), msx1_palette_key,
                                            values.data(), static_cast<int>(values.size()));
        EXPECT_EQ(got, result) << text;
        EXPECT_EQ(values, expected) << text;
    }
}

// The MSX2 item is only read after a complete MSX1 item.
TEST(PaletteConfig, ReplacesTheTablesOrReportsTheFirstIncompleteItem) {
    const std::string not_found = "設定項目が見付かりません : configuration item not found : ";
    const std::string not_enough = "設定数が不足しています : not enough settings : ";
    const std::string k1 = "* MSX1 palette", k2 = "* MSX2 palette";
    auto nums = [](int count, int first) {
        std::string text;
        for (int i = 0; i < count; ++i)
            text += std::to_string((first + i) % 8) + ",";
        return text;
    };
    const DefaultPalettes built_in;
    const int m1_0 = built_in.msx1[0], m1_47 = built_in.msx1[47], m2_0 = built_in.msx2[0];
    // Text ("none": no file), message, the first and last MSX1 and the first MSX2 value after.
    const std::tuple<std::string, std::string, std::array<int, 3>> cases[] = {
        {"none", "", {m1_0, m1_47, m2_0}},
        {"", not_found + k1, {m1_0, m1_47, m2_0}},
        {"c\r\n" + k2 + "\r\n" + nums(48, 1) + "\r\n" + k1 + "\r\n" + nums(48, 3), "", {3, 2, 1}},
        {k1 + nums(48, 2), not_found + k2, {2, 1, m2_0}},
        {k1 + nums(47, 2) + k2 + nums(48, 4), not_enough + k1, {2, m1_47, m2_0}}};
    test::ScratchDir dir;
    for (const auto& [text, message, after] : cases) {
        fs::remove(dir / "c.txt");
        if (text != "none") test::write_file(dir / "c.txt", bytes_of(text));
        ScratchPool pool;
        DefaultPalettes p;
        EXPECT_EQ(load_palette_config(pool, p, (dir / "c.txt").string()), message);
        EXPECT_EQ((std::array{p.msx1[0], p.msx1[47], p.msx2[0]}), after) << message;
        EXPECT_TRUE(after[2] != m2_0 || p.msx2 == built_in.msx2) << message;
    }
}
